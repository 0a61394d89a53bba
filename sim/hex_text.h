#pragma once

#include <string>

namespace fwu::sim {

// value in upper-case hex, zero-padded to width digits (more digits if the value needs them).
inline std::string HexText(unsigned long value, int width) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value % 16U]);
    value /= 16U;
  } while (value != 0);
  if (static_cast<int>(text.size()) < width) {
    text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
  }
  return text;
}

}  // namespace fwu::sim
