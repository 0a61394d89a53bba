// One whole TransactCommand against a peer whose bytes, and their timing, come from the fuzzer. Beyond "no crash":
// the host sends only the Frames the exchange allows, in their order and within their retry bounds (at most three
// command Frames, one EOT, two NAKs, one ACK), every outcome matches what was sent, nothing is sent after a failure,
// and no phase outlasts its limit by more than one Frame still arriving when the limit passed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <span>
#include <vector>

#include "fuzz_line.h"
#include "protocol/transaction.h"
#include "support/wire.h"

namespace {

using fwu::test::Bytes;
using fwu::test::Require;
using fwu::test::WatchedPort;

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kDle = 0x10;

constexpr std::uint32_t kAckLimitMs = 1000;
constexpr std::uint32_t kPauseMs = 50;
constexpr std::uint32_t kResponseLimitMs = 3000;
constexpr std::uint32_t kClosingLimitMs = 1000;
// The closing EOT is taken in with room for 18 payload bytes.
constexpr std::int16_t kClosingCapacity = 20;
// A Frame that began before a limit passed may still finish: its bytes may each come up to this long apart.
constexpr std::uint32_t kByteGapMs = 1000;
// Each write waits 10 ms first, and 100 ms more after a write call that took nothing (one call may be made to).
constexpr std::uint32_t kSettleMs = 10;
constexpr std::uint32_t kRetryGapMs = 100;
constexpr std::uint32_t kGiveUpMs = 600'000;

struct Case {
  Bytes command;
  std::int16_t capacity;
};

// A block write full of DLEs (each goes out doubled), as long as any command the program sends.
Bytes BlockWrite() {
  Bytes command{0x03, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00};
  for (int i = 0; i < 256; ++i) {
    command.push_back(i % 3 == 0 ? kDle : static_cast<std::uint8_t>(i));
  }
  return command;
}

// The program's commands with the capacities it gives their answers, then capacities at the codec's edges.
std::vector<Case> Cases() {
  return {{{0x0A, 0x00}, 280}, {BlockWrite(), 50}, {{0xF0, 0x10}, 280}, {{0x07, 0x00, 0x00}, 280},
          {{0x0A, 0x00}, 20},  {{0x0A, 0x00}, 3},  {{0x0A, 0x00}, 2},   {{}, 599}};
}

struct HostFrames {
  int commands = 0;
  int eots = 0;
  int naks = 0;
  int acks = 0;
  // When the last byte of the first command Frame, the EOT and the ACK went out.
  std::uint32_t commandAtMs = 0;
  std::uint32_t eotAtMs = 0;
  std::uint32_t ackAtMs = 0;
};

// The time of the write call that carried the byte at offset in everything the host wrote.
std::uint32_t WriteTimeAt(const WatchedPort& port, std::size_t offset) {
  for (const auto& write : port.Writes()) {
    if (offset < write.bytes.size()) {
      return write.atMs;
    }
    offset -= write.bytes.size();
  }
  return 0;
}

// Walks what the host wrote: command Frames, then EOT, NAKs and ACK, in that order and nothing else.
HostFrames CheckHostFrames(const WatchedPort& port, const Bytes& command) {
  const Bytes written = port.WrittenBytes();
  Bytes rebuilt;
  HostFrames seen;
  for (const auto& frame : fwu::test::ParseFrames(written)) {
    Require(frame.crcOk, "the host sends a Frame with a wrong CRC");
    const Bytes wire = fwu::test::WireFrame(frame.control, frame.payload);
    rebuilt.insert(rebuilt.end(), wire.begin(), wire.end());
    const std::uint32_t sentAt = WriteTimeAt(port, rebuilt.size() - 1);
    if (frame.control == kStx) {
      Require(frame.payload == command, "a command Frame differs from the command");
      Require(seen.eots == 0, "a command Frame is sent after the EOT");
      seen.commandAtMs = seen.commands++ == 0 ? sentAt : seen.commandAtMs;
      continue;
    }
    Require(frame.payload.empty(), "a control Frame carries a payload");
    Require(seen.acks == 0, "something is sent after the ACK");
    if (frame.control == kEot) {
      Require(seen.commands > 0 && seen.eots == 0, "the EOT comes twice or before the command");
      ++seen.eots;
      seen.eotAtMs = sentAt;
    } else if (frame.control == kNak) {
      Require(seen.eots == 1, "a NAK is sent before the line was handed over");
      ++seen.naks;
    } else {
      Require(frame.control == kAck && seen.eots == 1, "an unexpected Frame is sent");
      ++seen.acks;
      seen.ackAtMs = sentAt;
    }
  }
  Require(rebuilt == written, "the host writes bytes outside its Frames");
  Require(seen.commands >= 1 && seen.commands <= 3, "the command Frame goes out more than three times");
  Require(seen.naks <= 2, "more than two NAKs are sent for one response");
  return seen;
}

void CheckOutcome(std::int16_t result, const HostFrames& seen, std::int16_t capacity) {
  switch (result) {
    case fwu::kAckTimeout:
    case fwu::kAckCrcError:
    case fwu::kNotAck:
    case fwu::kAckOverrun:
      Require(seen.eots == 0, "the line is handed over although the command was not acknowledged");
      return;
    case fwu::kAckRetryOver:
      Require(seen.eots == 0 && seen.commands == 3, "retry over without exactly three command Frames");
      return;
    case fwu::kResponseTimeout:
    case fwu::kNotData:
    case fwu::kResponseOverrun:
      Require(seen.eots == 1 && seen.acks == 0, "a failed response is acknowledged");
      return;
    case fwu::kResponseRetryOver:
      Require(seen.eots == 1 && seen.acks == 0 && seen.naks == 2, "retry over without exactly two NAKs");
      return;
    case fwu::kEotTimeout:
    case fwu::kNotEot:
    case fwu::kEotOverrun:
      Require(seen.acks == 1, "a closing failure without an acknowledged response");
      return;
    default:
      Require(result >= 0, "a result code outside the exchange's list");
      Require(seen.acks == 1, "success without acknowledging the response");
      Require(result <= capacity - 2, "a response longer than its buffer");
      return;
  }
}

std::uint32_t LastReadAtOrBefore(const WatchedPort& port, std::uint32_t startMs, std::uint32_t endMs) {
  std::uint32_t last = startMs;
  for (const auto& read : port.Reads()) {
    if (read.atMs - startMs <= endMs - startMs) {
      last = read.atMs;
    }
  }
  return last;
}

struct Timing {
  const WatchedPort& port;
  std::int16_t capacity;
  std::uint32_t writeRetryMs;  // what one refused write call may add
};

// A phase ends one tick past its limit; only a Frame that was still arriving when the limit passed may keep it
// going, up to one byte gap past that Frame's last byte. The Frames the host writes inside the phase (repeats,
// NAKs) add their own waits.
void CheckPhase(const Timing& timing, std::uint32_t startMs, std::uint32_t endMs, std::uint32_t limitMs,
                std::int16_t capacity, int writesInPhase, const char* invariant) {
  std::uint32_t allowed = limitMs + 1;
  if (fwu::test::FrameInProgress(timing.port.Reads(), startMs, startMs + limitMs, capacity)) {
    const std::uint32_t lastRead = LastReadAtOrBefore(timing.port, startMs, endMs);
    allowed = std::max(allowed, lastRead - startMs + kByteGapMs + 1);
  }
  allowed += kSettleMs * static_cast<std::uint32_t>(writesInPhase) + timing.writeRetryMs;
  Require(endMs - startMs <= allowed, invariant);
}

void CheckTimes(const Timing& timing, std::int16_t result, const HostFrames& seen, std::uint32_t endMs) {
  const std::uint32_t ackStart = seen.commandAtMs;
  const std::uint32_t ackEnd = seen.eots > 0 ? seen.eotAtMs - kSettleMs : endMs;
  CheckPhase(timing, ackStart, ackEnd, kAckLimitMs, timing.capacity, seen.commands - 1,
             "the ACK phase outlasts 1000 ms");
  if (result == fwu::kAckTimeout) {
    Require(endMs - ackStart > kAckLimitMs, "an ACK time-out before 1000 ms");
  }
  if (seen.eots == 0) {
    return;
  }
  const std::uint32_t responseStart = seen.eotAtMs + kPauseMs;
  const std::uint32_t responseEnd = seen.acks > 0 ? seen.ackAtMs - kSettleMs : endMs;
  CheckPhase(timing, responseStart, responseEnd, kResponseLimitMs, timing.capacity, seen.naks,
             "the response phase outlasts 3000 ms");
  if (result == fwu::kResponseTimeout) {
    Require(endMs - responseStart > kResponseLimitMs, "a response time-out before 3000 ms");
  }
  if (seen.acks == 0) {
    return;
  }
  const std::uint32_t closingStart = seen.ackAtMs;
  CheckPhase(timing, closingStart, endMs, kClosingLimitMs, kClosingCapacity, 0, "the closing phase outlasts 1000 ms");
  if (result == fwu::kEotTimeout) {
    Require(endMs - closingStart > kClosingLimitMs, "an EOT time-out before 1000 ms");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  static const std::vector<Case> kCases = Cases();
  const Case& chosen = kCases[data[0] % kCases.size()];
  fwu::test::WatchedClock clock;
  WatchedPort port(clock, kGiveUpMs);
  // The second byte may make one write call fail or stay short, as a driver under strain does.
  if (const std::uint8_t writeFault = data[1]; writeFault != 0) {
    port.ScriptWrite((writeFault & 0x07) + 1,
                     {(writeFault & 0x08U) != 0, static_cast<std::uint32_t>(writeFault >> 4U)});
  }
  fwu::test::ScriptPeer peer(port, fwu::test::DecodeTimedStream(std::span(data + 2, size - 2)));
  fwu::Link link{port, clock};
  port.WatchLink(link.reader);

  std::vector<std::uint8_t> response(chosen.capacity > 2 ? static_cast<std::size_t>(chosen.capacity - 2) : 0U);
  const std::int16_t result = fwu::TransactCommand(link, chosen.command, response, chosen.capacity);
  const std::uint32_t endMs = clock.NowMs();
  port.Settle();

  const HostFrames seen = CheckHostFrames(port, chosen.command);
  if (fwu::test::Tracing()) {
    static_cast<void>(std::fprintf(stderr, "result %d after %u ms: %d command, %d EOT, %d NAK, %d ACK Frames\n", result,
                                   endMs - seen.commandAtMs, seen.commands, seen.eots, seen.naks, seen.acks));
  }
  CheckOutcome(result, seen, chosen.capacity);
  CheckTimes({port, chosen.capacity, data[1] != 0 ? kRetryGapMs : 0}, result, seen, endMs);
  Require(port.LongestSilenceMs() <= kPauseMs + kResponseLimitMs + 1,
          "the host waits in silence longer than the longest limit");
  return 0;
}
