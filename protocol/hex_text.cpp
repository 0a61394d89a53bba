#include "protocol/hex_text.h"

#include <utility>

namespace fwu {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

}  // namespace

std::string HexValue(std::uint64_t value, int digits) {
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xFU]);
    value >>= 4U;
  } while (value != 0);
  if (std::cmp_less(text.size(), digits)) {
    text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  }
  return text;
}

void AppendHexBytes(std::string& text, std::span<const std::uint8_t> bytes, bool spaced) {
  text.reserve(text.size() + 3 * bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (spaced && i > 0) {
      text += ' ';
    }
    text += kDigits[bytes[i] >> 4U];
    text += kDigits[bytes[i] & 0x0FU];
  }
}

}  // namespace fwu
