#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace fwu {

// The boot loader's commands as an update sends them, and how the images are cut into blocks. The update sequence
// sends them; the command line's line model and trace decoder read the same bytes.

// The program kinds the controller reports to 0A 00.
inline constexpr std::uint8_t kKindTwoImages = 0x10;  // second image, then main image
inline constexpr std::uint8_t kKindMainOnly = 0x20;

inline constexpr std::array<std::uint8_t, 2> kProgramKindQuery{0x0A, 0x00};
inline constexpr std::array<std::uint8_t, 2> kPrepareSecond{0x03, 0x20};
inline constexpr std::array<std::uint8_t, 2> kPrepareMain{0x02, 0x00};
inline constexpr std::array<std::uint8_t, 2> kMainWritten{0x05, 0x00};
inline constexpr std::array<std::uint8_t, 3> kUpdateDone{0x07, 0x00, 0x00};
// 07 10 and 08 00 name the start of the second image's region, 0x30000, big-endian.
inline constexpr std::array<std::uint8_t, 6> kSecondWritten{0x07, 0x10, 0x00, 0x03, 0x00, 0x00};
inline constexpr std::array<std::uint8_t, 6> kSecondCommit{0x08, 0x00, 0x00, 0x03, 0x00, 0x00};
// After 08 00 the boot loader is left alone for a second before the main image's phase begins.
inline constexpr std::uint32_t kSecondCommitPauseMs = 1000;

// The regions: 256-byte blocks from write address 0 (main image) and 0x30000 (second image).
inline constexpr std::size_t kBlockSize = 256;
inline constexpr std::uint32_t kMainBlocks = 2048;
inline constexpr std::uint32_t kSecondBlocks = 256;
inline constexpr std::uint32_t kSecondAddress = 0x30000;
// Erased controller memory; a block of nothing else is not sent.
inline constexpr std::uint8_t kErased = 0xFF;

// Block-write payload: 03, qualifier (00 main, 10 second), address (big-endian), length 00 00 01 00, the block.
inline constexpr std::uint8_t kBlockWrite = 0x03;
inline constexpr std::uint8_t kMainQualifier = 0x00;
inline constexpr std::uint8_t kSecondQualifier = 0x10;
inline constexpr std::size_t kBlockAddressOffset = 2;
inline constexpr std::size_t kBlockLengthOffset = 6;
inline constexpr std::size_t kBlockDataOffset = 10;
inline constexpr std::size_t kBlockPayloadSize = kBlockDataOffset + kBlockSize;
using BlockPayload = std::array<std::uint8_t, kBlockPayloadSize>;

// Writes the block-write command for block k of a region starting at firstAddress into payload; true when the
// block holds anything but erased bytes. Bytes beyond the end of an image count as erased, so an image shorter
// than its region is never read past its end.
bool FillBlockWrite(BlockPayload& payload, std::span<const std::uint8_t> image, std::uint8_t qualifier,
                    std::uint32_t firstAddress, std::uint32_t k);

}  // namespace fwu
