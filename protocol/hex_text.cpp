#include "protocol/hex_text.h"

#include <array>
#include <cstdio>

namespace fwu::cli {

std::string HexValue(unsigned long value, int digits) {
  // Room for a 64-bit value and its terminator.
  std::array<char, 24> text{};
  const int length = std::snprintf(text.data(), text.size(), "%0*lX", digits, value);
  return length > 0 ? std::string(text.data()) : std::string();
}

void AppendHexBytes(std::string& text, std::span<const std::uint8_t> bytes) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  text.reserve(text.size() + 3 * bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) {
      text += ' ';
    }
    text += kDigits[bytes[i] >> 4U];
    text += kDigits[bytes[i] & 0x0FU];
  }
}

}  // namespace fwu::cli
