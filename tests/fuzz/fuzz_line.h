#pragma once

// What the fuzz harnesses share: a line that watches the code under test (every byte taken, every write, the
// virtual time of each), a decoder that turns fuzzer bytes into a timed stream of peer output, and the check that
// turns a broken invariant into a finding.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "serial/line_reader.h"
#include "support/scripted_port.h"
#include "support/virtual_clock.h"

namespace fwu::test {

class WatchedPort;

// True when FWU_FUZZ_TRACE is set: the harnesses then describe each run on stderr, to read a finding by.
bool Tracing();

// Ends the run as a finding, naming the invariant that broke, when holds is false.
void Require(bool holds, const char* invariant);

// The virtual clock of a watched line: before a sleep moves it on, the line notes which bytes the code under test
// has read by then.
class WatchedClock : public VirtualClock {
 public:
  void SleepMs(std::uint32_t ms) override;
  void Watch(WatchedPort* port) { port_ = port; }

 private:
  WatchedPort* port_ = nullptr;
};

// The scripted line with a watch on it. It keeps the time of every byte the code under test reads and of every
// write it makes, so a harness can tell how long the code went without either, and it stops a run whose virtual
// time runs away (a loop that never gives up) long before libFuzzer's own time-out would.
//
// A read of the port hands the link every byte that has arrived; the link serves them to the protocol one at a
// time, and a purge may drop some unread. A byte counts as read when the protocol takes it from the link, at the
// time it does: the line asks the link what it still holds whenever time is about to move on (a read of the port,
// a sleep, the end of the run), since until then the clock stands still.
class WatchedPort : public ScriptedPort {
 public:
  struct ByteRead {
    std::uint32_t atMs = 0;
    std::uint8_t byte = 0;
  };

  // giveUpMs: virtual time after which a run counts as hung.
  WatchedPort(WatchedClock& clock, std::uint32_t giveUpMs);
  ~WatchedPort() override;
  WatchedPort(const WatchedPort&) = delete;
  WatchedPort& operator=(const WatchedPort&) = delete;

  // The link reading this line; without one, every byte taken from the port counts as read at once.
  void WatchLink(const LineReader& reader) { reader_ = &reader; }
  // Notes the bytes the protocol has read since time last moved on. Call it before looking at Reads() or
  // LongestSilenceMs() after the code under test has returned.
  void Settle();

  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override;
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override;
  void Purge() override;

  // The cable is pulled: nothing arrives any more and every write call fails, while the handle stays valid.
  void Cut() { cut_ = true; }
  [[nodiscard]] bool IsCut() const { return cut_; }

  [[nodiscard]] const std::vector<ByteRead>& Reads() const { return reads_; }
  [[nodiscard]] std::vector<std::uint8_t> ReadBytes() const;
  // Every write call the code under test made, accepted or failed.
  [[nodiscard]] int WriteAttempts() const { return WriteCalls() + failedWrites_; }
  [[nodiscard]] std::uint32_t ElapsedMs() { return clock().NowMs() - startMs_; }
  // The longest stretch, up to now, in which the code under test neither read a byte nor made a write call.
  [[nodiscard]] std::uint32_t LongestSilenceMs();

 private:
  void Activity();

  WatchedClock& watchedClock_;
  const LineReader* reader_ = nullptr;
  std::uint32_t startMs_;
  std::uint32_t giveUpMs_;
  std::uint32_t lastActivityMs_;
  std::uint32_t longestSilenceMs_ = 0;
  bool cut_ = false;
  int failedWrites_ = 0;
  std::vector<std::uint8_t> taken_;  // every byte a read of the port handed over, in order
  std::size_t settled_ = 0;          // how many of them have been read or dropped
  std::vector<ByteRead> reads_;
};

// Whether the Frame receiver was inside a Frame at atMs, judged only from the bytes the code under test took since
// fromMs (when it began receiving afresh) and the receiver's rules: a DLE opens a Frame, more DLEs and then the STX
// follow within 1000 ms of that DLE, each content byte (a DLE that escapes the next excepted) within 1000 ms of
// the byte stored before it, more than capacity content bytes abandon it, DLE ETX ends the content, and the two
// CRC bytes follow within 1000 ms each. A receiver inside a Frame when its caller's limit passes may finish it.
bool FrameInProgress(const std::vector<WatchedPort::ByteRead>& reads, std::uint32_t fromMs, std::uint32_t atMs,
                     int capacity);

// A piece of the peer's output and when it leaves.
struct Segment {
  bool afterHostWrite = false;  // leaves once the code under test writes again (its delay counted from there)
  std::uint32_t delayMs = 0;    // after the segment before it (or after the write that released it)
  std::vector<std::uint8_t> bytes;
};

// Decodes fuzzer bytes into the peer's output. Bytes stand for themselves, except that 0xFE starts a command:
//   FE 00            a literal FE
//   FE 01            a new segment, released by the next write of the code under test
//   FE 02 n          a new segment, n x 10 ms after the one before
//   FE 03 n          a new segment, n ms after the one before
//   FE 04 c n p...   a good Frame, control c, payload of the next n bytes
//   FE 05 c n p...   the same Frame with its CRC spoilt
//   FE 06 / 07 / 08  a good ACK / NAK / EOT Frame
// so that a seed reads like the line it stands for, and the fuzzer can reach Frames with a good CRC.
std::vector<Segment> DecodeTimedStream(std::span<const std::uint8_t> data);

// Plays decoded segments into a scripted port: the first ones at once, each later group when the code under test
// writes. Installs itself as the port's write responder.
class ScriptPeer {
 public:
  ScriptPeer(ScriptedPort& port, std::vector<Segment> segments);
  ScriptPeer(const ScriptPeer&) = delete;
  ScriptPeer& operator=(const ScriptPeer&) = delete;
  ~ScriptPeer();

  // Every byte released so far, in order.
  [[nodiscard]] const std::vector<std::uint8_t>& Released() const { return released_; }
  // The sum of all delays released so far: the longest the code could have been kept waiting on purpose.
  [[nodiscard]] std::uint64_t ReleasedDelayMs() const { return releasedDelayMs_; }

 private:
  void ReleaseGroup();

  ScriptedPort& port_;
  std::vector<Segment> segments_;
  std::size_t next_ = 0;
  std::vector<std::uint8_t> released_;
  std::uint64_t releasedDelayMs_ = 0;
};

}  // namespace fwu::test
