#include "firmware_files/firmware_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>

#include "firmware_files/record_file.h"
#include "update/images.h"

namespace fwu::firmware_files {

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitOutputFailed = 1;
constexpr int kExitRefused = 2;

// The largest firmware file read: an S-record file of one byte per record for the main image, with CR LF, stays
// far below this; anything bigger is not a firmware file.
constexpr std::size_t kMaxFileSize = 64U << 20U;

enum class Format { Raw, IntelHex, SRecord };

std::uint32_t ReadU32le(std::span<const std::uint8_t> image, std::size_t offset) {
  return static_cast<std::uint32_t>(image[offset]) | (static_cast<std::uint32_t>(image[offset + 1]) << 8U) |
         (static_cast<std::uint32_t>(image[offset + 2]) << 16U) |
         (static_cast<std::uint32_t>(image[offset + 3]) << 24U);
}

void CheckTextPointer(std::span<const std::uint8_t> image, std::uint32_t pointerOffset, const char* what,
                      FaultList& faults) {
  const std::uint32_t address = ReadU32le(image, pointerOffset);
  if (address < kMainImageBase) {
    faults.AtOffset(pointerOffset,
                    std::string("the ") + what + " pointer " + Hex(address) + " lies outside 0xFFF80000-0xFFFFFFFF");
    return;
  }
  // The image is the top of the 32-bit address space: subtracting its base is adding 0x80000 modulo 2^32.
  const std::size_t text = address - kMainImageBase;
  constexpr std::uint8_t kErased = 0xFF;
  if (image[text] == kErased) {
    return;  // an erased text counts as no text, as on the controller
  }
  if (std::find(image.begin() + static_cast<std::ptrdiff_t>(text), image.end(), 0) == image.end()) {
    faults.AtOffset(text, std::string("the ") + what + " text at " + Hex(address) + " has no NUL inside the image");
  }
}

void CheckImageInto(std::span<const std::uint8_t> image, ImageKind kind, FaultList& faults) {
  const std::size_t size = ImageSize(kind);
  const char* name = kind == ImageKind::Main ? "main" : "second";
  if (image.size() < size) {
    faults.AtOffset(image.size(), "the file ends after " + std::to_string(image.size()) + " bytes, but a " + name +
                                      " image must be exactly " + std::to_string(size) + " bytes");
    return;
  }
  if (image.size() > size) {
    faults.AtOffset(size, std::to_string(image.size() - size) + " bytes more than a " + name +
                              " image holds: it must be exactly " + std::to_string(size) + " bytes");
    return;
  }
  if (kind == ImageKind::Main) {
    CheckTextPointer(image, kModelNamePointer, "model-name", faults);
    CheckTextPointer(image, kVersionPointer, "version", faults);
  }
}

// A record file is text, and the first line says which kind: a line that is a whole record, or one that begins
// like one in a file without a NUL byte (text has none; firmware nearly always does), so that a damaged record file
// is refused line by line and never written to the controller as a raw image, even when its size matches one.
Format Recognise(std::span<const std::uint8_t> content, const TextLines& text) {
  if (text.lines.empty()) {
    return Format::Raw;
  }
  const std::string_view first = text.lines.front().text;
  const bool intel = first.size() >= 2 && first[0] == ':';
  const bool srecord = first.size() >= 2 && first[0] == 'S' && first[1] >= '0' && first[1] <= '9';
  if (!intel && !srecord) {
    return Format::Raw;
  }
  const Format format = intel ? Format::IntelHex : Format::SRecord;
  if (intel ? LooksLikeIntelHex(first) : LooksLikeSRecord(first)) {
    return format;
  }
  const bool hasNul = std::find(content.begin(), content.end(), 0) != content.end();
  return hasNul ? Format::Raw : format;
}

// Editors on Windows (Notepad, PowerShell) start a UTF-8 text file with this mark; the records begin after it.
std::span<const std::uint8_t> WithoutByteOrderMark(std::span<const std::uint8_t> content) {
  constexpr std::array<std::uint8_t, 3> kMark = {0xEF, 0xBB, 0xBF};
  const bool marked = content.size() >= kMark.size() && std::equal(kMark.begin(), kMark.end(), content.begin());
  return marked ? content.subspan(kMark.size()) : content;
}

// The second image's file given for the main image reads without a fault: its records at 0x30000-0x3FFFF fit the
// main image's write addresses. What gives it away is a main image with data only there and no texts at all.
std::optional<std::string> LooksLikeSecondImage(std::span<const std::uint8_t> main) {
  constexpr std::uint32_t kErasedPointer = 0xFFFFFFFF;
  constexpr std::size_t kSecondRegionStart = 0x30000;
  constexpr std::uint8_t kErased = 0xFF;
  if (ReadU32le(main, kModelNamePointer) != kErasedPointer || ReadU32le(main, kVersionPointer) != kErasedPointer) {
    return std::nullopt;
  }
  const auto programmed = [](std::uint8_t b) { return b != kErased; };
  const auto first = std::find_if(main.begin(), main.end(), programmed);
  const auto last = std::find_if(main.rbegin(), main.rend(), programmed).base();
  if (first == main.end() || first - main.begin() < static_cast<std::ptrdiff_t>(kSecondRegionStart) ||
      last - main.begin() > static_cast<std::ptrdiff_t>(kSecondRegionStart + kSecondImageSize)) {
    return std::nullopt;
  }
  return "holds data only at 0x30000-0x3FFFF, the second image's region, and neither a model name nor a version: "
         "is it the second image's file, given for the main image?";
}

}  // namespace

std::size_t ImageSize(ImageKind kind) {
  return kind == ImageKind::Main ? kMainImageSize : kSecondImageSize;
}

std::vector<std::string> CheckImage(std::span<const std::uint8_t> image, ImageKind kind, const std::string& name) {
  FaultList faults(name);
  CheckImageInto(image, kind, faults);
  return faults.Messages();
}

LoadedImage ParseFirmware(std::span<const std::uint8_t> content, ImageKind kind, const std::string& name) {
  LoadedImage loaded;
  FaultList faults(name);
  const std::span<const std::uint8_t> body = WithoutByteOrderMark(content);
  const TextLines text = SplitLines(body);
  const Format format = Recognise(body, text);
  if (format == Format::Raw) {
    loaded.format = "raw";
    loaded.bytes.assign(content.begin(), content.end());
  } else {
    loaded.format = format == Format::IntelHex ? "Intel HEX" : "S-record";
    ImageAssembler image(kind, faults);
    const std::size_t endLine =
        format == Format::IntelHex ? ReadIntelHex(text, image, faults) : ReadSRecord(text, image, faults);
    // Only in an otherwise sound file: a damaged record may have been the data.
    if (!image.HadData() && faults.Empty()) {
      faults.AtLine(endLine, "the file holds no data record");
    }
    loaded.bytes = image.TakeBytes();
  }
  if (faults.Empty()) {
    CheckImageInto(loaded.bytes, kind, faults);
  }
  loaded.errors = faults.Messages();
  if (!loaded.errors.empty()) {
    loaded.bytes.clear();
  } else if (kind == ImageKind::Main) {
    if (auto mixUp = LooksLikeSecondImage(loaded.bytes)) {
      loaded.warnings.push_back(name + ": " + *mixUp);
    }
  }
  return loaded;
}

LoadedImage LoadFirmwareFile(const std::string& path, ImageKind kind) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> content;
  if (file) {
    std::vector<char> chunk(64U << 10U);
    while (content.size() <= kMaxFileSize && file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
      content.insert(content.end(), chunk.begin(), chunk.end());
    }
    content.insert(content.end(), chunk.begin(), chunk.begin() + file.gcount());
  }
  if (!file && !file.eof()) {
    const int error = errno;
    return {{}, {}, {path + ": cannot be read: " + std::strerror(error)}, {}};
  }
  if (content.size() > kMaxFileSize) {
    return {{}, {}, {path + ": larger than " + std::to_string(kMaxFileSize >> 20U) + " MiB: not a firmware file"}, {}};
  }
  return ParseFirmware(content, kind, path);
}

int ConvertImage(const std::string& in, ImageKind kind, const std::string& out, std::ostream& err) {
  const LoadedImage loaded = LoadFirmwareFile(in, kind);
  for (const std::string& message : loaded.warnings) {
    err << "warning: " << message << '\n';
  }
  if (!loaded.errors.empty()) {
    for (const std::string& message : loaded.errors) {
      err << message << '\n';
    }
    return kExitRefused;
  }
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  const bool opened = file.is_open();
  // NOLINTNEXTLINE(bugprone-reinterpret-cast): the image's bytes written as characters
  file.write(reinterpret_cast<const char*>(loaded.bytes.data()), static_cast<std::streamsize>(loaded.bytes.size()));
  file.close();
  if (!file) {
    const int error = errno;
    err << out << ": cannot be written: " << std::strerror(error) << '\n';
    // A cut-short image must not be left where the build would take it; a device or pipe stays.
    std::error_code ignored;
    if (opened && std::filesystem::is_regular_file(out, ignored)) {
      std::filesystem::remove(out, ignored);
    }
    return kExitOutputFailed;
  }
  return kExitWritten;
}

}  // namespace fwu::firmware_files
