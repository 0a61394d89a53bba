#include "protocol/transaction.h"

#include <array>

#include "protocol/control_chars.h"
#include "protocol/frame.h"

namespace fwu {

namespace {

// The boot loader acknowledges a command within this long of its first sending; repeats after a NAK do not
// extend it.
constexpr std::uint32_t kAckLimitMs = 1000;
// After EOT the boot loader needs a quiet line before it turns round and answers.
constexpr std::uint32_t kTurnPauseMs = 50;
// Writing a block into flash takes the boot loader time: its answer may come this late, NAKs included.
constexpr std::uint32_t kResponseLimitMs = 3000;
constexpr std::uint32_t kClosingLimitMs = 1000;
// The third NAK of a command, or the third damaged response, ends the exchange.
constexpr int kMaxNaks = 3;
constexpr int kMaxDamagedResponses = 3;
// The closing EOT carries no payload worth keeping; more than 18 payload bytes mean the peer is lost.
constexpr std::int16_t kClosingCapacity = 20;

// ACK phase. Returns 0 once the command is acknowledged, or a result code.
std::int16_t AwaitAck(Link& link, std::span<const std::uint8_t> command, std::span<std::uint8_t> response,
                      std::int16_t capacity) {
  Deadline phase = LimitFromNow(link, kAckLimitMs);
  int naks = 0;
  for (;;) {
    if (phase.Passed(link.clock)) {
      return kAckTimeout;
    }
    std::uint8_t control = 0;
    const std::int16_t got = ReceiveFrame(link, control, response, capacity, phase);
    if (got == kFrameCrcError) {
      return kAckCrcError;  // a damaged acknowledgement is not answered: we cannot tell ACK from NAK
    }
    if (got == kFrameOverflow) {
      return kAckOverrun;
    }
    if (got < 0) {
      continue;
    }
    if (control == kAck) {
      return 0;
    }
    if (control != kNak) {
      return kNotAck;
    }
    if (++naks == kMaxNaks) {
      return kAckRetryOver;
    }
    SendFrame(link, kStx, command);  // the same command again; the clock keeps running
  }
}

// Response phase. Returns the response's payload length, or a result code.
std::int16_t AwaitResponse(Link& link, std::span<std::uint8_t> response, std::int16_t capacity) {
  Deadline phase = LimitFromNow(link, kResponseLimitMs);
  int damaged = 0;
  for (;;) {
    if (phase.Passed(link.clock)) {
      return kResponseTimeout;
    }
    std::uint8_t control = 0;
    const std::int16_t got = ReceiveFrame(link, control, response, capacity, phase);
    if (got == kFrameCrcError) {
      if (++damaged == kMaxDamagedResponses) {
        return kResponseRetryOver;
      }
      SendFrame(link, kNak, {});  // asks the boot loader for the response once more
      continue;
    }
    if (got == kFrameOverflow) {
      return kResponseOverrun;
    }
    if (got < 0) {
      continue;
    }
    return control == kStx ? got : kNotData;
  }
}

// Closing phase: the boot loader hands the line back with EOT. Returns 0 or a result code.
std::int16_t AwaitClosingEot(Link& link) {
  std::array<std::uint8_t, kClosingCapacity - 2> scratch{};
  Deadline phase = LimitFromNow(link, kClosingLimitMs);
  for (;;) {
    if (phase.Passed(link.clock)) {
      return kEotTimeout;
    }
    std::uint8_t control = 0;
    const std::int16_t got = ReceiveFrame(link, control, scratch, kClosingCapacity, phase);
    if (got == kFrameOverflow) {
      return kEotOverrun;
    }
    if (got < 0) {
      continue;  // a damaged closing Frame is not answered; the EOT may still come
    }
    return control == kEot ? 0 : kNotEot;
  }
}

}  // namespace

std::int16_t TransactCommand(Link& link, std::span<const std::uint8_t> command, std::span<std::uint8_t> response,
                             std::int16_t capacity) {
  // Leftovers of an earlier, failed exchange must not be taken for this one's answers.
  PurgeLine(link);
  SendFrame(link, kStx, command);
  if (const std::int16_t acked = AwaitAck(link, command, response, capacity); acked < 0) {
    return acked;
  }
  SendFrame(link, kEot, {});
  link.clock.SleepMs(kTurnPauseMs);
  const std::int16_t length = AwaitResponse(link, response, capacity);
  if (length < 0) {
    return length;
  }
  SendFrame(link, kAck, {});
  if (const std::int16_t closed = AwaitClosingEot(link); closed < 0) {
    return closed;
  }
  return length;
}

}  // namespace fwu
