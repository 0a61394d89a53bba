#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/device_memory.h"

namespace fwu::sim {

// The two code bytes every command payload starts with: command byte, then qualifier.
struct CommandCode {
  std::uint8_t command = 0;
  std::uint8_t qualifier = 0;
  friend auto operator<=>(const CommandCode&, const CommandCode&) = default;
};

// Device status the boot loader reports in bytes 1-2 of an answer.
inline constexpr std::uint16_t kStatusOk = 0x0000;
inline constexpr std::uint16_t kStatusUnknownCommand = 0x0001;
inline constexpr std::uint16_t kStatusBadLength = 0x0002;
inline constexpr std::uint16_t kStatusOutOfRange = 0x0003;
inline constexpr std::uint16_t kStatusUnaligned = 0x0004;
inline constexpr std::uint16_t kStatusBadDataLength = 0x0005;
inline constexpr std::uint16_t kStatusBadArgument = 0x0006;
inline constexpr std::uint16_t kStatusVerifyFailed = 0x0007;

// What the controller reports about itself.
struct DeviceIdentity {
  std::uint8_t programKind = 0x10;
  std::string version;
};

// The outcome of one command inside the controller.
struct CommandOutcome {
  std::uint16_t status = kStatusOk;
  std::vector<std::uint8_t> data;        // answer bytes 3 onward
  std::optional<std::uint32_t> address;  // the address argument, for commands that carry one
  bool blockWrite = false;               // 03 00 or 03 10, whatever its status
};

// Carries out one command payload (code bytes and arguments, big-endian). Malformed commands get a nonzero
// status and change nothing.
CommandOutcome ExecuteCommand(std::span<const std::uint8_t> command, DeviceMemory& memory,
                              const DeviceIdentity& identity);

// The answer payload: byte 0 echoes the command byte, bytes 1-2 the status (big-endian), then the data.
std::vector<std::uint8_t> AnswerPayload(std::uint8_t commandByte, std::uint16_t status,
                                        std::span<const std::uint8_t> data);

// Reads a big-endian 32-bit argument at offset (the caller checks the length).
std::uint32_t BigEndian32(std::span<const std::uint8_t> bytes, std::size_t offset);

}  // namespace fwu::sim
