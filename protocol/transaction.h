#pragma once

#include <cstdint>
#include <span>

#include "serial/link.h"

namespace fwu {

// Result codes of one command exchange (negative only; 0 or more is the response length).
inline constexpr std::int16_t kAckTimeout = -11;
inline constexpr std::int16_t kAckCrcError = -13;
inline constexpr std::int16_t kNotAck = -14;
inline constexpr std::int16_t kAckRetryOver = -15;
inline constexpr std::int16_t kAckOverrun = -17;
inline constexpr std::int16_t kResponseTimeout = -20;
inline constexpr std::int16_t kEotTimeout = -22;
inline constexpr std::int16_t kNotData = -24;
inline constexpr std::int16_t kResponseRetryOver = -25;
inline constexpr std::int16_t kNotEot = -26;
inline constexpr std::int16_t kResponseOverrun = -28;
inline constexpr std::int16_t kEotOverrun = -29;

// Runs one half-duplex exchange: command Frame, ACK (NAK repeats it), EOT, 50 ms pause, response Frame (a damaged
// one is answered with NAK), ACK, closing EOT. response must hold capacity - 2 bytes. Returns the response
// payload length or one of the codes above. The port must be open.
std::int16_t TransactCommand(Link& link, std::span<const std::uint8_t> command, std::span<std::uint8_t> response,
                             std::int16_t capacity);

}  // namespace fwu
