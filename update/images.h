#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace fwu {

inline constexpr std::size_t kMainImageSize = 0x80000;    // controller addresses 0xFFF80000 to 0xFFFFFFFF
inline constexpr std::size_t kSecondImageSize = 0x10000;  // controller addresses 0x30000 to 0x3FFFF
inline constexpr std::uint32_t kMainImageBase = 0xFFF80000;
inline constexpr std::uint32_t kModelNamePointer = 0x1010;  // image offsets of the little-endian text pointers
inline constexpr std::uint32_t kVersionPointer = 0x1014;

// The firmware images carried by the program.
std::span<const std::uint8_t> MainImage();
std::span<const std::uint8_t> SecondImage();

// A pair of images as the update writes them.
struct FirmwareImages {
  std::span<const std::uint8_t> main;
  std::span<const std::uint8_t> second;
};
FirmwareImages CarriedImages();

// The NUL-terminated text that the little-endian pointer at pointerOffset of a main image points to. Absent when
// its first byte is 0xFF (erased), when the pointer lies outside the image, or when no NUL ends it inside the
// image; nothing outside the image is read.
std::optional<std::string> ImageText(std::span<const std::uint8_t> mainImage, std::uint32_t pointerOffset);

// The carried main image's model name and firmware version.
std::optional<std::string> CarriedModelName();
std::optional<std::string> CarriedVersion();

}  // namespace fwu
