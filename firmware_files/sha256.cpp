#include "firmware_files/sha256.h"

namespace fwu::firmware_files {

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, kSha256Size> digest{};
  if (!Sha256(bytes, digest)) {
    return {};
  }
  constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4U];
    text += kDigits[byte & 0x0FU];
  }
  return text;
}

}  // namespace fwu::firmware_files
