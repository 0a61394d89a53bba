#pragma once

#include <cstdint>

namespace fwu {

// The millisecond tick and the sleep that every time limit of the link is built from. The tick is 32 bits and
// wraps; limits compare the unsigned difference of two readings, so the wrap does no harm.
class Clock {
 public:
  Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;
  virtual ~Clock() = default;

  virtual std::uint32_t NowMs() = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
};

// True once more than limitMs have passed since start: a limit of N ms still holds at exactly N.
inline bool Exceeded(Clock& clock, std::uint32_t start, std::uint32_t limitMs) {
  return static_cast<std::uint32_t>(clock.NowMs() - start) > limitMs;
}

}  // namespace fwu
