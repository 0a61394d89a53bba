#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fwu {

// value in upper-case hex with at least digits digits: HexValue(0x30100, 5) is "30100", HexValue(0x1A, 4) "001A".
std::string HexValue(std::uint64_t value, int digits);
// The bytes in upper-case hex, one space between them ("10 02 06"), or none when spaced is false ("100206").
void AppendHexBytes(std::string& text, std::span<const std::uint8_t> bytes, bool spaced = true);

}  // namespace fwu
