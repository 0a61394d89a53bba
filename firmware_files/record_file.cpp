#include "firmware_files/record_file.h"

#include <algorithm>
#include <utility>

#include "protocol/hex_text.h"
#include "update/images.h"

namespace fwu::firmware_files {

namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr std::uint64_t kSecondImageBase = 0x30000;
constexpr int kAddressDigits = 5;  // 0x30000, 0x00100, 0xFFF80000

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool AllHex(std::string_view digits) {
  return std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigit(c) >= 0; });
}

// How a byte of a faulty line reads in a message: itself when printable, else its value.
std::string Shown(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x20 && byte < 0x7F) {
    return std::string("'") + c + "'";
  }
  return "byte " + Hex(byte, 2);
}

}  // namespace

std::string Hex(std::uint64_t value, int minDigits) {
  return "0x" + HexValue(value, minDigits);
}

void FaultList::AtLine(std::size_t line, const std::string& what) {
  Add(name_ + ": line " + std::to_string(line) + ": " + what);
}

void FaultList::AtOffset(std::size_t offset, const std::string& what) {
  Add(name_ + ": offset " + Hex(offset) + ": " + what);
}

void FaultList::Add(std::string message) {
  ++count_;
  if (messages_.size() < kMaxFaults) {
    messages_.push_back(std::move(message));
  }
}

std::vector<std::string> FaultList::Messages() const {
  std::vector<std::string> all = messages_;
  if (count_ > messages_.size()) {
    all.push_back(name_ + ": ... and " + std::to_string(count_ - messages_.size()) + " more faults");
  }
  return all;
}

TextLines SplitLines(std::span<const std::uint8_t> content) {
  // NOLINTNEXTLINE(bugprone-reinterpret-cast): the file's bytes read as characters
  const std::string_view all(reinterpret_cast<const char*>(content.data()), content.size());
  TextLines text;
  std::size_t start = 0;
  while (start < all.size()) {
    const std::size_t newline = all.find('\n', start);
    const std::size_t end = newline == std::string_view::npos ? all.size() : newline;
    std::string_view line = all.substr(start, end - start);
    while (!line.empty() && IsBlank(line.back())) {
      line.remove_suffix(1);
    }
    ++text.count;
    if (!line.empty()) {
      text.lines.push_back({text.count, line});
    }
    start = end + 1;
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> DecodeHex(std::string_view digits, std::string& fault) {
  const auto bad = std::find_if(digits.begin(), digits.end(), [](char c) { return HexDigit(c) < 0; });
  if (bad != digits.end()) {
    fault = "malformed record: " + Shown(*bad) + " is not a hexadecimal digit";
    return std::nullopt;
  }
  if (digits.size() % 2 != 0) {
    fault = "malformed record: an odd number of hexadecimal digits";
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(digits.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>((HexDigit(digits[2 * i]) << 4) | HexDigit(digits[2 * i + 1]));
  }
  return bytes;
}

bool LooksLikeIntelHex(std::string_view line) {
  constexpr std::size_t kShortestRecord = 10;  // length, address, type, checksum
  return line.size() > kShortestRecord && line[0] == ':' && line.size() % 2 == 1 && AllHex(line.substr(1));
}

bool LooksLikeSRecord(std::string_view line) {
  constexpr std::size_t kShortestRecord = 4;  // count and checksum at least
  return line.size() >= 2 + kShortestRecord && line[0] == 'S' && line[1] >= '0' && line[1] <= '9' &&
         line.size() % 2 == 0 && AllHex(line.substr(2));
}

std::string HexDigits(std::span<const std::uint8_t> bytes) {
  std::string digits;
  AppendHexBytes(digits, bytes, false);
  return digits;
}

std::string RecordLine(std::string_view start, std::span<const std::uint8_t> bytes) {
  std::string line(start);
  line += HexDigits(bytes);
  line += '\n';
  return line;
}

bool RecordIsSound(std::size_t line, const RecordLength& length, std::span<const std::uint8_t> record,
                   std::uint8_t expectedChecksum, FaultList& faults) {
  if (length.present != length.announced) {
    faults.AtLine(line, std::string(length.present < length.announced ? "truncated" : "malformed") + " record: its " +
                            length.field + " announces " + std::to_string(length.announced) + " " + length.unit +
                            ", the line holds " + std::to_string(length.present));
    return false;
  }
  if (record.back() != expectedChecksum) {
    faults.AtLine(
        line, "bad checksum " + Hex(record.back(), 2) + ", where the record's bytes give " + Hex(expectedChecksum, 2));
    return false;
  }
  return true;
}

std::vector<DataRun> DataRuns(std::span<const std::uint8_t> image, std::uint32_t baseAddress) {
  constexpr std::uint64_t kRecordBytes = 16;
  const auto programmed = [](std::uint8_t b) { return b != kErased; };
  std::vector<DataRun> runs;
  std::uint64_t address = baseAddress;
  const std::uint64_t end = address + image.size();
  while (address < end) {
    const std::uint64_t next = std::min(end, (address / kRecordBytes + 1) * kRecordBytes);
    const auto line =
        image.subspan(static_cast<std::size_t>(address - baseAddress), static_cast<std::size_t>(next - address));
    const auto first = std::find_if(line.begin(), line.end(), programmed);
    if (first != line.end()) {
      const auto last = std::find_if(line.rbegin(), line.rend(), programmed).base();
      runs.push_back({static_cast<std::uint32_t>(address + static_cast<std::uint64_t>(first - line.begin())),
                      std::span(first, last)});
    }
    address = next;
  }
  // A file without data records is refused: an image that is all erased still gets one, of its first byte.
  if (runs.empty() && !image.empty()) {
    runs.push_back({baseAddress, image.first(1)});
  }
  return runs;
}

ImageAssembler::ImageAssembler(ImageKind kind, FaultList& faults)
    : kind_(kind), faults_(faults), bytes_(ImageSize(kind), kErased), writtenBy_(ImageSize(kind), 0) {
  const std::uint64_t size = ImageSize(kind);
  // The controller's addresses first, then the write addresses, which start at the image's offset 0.
  windows_ = {{kind == ImageKind::Main ? kMainImageBase : kSecondImageBase, size}, {0, size}};
}

std::string ImageAssembler::WindowText(const Window& window) const {
  return Hex(window.first, kAddressDigits) + "-" + Hex(window.first + window.size - 1, kAddressDigits);
}

void ImageAssembler::Data(std::size_t line, std::uint64_t address, std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) {
    return;
  }
  ++dataRecords_;
  const std::uint64_t last = address + bytes.size() - 1;
  const auto inside = [&](const Window& w) { return address >= w.first && last < w.first + w.size; };
  const std::string range = Hex(address, kAddressDigits) + "-" + Hex(last, kAddressDigits);
  if (!chosen_) {
    const auto fit = std::find_if(windows_.begin(), windows_.end(), inside);
    if (fit == windows_.end()) {
      const char* image = kind_ == ImageKind::Main ? "main" : "second";
      faults_.AtLine(line, "data at " + range + " lies outside the " + image + " image's address windows " +
                               WindowText(windows_[0]) + " and " + WindowText(windows_[1]));
      return;
    }
    chosen_ = *fit;
    chosenBy_ = line;
  }
  if (!inside(*chosen_)) {
    faults_.AtLine(line, "data at " + range + " lies outside the window " + WindowText(*chosen_) + " that line " +
                             std::to_string(chosenBy_) + " chose: all records of a file lie in one window");
    return;
  }
  const auto offset = static_cast<std::size_t>(address - chosen_->first);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::size_t at = offset + i;
    if (writtenBy_[at] != 0 && bytes_[at] != bytes[i]) {
      faults_.AtLine(line, "writes " + Hex(bytes[i], 2) + " at " + Hex(address + i, kAddressDigits) + ", where line " +
                               std::to_string(writtenBy_[at]) + " wrote " + Hex(bytes_[at], 2));
      return;
    }
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes_[offset + i] = bytes[i];
    writtenBy_[offset + i] = static_cast<std::uint32_t>(line);
  }
}

}  // namespace fwu::firmware_files
