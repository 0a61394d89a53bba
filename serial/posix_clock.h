#pragma once

#include <cstdint>

#include "serial/clock.h"

namespace fwu {

// The monotonic clock: unaffected by changes to the time of day, so a limit never stretches or shrinks.
class PosixClock : public Clock {
 public:
  std::uint32_t NowMs() override;
  void SleepMs(std::uint32_t ms) override;
};

}  // namespace fwu
