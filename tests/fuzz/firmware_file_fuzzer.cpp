// A firmware file as the fuzzer makes it, read as the main or the second image: no read outside the file's bytes,
// a refused file yields no image and only messages that name it, and an accepted file round-trips: its image,
// written back in the file's format and read again, is the same image.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware_files/firmware_file.h"
#include "fuzz_line.h"

namespace {

using fwu::firmware_files::ImageKind;
using fwu::test::Require;

constexpr std::size_t kMaxMessages = 21;  // the cap and its "... and N more" line

// The records of a file given in binary, each a length byte and that many bytes (for S-records the first of them
// the type), as text lines with their checksums. The fuzzer then works on lengths, addresses, types and data
// rather than on hex digits, and reaches the windows, overlaps and counts behind the checksums, and files that are
// accepted, far more often.
std::vector<std::uint8_t> RecordsAsText(std::span<const std::uint8_t> input, bool srecord) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  std::size_t at = 0;
  while (at < input.size()) {
    const std::size_t length = std::min<std::size_t>(input[at], input.size() - at - 1);
    auto body = input.subspan(at + 1, length);
    at += 1 + length;
    if (srecord && body.empty()) {
      continue;
    }
    text += srecord ? 'S' : ':';
    if (srecord) {
      text += static_cast<char>('0' + body[0] % 10);
      body = body.subspan(1);
    }
    unsigned sum = 0;
    for (const std::uint8_t b : body) {
      text += kDigits[b >> 4U];
      text += kDigits[b & 0xFU];
      sum += b;
    }
    const unsigned checksum = (srecord ? ~sum : 0x100U - (sum & 0xFFU)) & 0xFFU;
    text += kDigits[checksum >> 4U];
    text += kDigits[checksum & 0xFU];
    text += '\n';
  }
  return {text.begin(), text.end()};
}

}  // namespace

// First byte: bit 0 the image (main, second), bit 1 the window the round trip writes at (controller addresses,
// write addresses), bit 2 the file is given as binary records, bit 3 those are S-records. The rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const ImageKind kind = (data[0] & 1U) == 0 ? ImageKind::Main : ImageKind::Second;
  const bool writeAddresses = (data[0] & 2U) != 0;
  // On the heap and exactly as long as the file, so that ASan sees a read past its end.
  const std::span<const std::uint8_t> input(data + 1, size - 1);
  const std::vector<std::uint8_t> file =
      (data[0] & 4U) != 0 ? RecordsAsText(input, (data[0] & 8U) != 0) : std::vector(input.begin(), input.end());
  const std::string name = "fuzzed";
  const fwu::firmware_files::LoadedImage loaded = fwu::firmware_files::ParseFirmware(file, kind, name);

  Require(loaded.format == "raw" || loaded.format == "Intel HEX" || loaded.format == "S-record", "an unknown format");
  if (!loaded.errors.empty()) {
    Require(loaded.bytes.empty(), "a refused file yields an image");
    Require(loaded.errors.size() <= kMaxMessages, "more messages than the cap");
    for (const std::string& message : loaded.errors) {
      Require(message.starts_with(name + ": "), "a message that does not name the file");
    }
    return 0;
  }
  Require(loaded.bytes.size() == fwu::firmware_files::ImageSize(kind), "an accepted image of the wrong size");
  if (loaded.format == "raw") {
    Require(loaded.bytes == file, "a raw image that is not the file");
    return 0;
  }
  const std::uint32_t base = writeAddresses ? 0 : kind == ImageKind::Main ? 0xFFF80000 : 0x30000;
  const std::string written = loaded.format == "Intel HEX" ? fwu::firmware_files::WriteIntelHex(loaded.bytes, base)
                                                           : fwu::firmware_files::WriteSRecord(loaded.bytes, base);
  const std::vector<std::uint8_t> again(written.begin(), written.end());
  const fwu::firmware_files::LoadedImage back = fwu::firmware_files::ParseFirmware(again, kind, name);
  Require(back.errors.empty(), "an accepted image written back is refused");
  Require(back.format == loaded.format, "an accepted image written back reads as another format");
  Require(back.bytes == loaded.bytes, "an accepted image written back reads as another image");
  return 0;
}
