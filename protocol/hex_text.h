#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fwu::cli {

// value in upper-case hex with at least digits digits: HexValue(0x30100, 5) is "30100".
std::string HexValue(unsigned long value, int digits);
// The bytes in upper-case hex, one space between them: "10 02 06".
void AppendHexBytes(std::string& text, std::span<const std::uint8_t> bytes);

}  // namespace fwu::cli
