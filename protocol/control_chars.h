#pragma once

#include <cstdint>

namespace fwu {

// Control characters of the boot loader's link.
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kEot = 0x04;
inline constexpr std::uint8_t kEnq = 0x05;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kNak = 0x15;

// The name of a control byte a Frame can carry, for logs and traces; nullptr for any other byte.
constexpr const char* ControlCharName(std::uint8_t byte) {
  switch (byte) {
    case kStx:
      return "STX";
    case kEot:
      return "EOT";
    case kEnq:
      return "ENQ";
    case kAck:
      return "ACK";
    case kNak:
      return "NAK";
    default:
      return nullptr;
  }
}

}  // namespace fwu
