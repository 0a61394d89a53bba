#include "support/image_builder.h"

namespace fwu::test {

ImageBuilder& ImageBuilder::Byte(std::uint32_t offset, std::uint8_t value) {
  bytes_.at(offset) = value;
  return *this;
}

ImageBuilder& ImageBuilder::U32le(std::uint32_t offset, std::uint32_t value) {
  for (std::uint32_t i = 0; i < 4; ++i) {
    bytes_.at(offset + i) = static_cast<std::uint8_t>(value >> (8U * i));
  }
  return *this;
}

ImageBuilder& ImageBuilder::Text(std::uint32_t offset, std::string_view text, bool terminate) {
  for (const char c : text) {
    bytes_.at(offset++) = static_cast<std::uint8_t>(c);
  }
  if (terminate) {
    bytes_.at(offset) = 0;
  }
  return *this;
}

}  // namespace fwu::test
