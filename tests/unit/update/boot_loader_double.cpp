#include "unit/update/boot_loader_double.h"

#include <array>
#include <cstdio>

namespace fwu::test {

namespace {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kEnq = 0x05;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kNak = 0x15;

// The identification message as the boot loader expects it, written out by hand: STX "kzkz42" ETX BCC, where the
// BCC is the XOR of the code and ETX.
const Bytes kIdentification = {kStx, 'k', 'z', 'k', 'z', '4', '2', kEtx, 0x05};

constexpr std::size_t kBlockWriteLength = 266;
constexpr std::size_t kBlockHeaderLength = 10;

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    std::array<char, 4> digits{};
    static_cast<void>(std::snprintf(digits.data(), digits.size(), "%02X", b));
    text += (text.empty() ? "" : " ") + std::string(digits.data());
  }
  return text;
}

}  // namespace

BootLoaderDouble::BootLoaderDouble(ScriptedPort& port) {
  port.OnWrite([this](ScriptedPort& p, std::span<const std::uint8_t> written) { Take(p, written); });
}

BootLoaderDouble::Answer BootLoaderDouble::Ok(std::initializer_list<std::uint8_t> data) {
  return Ok(std::span<const std::uint8_t>(data.begin(), data.size()));
}

BootLoaderDouble::Answer BootLoaderDouble::Ok(std::span<const std::uint8_t> data) {
  Answer answer{{0x00, 0x00, 0x00}};
  answer.payload.insert(answer.payload.end(), data.begin(), data.end());
  return answer;
}

BootLoaderDouble::Answer BootLoaderDouble::Status(std::uint16_t status) {
  return {{0x00, static_cast<std::uint8_t>(status >> 8U), static_cast<std::uint8_t>(status & 0xFFU)}};
}

std::string BootLoaderDouble::Describe(const Bytes& command) {
  if (command.size() == kBlockWriteLength) {
    return Hex(std::span(command).first(kBlockHeaderLength)) + " +256";
  }
  return Hex(command);
}

void BootLoaderDouble::Take(ScriptedPort& port, std::span<const std::uint8_t> written) {
  if (written.size() >= 2 && written[0] == kDle && written[1] == kStx) {
    for (const ParsedFrame& frame : ParseFrames(written)) {
      if (frame.crcOk) {
        TakeFrame(port, frame);
      }
    }
    return;
  }
  TakeIdentification(port, written);
}

void BootLoaderDouble::TakeIdentification(ScriptedPort& port, std::span<const std::uint8_t> written) {
  if (!written.empty() && written[0] == kStx) {
    identification_.clear();
  }
  identification_.insert(identification_.end(), written.begin(), written.end());
  if (identification_ != kIdentification) {
    return;
  }
  identification_.clear();
  events_.emplace_back("id");
  turn_ = Turn::Idle;
  Bytes reply{kStx};
  std::uint8_t bcc = kEtx;
  for (const std::uint8_t b : bootReplyBody_) {
    reply.push_back(b);
    bcc ^= b;
  }
  reply.push_back(kEtx);
  reply.push_back(bcc);
  port.Arrive(reply);
}

void BootLoaderDouble::TakeFrame(ScriptedPort& port, const ParsedFrame& frame) {
  switch (frame.control) {
    case kEnq:
      events_.emplace_back("enq");
      if (answerEnquiry_) {
        port.Arrive(WireFrame(kAck));
      }
      break;
    case kStx: {
      const int index = static_cast<int>(commands_.size());
      commands_.push_back(frame.payload);
      commandTimes_.push_back(port.clock().NowMs());
      events_.push_back(Describe(frame.payload));
      const Answer answer = Decide(frame.payload, index);
      if (answer.silent) {
        turn_ = Turn::Idle;
        break;
      }
      pendingAnswer_ = answer.payload;
      turn_ = Turn::HostTurn;
      port.Arrive(WireFrame(kAck));
      break;
    }
    case kEot:
      if (turn_ == Turn::HostTurn) {
        turn_ = Turn::AwaitAck;
        port.Arrive(WireFrame(kStx, pendingAnswer_));
      }
      break;
    case kNak:
      if (turn_ == Turn::AwaitAck) {
        port.Arrive(WireFrame(kStx, pendingAnswer_));
      }
      break;
    case kAck:
      if (turn_ == Turn::AwaitAck) {
        turn_ = Turn::Idle;
        port.Arrive(WireFrame(kEot));
      }
      break;
    default:
      break;
  }
}

BootLoaderDouble::Answer BootLoaderDouble::Decide(const Bytes& command, int index) const {
  if (policy_) {
    if (auto answer = policy_(command, index)) {
      return *answer;
    }
  }
  if (command == Bytes{0x0A, 0x00}) {
    return Ok({programKind_});
  }
  if (command == Bytes{0xF0, 0x10}) {
    const Bytes text(version_.begin(), version_.end());
    return Ok(text);
  }
  return Ok();
}

}  // namespace fwu::test
