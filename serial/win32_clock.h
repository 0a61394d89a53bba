#pragma once

#include <cstdint>

#include "serial/clock.h"

namespace fwu {

// The multimedia timer's millisecond tick and the thread's sleep. Both are only as fine as the system timer,
// which TimerResolution brings down to 1 ms.
class Win32Clock : public Clock {
 public:
  std::uint32_t NowMs() override;
  void SleepMs(std::uint32_t ms) override;
};

// Holds the system timer at 1 ms while it lives; the program keeps one for its whole run. At the default
// resolution (about 15.6 ms) the tick moves in coarse steps and a one-byte read's 1 ms time-outs stretch
// to a whole period, which would make the protocol's time limits needlessly slow to notice anything.
class TimerResolution {
 public:
  TimerResolution();
  ~TimerResolution();
  TimerResolution(const TimerResolution&) = delete;
  TimerResolution& operator=(const TimerResolution&) = delete;

  // Whether the system granted the 1 ms resolution.
  [[nodiscard]] bool IsHeld() const { return held_; }

 private:
  bool held_ = false;
};

}  // namespace fwu
