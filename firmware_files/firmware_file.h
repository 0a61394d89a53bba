#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace fwu::firmware_files {

enum class ImageKind { Main, Second };

// 524,288 bytes for the main image, 65,536 for the second.
std::size_t ImageSize(ImageKind kind);

struct LoadedImage {
  std::vector<std::uint8_t> bytes;    // exactly the image's size when errors is empty
  std::string format;                 // "raw", "Intel HEX", "S-record"
  std::vector<std::string> errors;    // one message per fault: "<file>: line N: ..." or "<file>: offset 0x...: ..."
  std::vector<std::string> warnings;  // "<file>: ...": a sound file that is likely not the one meant
};

// Reads a firmware file, recognises its format by its content (not its name) and checks it. Intel HEX and
// S-record addresses map into the image: the main image takes the controller's addresses 0xFFF80000-0xFFFFFFFF
// or the write addresses 0x00000-0x7FFFF, the second image the write addresses 0x30000-0x3FFFF or 0x0000-0xFFFF;
// all records of a file stay inside one of the two. Bytes no record writes are erased (0xFF). A UTF-8 byte order
// mark before the first record is skipped.
LoadedImage LoadFirmwareFile(const std::string& path, ImageKind kind);

// The same for a file's content already in memory; name stands for the file in the messages.
LoadedImage ParseFirmware(std::span<const std::uint8_t> content, ImageKind kind, const std::string& name);

// The rules the build applies to the images it carries: the size, and in the main image both text pointers
// (little-endian at offsets 0x1010 and 0x1014) inside 0xFFF80000-0xFFFFFFFF with a NUL after each text inside the
// image. One message per fault, naming the file and the offset; empty when the image is good.
std::vector<std::string> CheckImage(std::span<const std::uint8_t> image, ImageKind kind, const std::string& name);

// An image as Intel HEX or S-record text, its offset 0 at baseAddress: records of at most 16 bytes, none for
// erased (0xFF) stretches, so that reading the text back gives the same image.
std::string WriteIntelHex(std::span<const std::uint8_t> image, std::uint32_t baseAddress);
std::string WriteSRecord(std::span<const std::uint8_t> image, std::uint32_t baseAddress);

// `image convert`: reads a firmware file in any of the three formats, checks it as the given image and writes it
// as a raw image to out. Returns the exit status: 0 written, 2 the firmware file is refused (every fault on err),
// 1 the output could not be written.
int ConvertImage(const std::string& in, ImageKind kind, const std::string& out, std::ostream& err);

}  // namespace fwu::firmware_files
