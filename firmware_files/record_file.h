#pragma once

// What the Intel HEX and S-record readers share: the fault list, the file's lines, hex digits, and the image that
// their data records fill.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware_files/firmware_file.h"

namespace fwu::firmware_files {

// "0x" and upper-case hex digits, at least minDigits of them.
std::string Hex(std::uint64_t value, int minDigits = 1);

// The faults found in one file, each "<file>: <where>: <what>". A file of garbage would give one per line; past
// kMaxFaults they are only counted, so that the first ones stay readable.
class FaultList {
 public:
  static constexpr std::size_t kMaxFaults = 20;

  explicit FaultList(std::string name) : name_(std::move(name)) {}

  void AtLine(std::size_t line, const std::string& what);
  void AtOffset(std::size_t offset, const std::string& what);
  [[nodiscard]] bool Empty() const { return count_ == 0; }
  // The messages, plus one "... and N more" line when some were only counted.
  [[nodiscard]] std::vector<std::string> Messages() const;

 private:
  void Add(std::string message);

  std::string name_;
  std::vector<std::string> messages_;
  std::size_t count_ = 0;
};

// One non-blank line of a record file: its number (from 1) and its text without line ending or trailing blanks.
struct TextLine {
  std::size_t number = 0;
  std::string_view text;
};

struct TextLines {
  std::vector<TextLine> lines;
  std::size_t count = 0;  // every line, blank ones too
};

TextLines SplitLines(std::span<const std::uint8_t> content);

// The bytes that a record's hex digits stand for, or nothing with the fault in fault.
std::optional<std::vector<std::uint8_t>> DecodeHex(std::string_view digits, std::string& fault);

// Collects a file's data records into an image: the first record that fits one of the image's two address windows
// chooses it, every record must lie wholly inside it, and a byte may be written twice only with the same value.
class ImageAssembler {
 public:
  ImageAssembler(ImageKind kind, FaultList& faults);

  void Data(std::size_t line, std::uint64_t address, std::span<const std::uint8_t> bytes);
  // Whether the file had any data record, whether or not it fitted.
  [[nodiscard]] bool HadData() const { return dataRecords_ > 0; }
  [[nodiscard]] std::vector<std::uint8_t> TakeBytes() { return std::move(bytes_); }

 private:
  struct Window {
    std::uint64_t first;
    std::uint64_t size;
  };

  [[nodiscard]] std::string WindowText(const Window& window) const;

  ImageKind kind_;
  FaultList& faults_;
  std::vector<Window> windows_;
  std::optional<Window> chosen_;
  std::size_t chosenBy_ = 0;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint32_t> writtenBy_;  // line that wrote each byte, 0 for none
  std::size_t dataRecords_ = 0;
};

// Upper-case hex digits, two per byte.
std::string HexDigits(std::span<const std::uint8_t> bytes);

// A record as a line of text: start (":", "S1", ...), then its bytes, checksum included, as hex digits.
std::string RecordLine(std::string_view start, std::span<const std::uint8_t> bytes);

// The checks every record shares: the length its length field announces against what the line holds, then its
// checksum (its last byte) against the one its other bytes give. Reports the fault and returns false.
struct RecordLength {
  const char* field;  // "length byte", "byte count"
  const char* unit;   // what it counts: "data bytes", "bytes"
  std::size_t announced;
  std::size_t present;
};
bool RecordIsSound(std::size_t line, const RecordLength& length, std::span<const std::uint8_t> record,
                   std::uint8_t expectedChecksum, FaultList& faults);

// The image's data as the record writers cut it: the non-erased part of each 16-byte line of addresses (aligned
// on the address, so that no record crosses a 64 KiB boundary), lines all erased left out; an image all erased
// keeps its first byte, since a file without data is refused.
struct DataRun {
  std::uint32_t address;
  std::span<const std::uint8_t> bytes;
};
std::vector<DataRun> DataRuns(std::span<const std::uint8_t> image, std::uint32_t baseAddress);

// The two record readers. Each reports its faults, fills image, and returns the line of its end record (or the
// last line of the file when there is none), where a file without data is reported.
std::size_t ReadIntelHex(const TextLines& text, ImageAssembler& image, FaultList& faults);
std::size_t ReadSRecord(const TextLines& text, ImageAssembler& image, FaultList& faults);

// Whether a line has the shape of an Intel HEX record (':' then an even number of hex digits, at least 10) or of
// an S-record ('S', a digit, then an even number of hex digits, at least 4).
bool LooksLikeIntelHex(std::string_view line);
bool LooksLikeSRecord(std::string_view line);

}  // namespace fwu::firmware_files
