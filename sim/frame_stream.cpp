#include "sim/frame_stream.h"

#include "protocol/control_chars.h"
#include "protocol/frame.h"

namespace fwu::sim {

std::optional<ReceivedFrame> FrameReader::Expire(TimeUs nowUs) {
  if (state_ != State::Hunt && nowUs - lastUs_ > kFrameGapUs) {
    return Abandon(ReceivedFrame::Outcome::Truncated);
  }
  return std::nullopt;
}

void FrameReader::Reset() {
  state_ = State::Hunt;
  escape_ = false;
  content_.clear();
  wireLength_ = 0;
}

std::optional<ReceivedFrame> FrameReader::Abandon(ReceivedFrame::Outcome outcome) {
  ReceivedFrame frame;
  frame.outcome = outcome;
  if (!content_.empty()) {
    frame.control = content_.front();
  }
  frame.wireLength = wireLength_;
  frame.startUs = startUs_;
  Reset();
  return frame;
}

std::optional<ReceivedFrame> FrameReader::Push(std::uint8_t byte, TimeUs atUs) {
  lastUs_ = atUs;
  switch (state_) {
    case State::Hunt:
      if (byte == kDle) {
        state_ = State::Start;
        wireLength_ = 1;
        startUs_ = atUs;
      }
      return std::nullopt;
    case State::Start:
      ++wireLength_;
      if (byte == kStx) {
        state_ = State::Content;
      } else if (byte != kDle) {
        Reset();  // DLE followed by noise: not a Frame after all
      }
      return std::nullopt;
    case State::Content:
      ++wireLength_;
      if (!escape_ && byte == kDle) {
        escape_ = true;
        return std::nullopt;
      }
      if (content_.size() >= kMaxFrameContent) {
        return Abandon(ReceivedFrame::Outcome::Overrun);
      }
      content_.push_back(byte);
      // DLE ETX ends the content; DLE DLE is one DLE; a DLE before any other byte is dropped.
      state_ = escape_ && byte == kEtx ? State::CrcLow : State::Content;
      escape_ = false;
      return std::nullopt;
    case State::CrcLow:
      ++wireLength_;
      crcLow_ = byte;
      state_ = State::CrcHigh;
      return std::nullopt;
    case State::CrcHigh:
      ++wireLength_;
      return Finish(static_cast<std::uint16_t>(crcLow_ | (byte << 8U)));
  }
  return std::nullopt;
}

ReceivedFrame FrameReader::Finish(std::uint16_t receivedCrc) {
  ReceivedFrame frame;
  frame.wireLength = wireLength_;
  frame.startUs = startUs_;
  const bool crcOk = Crc16(content_.data(), static_cast<std::int32_t>(content_.size())) == receivedCrc;
  if (content_.size() < 2) {
    frame.outcome = ReceivedFrame::Outcome::NoControl;
  } else {
    frame.outcome = crcOk ? ReceivedFrame::Outcome::Good : ReceivedFrame::Outcome::BadCrc;
    frame.control = content_.front();
    frame.payload.assign(content_.begin() + 1, content_.end() - 1);
  }
  Reset();
  return frame;
}

std::vector<std::uint8_t> EncodeFrame(std::uint8_t control, std::span<const std::uint8_t> payload, bool damageCrc) {
  std::vector<std::uint8_t> covered;
  covered.reserve(payload.size() + 2);
  covered.push_back(control);
  covered.insert(covered.end(), payload.begin(), payload.end());
  covered.push_back(kEtx);
  std::uint16_t crc = Crc16(covered.data(), static_cast<std::int32_t>(covered.size()));
  if (damageCrc) {
    crc = static_cast<std::uint16_t>(crc ^ 0xA55AU);
  }

  std::vector<std::uint8_t> wire{kDle, kStx, control};
  wire.reserve(2 * payload.size() + 7);
  for (const std::uint8_t byte : payload) {
    wire.push_back(byte);
    if (byte == kDle) {
      wire.push_back(kDle);
    }
  }
  wire.insert(wire.end(), {kDle, kEtx, static_cast<std::uint8_t>(crc & 0xFFU), static_cast<std::uint8_t>(crc >> 8U)});
  return wire;
}

}  // namespace fwu::sim
