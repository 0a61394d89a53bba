#include "sim/device_commands.h"

#include <algorithm>
#include <array>

namespace fwu::sim {

namespace {

using Region = DeviceMemory::Region;

constexpr std::size_t kCodeLength = 2;
// Block write: code, address (4), data length (4), the block.
constexpr std::size_t kBlockWriteLength = 266;
constexpr std::size_t kBlockDataOffset = 10;
constexpr std::uint32_t kBlockDataLength = 256;
// 07 10 and 08 00 name the second region by its start address.
constexpr std::size_t kAddressCommandLength = 6;
constexpr std::uint32_t kSecondRegionAddress = 0x30000;
// 07 00 carries one argument byte, always 00.
constexpr std::size_t kFinishLength = 3;

CommandOutcome Status(std::uint16_t status) {
  CommandOutcome outcome;
  outcome.status = status;
  return outcome;
}

CommandOutcome Erase(std::span<const std::uint8_t> command, DeviceMemory& memory, Region region) {
  if (command.size() != kCodeLength) {
    return Status(kStatusBadLength);
  }
  memory.Erase(region);
  return Status(kStatusOk);
}

std::uint16_t StatusOf(DeviceMemory::WriteResult result) {
  switch (result) {
    case DeviceMemory::WriteResult::Ok:
      return kStatusOk;
    case DeviceMemory::WriteResult::OutOfRange:
      return kStatusOutOfRange;
    case DeviceMemory::WriteResult::Unaligned:
      return kStatusUnaligned;
    case DeviceMemory::WriteResult::VerifyFailed:
      return kStatusVerifyFailed;
  }
  return kStatusVerifyFailed;
}

CommandOutcome WriteBlock(std::span<const std::uint8_t> command, DeviceMemory& memory, Region region) {
  CommandOutcome outcome;
  outcome.blockWrite = true;
  if (command.size() != kBlockWriteLength) {
    outcome.status = kStatusBadLength;
    return outcome;
  }
  outcome.address = BigEndian32(command, 2);
  if (BigEndian32(command, 6) != kBlockDataLength) {
    outcome.status = kStatusBadDataLength;
    return outcome;
  }
  outcome.status = StatusOf(memory.WriteBlock(region, *outcome.address, command.subspan(kBlockDataOffset)));
  return outcome;
}

CommandOutcome AtSecondRegion(std::span<const std::uint8_t> command) {
  if (command.size() != kAddressCommandLength) {
    return Status(kStatusBadLength);
  }
  CommandOutcome outcome;
  outcome.address = BigEndian32(command, 2);
  outcome.status = *outcome.address == kSecondRegionAddress ? kStatusOk : kStatusOutOfRange;
  return outcome;
}

CommandOutcome Plain(std::span<const std::uint8_t> command) {
  return Status(command.size() == kCodeLength ? kStatusOk : kStatusBadLength);
}

CommandOutcome Finish(std::span<const std::uint8_t> command) {
  if (command.size() != kFinishLength) {
    return Status(kStatusBadLength);
  }
  return Status(command[2] == 0 ? kStatusOk : kStatusBadArgument);
}

CommandOutcome Report(std::span<const std::uint8_t> command, std::span<const std::uint8_t> data) {
  CommandOutcome outcome = Plain(command);
  if (outcome.status == kStatusOk) {
    outcome.data.assign(data.begin(), data.end());
  }
  return outcome;
}

}  // namespace

std::uint32_t BigEndian32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) << 24U | static_cast<std::uint32_t>(bytes[offset + 1]) << 16U |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 8U | static_cast<std::uint32_t>(bytes[offset + 3]);
}

CommandOutcome ExecuteCommand(std::span<const std::uint8_t> command, DeviceMemory& memory,
                              const DeviceIdentity& identity) {
  if (command.size() < kCodeLength) {
    return Status(kStatusBadLength);
  }
  const CommandCode code{command[0], command[1]};
  if (code == CommandCode{0x0A, 0x00}) {
    const std::array<std::uint8_t, 1> kind{identity.programKind};
    return Report(command, kind);
  }
  if (code == CommandCode{0xF0, 0x10}) {
    const auto* text = reinterpret_cast<const std::uint8_t*>(identity.version.data());
    return Report(command, std::span<const std::uint8_t>(text, identity.version.size()));
  }
  if (code == CommandCode{0x03, 0x20}) {
    return Erase(command, memory, Region::Second);
  }
  if (code == CommandCode{0x03, 0x10}) {
    return WriteBlock(command, memory, Region::Second);
  }
  if (code == CommandCode{0x07, 0x10} || code == CommandCode{0x08, 0x00}) {
    return AtSecondRegion(command);
  }
  if (code == CommandCode{0x02, 0x00}) {
    return Erase(command, memory, Region::Main);
  }
  if (code == CommandCode{0x03, 0x00}) {
    return WriteBlock(command, memory, Region::Main);
  }
  if (code == CommandCode{0x05, 0x00}) {
    return Plain(command);
  }
  if (code == CommandCode{0x07, 0x00}) {
    return Finish(command);
  }
  return Status(kStatusUnknownCommand);
}

std::vector<std::uint8_t> AnswerPayload(std::uint8_t commandByte, std::uint16_t status,
                                        std::span<const std::uint8_t> data) {
  constexpr std::size_t kHeader = 3;
  // Sized once and filled in place (growing a 3-byte vector trips a false bounds warning of GCC 12 at -O3).
  std::vector<std::uint8_t> payload(kHeader + data.size());
  payload[0] = commandByte;
  payload[1] = static_cast<std::uint8_t>(status >> 8U);
  payload[2] = static_cast<std::uint8_t>(status & 0xFFU);
  std::copy(data.begin(), data.end(), payload.begin() + kHeader);
  return payload;
}

}  // namespace fwu::sim
