#include "firmware_files/firmware_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "firmware_files/record_file.h"
#include "update/images.h"

namespace fwu::files {

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

// A raw image may begin with ':' or "S1" and may even hold text. A file of the image's exact size is read as
// records only when every line has a record's shape; any other file only when its first line has one and it holds
// no NUL byte (text has none; firmware nearly always does), so that a damaged record file is told apart line by
// line instead of as a raw image of the wrong size.
Format Recognise(std::span<const std::uint8_t> content, const TextLines& text, ImageKind kind) {
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
  if (content.size() == ImageSize(kind)) {
    const auto looks = intel ? LooksLikeIntelHex : LooksLikeSRecord;
    const bool all =
        std::all_of(text.lines.begin(), text.lines.end(), [&](const TextLine& l) { return looks(l.text); });
    return all ? format : Format::Raw;
  }
  const bool hasNul = std::find(content.begin(), content.end(), 0) != content.end();
  return hasNul ? Format::Raw : format;
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
  const TextLines text = SplitLines(content);
  const Format format = Recognise(content, text, kind);
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
    return {{}, {}, {path + ": cannot be read: " + std::strerror(error)}};
  }
  if (content.size() > kMaxFileSize) {
    return {{}, {}, {path + ": larger than " + std::to_string(kMaxFileSize >> 20U) + " MiB: not a firmware file"}};
  }
  return ParseFirmware(content, kind, path);
}

int ConvertImage(const std::string& in, ImageKind kind, const std::string& out, std::ostream& err) {
  const LoadedImage loaded = LoadFirmwareFile(in, kind);
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

}  // namespace fwu::files
