// S-records: 'S', a type digit, then hex digits for a byte count (of what follows), an address of 2, 3 or 4 bytes,
// the data and a checksum, the ones' complement of the low byte of the sum of count, address and data. S0 is a
// header, S1/S2/S3 carry data, S5/S6 count the data records before them, S7/S8/S9 end the file with a start
// address. A writer that knows no start address may end the file with its count record instead (srec_cat does):
// a count that matches, as the file's last record, closes it as surely as a termination record.
#include <array>
#include <optional>

#include "firmware_files/record_file.h"

namespace fwu::firmware_files {

namespace {

// Address bytes per record type, 0 for the reserved S4.
constexpr std::array<std::size_t, 10> kAddressBytes = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

bool IsData(int type) {
  return type >= 1 && type <= 3;
}

bool IsCount(int type) {
  return type == 5 || type == 6;
}

bool IsEnd(int type) {
  return type >= 7;
}

std::uint8_t Checksum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t b : bytes) {
    sum += b;
  }
  return static_cast<std::uint8_t>(~sum & 0xFFU);
}

std::string Record(int type, std::uint32_t address, std::span<const std::uint8_t> data) {
  const std::size_t addressBytes = kAddressBytes[static_cast<std::size_t>(type)];
  std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(addressBytes + data.size() + 1)};
  for (std::size_t i = addressBytes; i-- > 0;) {
    bytes.push_back(static_cast<std::uint8_t>((address >> (8U * i)) & 0xFFU));
  }
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.push_back(Checksum(bytes));
  const char start[] = {'S', static_cast<char>('0' + type), '\0'};
  return RecordLine(start, bytes);
}

}  // namespace

std::size_t ReadSRecord(const TextLines& text, ImageAssembler& image, FaultList& faults) {
  std::size_t dataRecords = 0;
  std::optional<std::size_t> endLine;
  std::size_t closingCount = 0;  // the line of a matching count record while no record follows it; 0 for none
  for (const TextLine& line : text.lines) {
    closingCount = 0;
    if (endLine) {
      faults.AtLine(line.number, "a record after the termination record of line " + std::to_string(*endLine));
      continue;
    }
    if (line.text.size() < 2 || line.text[0] != 'S' || line.text[1] < '0' || line.text[1] > '9') {
      faults.AtLine(line.number, "malformed line: an S-record starts with 'S' and a type digit");
      continue;
    }
    const int type = line.text[1] - '0';
    const std::size_t addressBytes = kAddressBytes[static_cast<std::size_t>(type)];
    if (addressBytes == 0) {
      faults.AtLine(line.number, "unknown record type S" + std::to_string(type));
      continue;
    }
    // Counted even when damaged, so that one bad data record is not reported again by the count record.
    if (IsData(type)) {
      ++dataRecords;
    }
    std::string fault;
    const auto bytes = DecodeHex(line.text.substr(2), fault);
    if (!bytes) {
      faults.AtLine(line.number, fault);
      continue;
    }
    if (bytes->empty()) {
      faults.AtLine(line.number, "truncated record: no byte count");
      continue;
    }
    const std::size_t count = (*bytes)[0];
    const std::span<const std::uint8_t> record(*bytes);
    if (!RecordIsSound(line.number, {"byte count", "bytes", count, record.size() - 1}, record,
                       Checksum(record.first(record.size() - 1)), faults)) {
      continue;
    }
    if (count < addressBytes + 1) {
      faults.AtLine(line.number, "malformed record: an S" + std::to_string(type) + " record has at least " +
                                     std::to_string(addressBytes + 1) + " bytes after its count, this one " +
                                     std::to_string(count));
      continue;
    }
    std::uint64_t address = 0;
    for (const std::uint8_t b : record.subspan(1, addressBytes)) {
      address = (address << 8U) | b;
    }
    const auto data = record.subspan(1 + addressBytes, count - addressBytes - 1);
    if ((IsCount(type) || IsEnd(type)) && !data.empty()) {
      faults.AtLine(line.number, "malformed record: an S" + std::to_string(type) + " record holds no data, this one " +
                                     std::to_string(data.size()) + " bytes");
      continue;
    }
    if (IsData(type)) {
      image.Data(line.number, address, data);
    } else if (IsCount(type) && address != dataRecords) {
      faults.AtLine(line.number, "the count record says " + std::to_string(address) + " data records, the file has " +
                                     std::to_string(dataRecords) + " before it");
    } else if (IsCount(type)) {
      closingCount = line.number;
    } else if (IsEnd(type)) {
      endLine = line.number;
    }
  }
  if (endLine) {
    return *endLine;
  }
  if (closingCount != 0) {
    return closingCount;
  }
  faults.AtLine(text.count,
                "the file ends without a termination record (S7, S8 or S9) or a matching count record (S5 or S6) as "
                "its last record: it may be cut short");
  return text.count;
}

std::string WriteSRecord(std::span<const std::uint8_t> image, std::uint32_t baseAddress) {
  // The narrowest address that reaches the image's last byte, and the termination record that goes with it.
  const std::uint64_t last = static_cast<std::uint64_t>(baseAddress) + image.size() - (image.empty() ? 0 : 1);
  const int dataType = last <= 0xFFFF ? 1 : last <= 0xFFFFFF ? 2 : 3;
  const int endType = 10 - dataType;
  std::string text = Record(0, 0, {});
  std::uint32_t records = 0;
  for (const DataRun& run : DataRuns(image, baseAddress)) {
    text += Record(dataType, run.address, run.bytes);
    ++records;
  }
  text += Record(records <= 0xFFFF ? 5 : 6, records, {});
  text += Record(endType, 0, {});
  return text;
}

}  // namespace fwu::firmware_files
