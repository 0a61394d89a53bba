#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace fwu::test {

// A main or second image to shape in a test: all erased (0xFF) until written.
class ImageBuilder {
 public:
  explicit ImageBuilder(std::size_t size) : bytes_(size, 0xFF) {}

  ImageBuilder& Byte(std::uint32_t offset, std::uint8_t value);
  ImageBuilder& U32le(std::uint32_t offset, std::uint32_t value);
  // Writes text and, unless terminate is false, its NUL.
  ImageBuilder& Text(std::uint32_t offset, std::string_view text, bool terminate = true);

  [[nodiscard]] const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace fwu::test
