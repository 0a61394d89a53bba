#include <algorithm>

#include "update/images.h"

namespace fwu {

namespace {

constexpr std::uint8_t kErased = 0xFF;

std::uint32_t ReadU32le(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8U) |
         (static_cast<std::uint32_t>(bytes[2]) << 16U) | (static_cast<std::uint32_t>(bytes[3]) << 24U);
}

}  // namespace

std::optional<std::string> ImageText(std::span<const std::uint8_t> mainImage, std::uint32_t pointerOffset) {
  if (pointerOffset >= mainImage.size() || mainImage.size() - pointerOffset < 4) {
    return std::nullopt;
  }
  const std::uint32_t address = ReadU32le(mainImage.subspan(pointerOffset, 4));
  if (address < kMainImageBase) {
    return std::nullopt;
  }
  // The image is the top of the 32-bit address space: subtracting its base is adding 0x80000 modulo 2^32.
  const std::uint32_t offset = address - kMainImageBase;
  if (offset >= mainImage.size() || mainImage[offset] == kErased) {
    return std::nullopt;
  }
  const auto text = mainImage.subspan(offset);
  const auto nul = std::find(text.begin(), text.end(), std::uint8_t{0});
  if (nul == text.end()) {
    return std::nullopt;
  }
  return std::string(text.begin(), nul);
}

}  // namespace fwu
