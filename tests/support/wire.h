#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

namespace fwu::test {

using Bytes = std::vector<std::uint8_t>;

// A Frame as the boot loader would send it, built apart from the program's own codec so that a fault shared by
// both cannot hide: DLE STX, control, payload with DLE doubled, DLE ETX, CRC-16/KERMIT low byte first.
Bytes WireFrame(std::uint8_t control, std::span<const std::uint8_t> payload = {});
Bytes WireFrame(std::uint8_t control, std::initializer_list<std::uint8_t> payload);
// The same Frame with its CRC spoiled.
Bytes DamagedFrame(std::uint8_t control, std::span<const std::uint8_t> payload = {});

// A Frame parsed out of bytes the program wrote.
struct ParsedFrame {
  std::uint8_t control = 0;
  Bytes payload;
  bool crcOk = false;
};
// Splits a byte stream into Frames; bytes outside a Frame (such as the identification message) are skipped.
std::vector<ParsedFrame> ParseFrames(std::span<const std::uint8_t> stream);

Bytes Concat(std::initializer_list<Bytes> parts);

// A block-write command payload: 03, the qualifier, the address (big-endian), the length 00 00 01 00, the block.
Bytes BlockWritePayload(std::uint8_t qualifier, std::uint32_t address, std::span<const std::uint8_t> block);
// The same for a 256-byte block of one value.
Bytes BlockWritePayload(std::uint8_t qualifier, std::uint32_t address, std::uint8_t fill);

}  // namespace fwu::test
