#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/boot_loader.h"

namespace fwu::sim {

// Holds the controller's output until it may leave: not before its chunk's time, and, on a paced line, one byte
// per byte time as a UART would send it.
class LinePacer {
 public:
  // One byte at 38400 baud, 8 data bits, no parity, one stop bit: 10 bits.
  static constexpr std::uint64_t kByteNsAt38400 = 260'417;
  // Output waits for the caller's next turn; a late turn may catch up this much line time, no more, so that a
  // line that has been idle does not burst.
  static constexpr std::uint64_t kCatchUpNs = 2'000'000;
  // What is held at most; beyond it new output is dropped (a host that never reads).
  static constexpr std::size_t kMaxHeld = 1 << 20;

  explicit LinePacer(std::uint64_t byteNs) : byteNs_(byteNs) {}

  // False when the chunk was dropped for lack of room.
  bool Add(OutChunk chunk);
  // Removes and returns the bytes due at nowUs, at most max of them.
  std::vector<std::uint8_t> Take(TimeUs nowUs, std::size_t max);
  // When the next byte is due; empty when nothing is held.
  [[nodiscard]] std::optional<TimeUs> NextDueUs() const;
  [[nodiscard]] bool Empty() const { return held_ == 0; }

 private:
  struct Held {
    TimeUs notBeforeUs;
    std::vector<std::uint8_t> bytes;
    std::size_t taken = 0;
  };
  [[nodiscard]] std::uint64_t DueNs() const;

  std::uint64_t byteNs_;
  std::uint64_t lineFreeNs_ = 0;
  std::deque<Held> queue_;
  std::size_t held_ = 0;
};

}  // namespace fwu::sim
