#include "protocol/frame.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "protocol/control_chars.h"
#include "serial/write_bytes.h"

namespace fwu {

namespace {

// The Frame image on the send side: 2n + 7 bytes for an n-byte payload of nothing but DLEs.
constexpr std::size_t kSendImageSize = 600;
constexpr std::size_t kCrcInputSize = 300;
// The receive side's working buffer: 600 content bytes and the two CRC bytes behind them.
constexpr std::size_t kReceiveContentSize = 600;
// A Frame may pause this long between two of its bytes (and before its STX) before it counts as lost.
constexpr std::uint32_t kByteGapMs = 1000;

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::int32_t length) {
  std::uint16_t crc = 0;
  for (std::int32_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ data[i]);
    for (int bit = 0; bit < 8; ++bit) {
      const bool lowBit = (crc & 1U) != 0;
      crc = static_cast<std::uint16_t>(crc >> 1U);
      if (lowBit) {
        crc = static_cast<std::uint16_t>(crc ^ 0x8408U);
      }
    }
  }
  return crc;
}

int SendFrame(Link& link, std::uint8_t control, std::span<const std::uint8_t> payload) {
  if (payload.size() > static_cast<std::size_t>(kMaxSendPayload)) {
    return 0;  // no caller sends one; refusing keeps the image within its bounds
  }
  std::array<std::uint8_t, kSendImageSize> image{};
  std::array<std::uint8_t, kCrcInputSize> crcInput{};
  std::size_t length = 0;
  std::size_t crcLength = 0;
  image[length++] = kDle;
  image[length++] = kStx;
  image[length++] = control;
  crcInput[crcLength++] = control;
  for (const std::uint8_t byte : payload) {
    crcInput[crcLength++] = byte;
    image[length++] = byte;
    if (byte == kDle) {
      image[length++] = kDle;  // a DLE in the payload is sent twice
    }
  }
  crcInput[crcLength++] = kEtx;
  image[length++] = kDle;
  image[length++] = kEtx;
  // The CRC goes out raw, low byte first, and is never doubled.
  const std::uint16_t crc = Crc16(crcInput.data(), static_cast<std::int32_t>(crcLength));
  image[length++] = static_cast<std::uint8_t>(crc & 0xFFU);
  image[length++] = static_cast<std::uint8_t>(crc >> 8U);
  WriteBytes(link, std::span<const std::uint8_t>(image.data(), length));
  return 0;
}

std::int16_t ReceiveFrame(Link& link, std::uint8_t& controlOut, std::span<std::uint8_t> payloadOut,
                          std::int16_t capacity, Deadline& firstByte) {
  // Start: a Frame begins with DLE; anything else is dropped and reported as no Frame.
  if (const auto first = ReadByte(link, firstByte); !first || *first != kDle) {
    return kFrameNone;
  }

  // Start marker: further DLEs are skipped until the STX, all within one gap counted from the first DLE.
  Deadline marker = Deadline::AtFirstWait(kByteGapMs);
  for (;;) {
    const auto byte = ReadByte(link, marker);
    if (!byte) {
      return kFrameNone;
    }
    if (*byte == kDle) {
      continue;
    }
    if (*byte == kStx) {
      break;
    }
    return kFrameNone;
  }

  // Content: control byte, undoubled payload, ETX. The working buffer bounds it whatever the capacity says. Each
  // gap is counted from the byte stored before it; a byte already held by the link comes without a gap.
  std::array<std::uint8_t, kReceiveContentSize + 2> buffer{};
  const std::size_t limit =
      std::min<std::size_t>(capacity < 0 ? 0U : static_cast<std::size_t>(capacity), kReceiveContentSize);
  std::size_t count = 0;
  bool escape = false;
  Deadline gap = Deadline::AtFirstWait(kByteGapMs);
  for (;;) {
    const auto byte = ReadByte(link, gap);
    if (!byte) {
      return kFrameNone;
    }
    if (!escape && *byte == kDle) {
      escape = true;  // the gap is measured from the byte before the DLE
      continue;
    }
    if (count >= limit) {
      return kFrameOverflow;  // the rest of the Frame stays unread
    }
    buffer[count++] = *byte;
    if (escape && *byte == kEtx) {
      break;
    }
    escape = false;
    gap = Deadline::AtFirstWait(kByteGapMs);
  }

  // The two CRC bytes come raw, without escaping, each within a gap of the byte before it.
  for (std::size_t got = 0; got < 2; ++got) {
    Deadline crcGap = Deadline::AtFirstWait(kByteGapMs);
    const auto byte = ReadByte(link, crcGap);
    if (!byte) {
      return kFrameNone;
    }
    buffer[count + got] = *byte;
  }

  const auto received = static_cast<std::uint16_t>(buffer[count] | (buffer[count + 1] << 8U));
  if (Crc16(buffer.data(), static_cast<std::int32_t>(count)) != received) {
    return kFrameCrcError;
  }

  // A content of the ETX alone has no control byte: it yields -1 like no Frame, with the ETX as control.
  const auto payloadLength = static_cast<std::int16_t>(static_cast<int>(count) - 2);
  if (payloadLength > 0) {
    if (static_cast<std::size_t>(payloadLength) > payloadOut.size()) {
      return kFrameOverflow;  // a caller's buffer smaller than its capacity promised is never overrun
    }
    std::memcpy(payloadOut.data(), &buffer[1], static_cast<std::size_t>(payloadLength));
  }
  controlOut = buffer[0];
  return payloadLength;
}

std::int16_t ReceiveFrame(Link& link, std::uint8_t& controlOut, std::span<std::uint8_t> payloadOut,
                          std::int16_t capacity) {
  Deadline now = Deadline::AtFirstWait(0);
  return ReceiveFrame(link, controlOut, payloadOut, capacity, now);
}

}  // namespace fwu
