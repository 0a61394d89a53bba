#pragma once

#include <cstdint>
#include <span>

#include "serial/link.h"

namespace fwu {

// Results of ReceiveFrame besides a payload length (0 or more).
inline constexpr std::int16_t kFrameNone = -1;      // nothing arriving, a bad start, or a byte time-out
inline constexpr std::int16_t kFrameCrcError = -2;  // a complete Frame whose CRC does not match
inline constexpr std::int16_t kFrameOverflow = -3;  // the content grew beyond the capacity

// The longest payload SendFrame builds; longer ones are refused.
inline constexpr int kMaxSendPayload = 296;

// CRC-16/KERMIT, bit by bit. A length of zero or less gives 0.
std::uint16_t Crc16(const std::uint8_t* data, std::int32_t length);

// Sends one Frame: DLE STX, control, payload with DLE doubled, DLE ETX, CRC low byte first. The outcome of the
// write is not examined; the caller learns of trouble from what arrives afterwards. Always returns 0; a payload
// longer than kMaxSendPayload sends nothing.
int SendFrame(Link& link, std::uint8_t control, std::span<const std::uint8_t> payload);

// Receives one Frame whose first byte arrives before the deadline has passed; once a Frame has begun, each of its
// bytes may follow the one before by up to 1000 ms. capacity bounds the content (control byte + payload + ETX);
// payloadOut must hold capacity - 2 bytes and is never written past its end. Returns the payload length, or
// kFrameNone, kFrameCrcError or kFrameOverflow.
std::int16_t ReceiveFrame(Link& link, std::uint8_t& controlOut, std::span<std::uint8_t> payloadOut,
                          std::int16_t capacity, Deadline& firstByte);

// The same as a poll: when no Frame is arriving, it gives up one tick after the call.
std::int16_t ReceiveFrame(Link& link, std::uint8_t& controlOut, std::span<std::uint8_t> payloadOut,
                          std::int16_t capacity);

}  // namespace fwu
