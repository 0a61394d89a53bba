#include "support/wire.h"

#include <algorithm>

namespace fwu::test {

namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;

// CRC-16/KERMIT, the reflected form of polynomial 0x1021, written here without reference to the program's code.
std::uint16_t Kermit(const Bytes& data) {
  std::uint16_t crc = 0;
  for (const std::uint8_t byte : data) {
    crc = static_cast<std::uint16_t>(crc ^ byte);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 1U) != 0 ? (crc >> 1U) ^ 0x8408U : crc >> 1U);
    }
  }
  return crc;
}

}  // namespace

Bytes WireFrame(std::uint8_t control, std::span<const std::uint8_t> payload) {
  Bytes covered{control};
  covered.insert(covered.end(), payload.begin(), payload.end());
  covered.push_back(kEtx);
  const std::uint16_t crc = Kermit(covered);
  Bytes frame{kDle, kStx, control};
  for (const std::uint8_t byte : payload) {
    frame.push_back(byte);
    if (byte == kDle) {
      frame.push_back(kDle);
    }
  }
  frame.insert(frame.end(), {kDle, kEtx, static_cast<std::uint8_t>(crc & 0xFFU), static_cast<std::uint8_t>(crc >> 8U)});
  return frame;
}

Bytes WireFrame(std::uint8_t control, std::initializer_list<std::uint8_t> payload) {
  return WireFrame(control, std::span<const std::uint8_t>(payload.begin(), payload.size()));
}

Bytes DamagedFrame(std::uint8_t control, std::span<const std::uint8_t> payload) {
  Bytes frame = WireFrame(control, payload);
  frame.back() ^= 0x5AU;
  return frame;
}

std::vector<ParsedFrame> ParseFrames(std::span<const std::uint8_t> stream) {
  std::vector<ParsedFrame> frames;
  std::size_t i = 0;
  while (i + 1 < stream.size()) {
    if (stream[i] != kDle || stream[i + 1] != kStx) {
      ++i;
      continue;
    }
    i += 2;
    Bytes content;
    bool complete = false;
    while (i < stream.size()) {
      const std::uint8_t byte = stream[i++];
      if (byte == kDle && i < stream.size()) {
        const std::uint8_t next = stream[i++];
        if (next == kEtx) {
          content.push_back(kEtx);
          complete = true;
          break;
        }
        content.push_back(next);
      } else {
        content.push_back(byte);
      }
    }
    if (!complete || content.size() < 2 || i + 2 > stream.size()) {
      break;
    }
    const auto crc = static_cast<std::uint16_t>(stream[i] | (stream[i + 1] << 8U));
    i += 2;
    ParsedFrame frame;
    frame.control = content.front();
    frame.payload.assign(content.begin() + 1, content.end() - 1);
    frame.crcOk = crc == Kermit(content);
    frames.push_back(std::move(frame));
  }
  return frames;
}

Bytes BlockWritePayload(std::uint8_t qualifier, std::uint32_t address, std::span<const std::uint8_t> block) {
  // Sized once and filled in place: growing a vector built from a list trips a false bounds warning of GCC 12 at -O3.
  constexpr std::size_t kHeader = 10;
  Bytes payload(kHeader + block.size());
  payload[0] = 0x03;
  payload[1] = qualifier;
  for (std::size_t i = 0; i < 4; ++i) {
    payload[2 + i] = static_cast<std::uint8_t>(address >> (8U * (3 - i)));
  }
  payload[8] = 0x01;  // length 256, big-endian: 00 00 01 00
  std::copy(block.begin(), block.end(), payload.begin() + kHeader);
  return payload;
}

Bytes BlockWritePayload(std::uint8_t qualifier, std::uint32_t address, std::uint8_t fill) {
  const Bytes block(256, fill);
  return BlockWritePayload(qualifier, address, block);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

}  // namespace fwu::test
