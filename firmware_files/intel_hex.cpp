// Intel HEX: ':' then hex digits for a length byte, a 16-bit address, a record type, the data and a checksum that
// makes all the record's bytes add up to 0 modulo 256. Types 02 and 04 set the upper part of the following data
// records' addresses (a segment base times 16, or the upper 16 bits); 01 ends the file.
#include <optional>

#include "firmware_files/record_file.h"

namespace fwu::firmware_files {

namespace {

constexpr std::uint8_t kData = 0x00;
constexpr std::uint8_t kEndOfFile = 0x01;
constexpr std::uint8_t kSegmentBase = 0x02;
constexpr std::uint8_t kSegmentStart = 0x03;
constexpr std::uint8_t kLinearBase = 0x04;
constexpr std::uint8_t kLinearStart = 0x05;

constexpr std::size_t kFrameBytes = 5;  // length, address (2), type, checksum
constexpr std::uint64_t kSegmentSize = 0x10000;

std::uint8_t Checksum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t b : bytes) {
    sum += b;
  }
  return static_cast<std::uint8_t>(0x100U - (sum & 0xFFU));
}

// The data bytes that a record of a type other than data must hold.
std::optional<std::size_t> FixedLength(std::uint8_t type) {
  switch (type) {
    case kEndOfFile:
      return 0;
    case kSegmentBase:
    case kLinearBase:
      return 2;
    case kSegmentStart:
    case kLinearStart:
      return 4;
    default:
      return std::nullopt;
  }
}

std::string Record(std::uint8_t type, std::uint16_t offset, std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8U),
                                     static_cast<std::uint8_t>(offset & 0xFFU), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.push_back(Checksum(bytes));
  return RecordLine(":", bytes);
}

}  // namespace

std::size_t ReadIntelHex(const TextLines& text, ImageAssembler& image, FaultList& faults) {
  std::uint64_t base = 0;
  bool segmented = false;  // a segment base wraps the offset at 64 KiB; a linear base does not
  std::optional<std::size_t> endLine;
  for (const TextLine& line : text.lines) {
    if (endLine) {
      faults.AtLine(line.number, "a record after the end-of-file record of line " + std::to_string(*endLine));
      continue;
    }
    if (line.text[0] != ':') {
      faults.AtLine(line.number, "malformed line: an Intel HEX record starts with ':'");
      continue;
    }
    std::string fault;
    const auto bytes = DecodeHex(line.text.substr(1), fault);
    if (!bytes) {
      faults.AtLine(line.number, fault);
      continue;
    }
    if (bytes->size() < kFrameBytes) {
      faults.AtLine(line.number, "truncated record: " + std::to_string(bytes->size()) +
                                     " bytes, where a record has at least " + std::to_string(kFrameBytes));
      continue;
    }
    const std::size_t length = (*bytes)[0];
    const std::span<const std::uint8_t> record(*bytes);
    if (!RecordIsSound(line.number, {"length byte", "data bytes", length, record.size() - kFrameBytes}, record,
                       Checksum(record.first(record.size() - 1)), faults)) {
      continue;
    }
    const std::uint8_t type = record[3];
    const std::uint64_t offset = (static_cast<std::uint64_t>(record[1]) << 8U) | record[2];
    const auto data = record.subspan(4, length);
    if (type != kData) {
      const auto fixed = FixedLength(type);
      if (!fixed) {
        faults.AtLine(line.number, "unknown record type " + Hex(type, 2).substr(2));
        continue;
      }
      if (length != *fixed) {
        faults.AtLine(line.number, "malformed record: a type " + Hex(type, 2).substr(2) + " record holds " +
                                       std::to_string(*fixed) + " data bytes, this one " + std::to_string(length));
        continue;
      }
    }
    const std::uint64_t value = length == 2 ? (static_cast<std::uint64_t>(data[0]) << 8U) | data[1] : 0;
    switch (type) {
      case kData:
        if (segmented && offset + length > kSegmentSize) {
          const auto split = static_cast<std::size_t>(kSegmentSize - offset);
          image.Data(line.number, base + offset, data.first(split));
          image.Data(line.number, base, data.subspan(split));
        } else {
          image.Data(line.number, base + offset, data);
        }
        break;
      case kEndOfFile:
        endLine = line.number;
        break;
      case kSegmentBase:
        base = value << 4U;
        segmented = true;
        break;
      case kLinearBase:
        base = value << 16U;
        segmented = false;
        break;
      default:
        break;  // start addresses: the boot loader starts the firmware itself
    }
  }
  if (!endLine) {
    faults.AtLine(text.count, "the file ends without an end-of-file record (type 01): it may be cut short");
    return text.count;
  }
  return *endLine;
}

std::string WriteIntelHex(std::span<const std::uint8_t> image, std::uint32_t baseAddress) {
  std::string text;
  std::uint32_t upper = 0;  // until a type 04 record says otherwise
  for (const DataRun& run : DataRuns(image, baseAddress)) {
    const std::uint32_t runUpper = run.address >> 16U;
    if (runUpper != upper) {
      const std::vector<std::uint8_t> value = {static_cast<std::uint8_t>(runUpper >> 8U),
                                               static_cast<std::uint8_t>(runUpper & 0xFFU)};
      text += Record(kLinearBase, 0, value);
      upper = runUpper;
    }
    text += Record(kData, static_cast<std::uint16_t>(run.address & 0xFFFFU), run.bytes);
  }
  text += Record(kEndOfFile, 0, {});
  return text;
}

}  // namespace fwu::firmware_files
