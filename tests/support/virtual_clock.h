#pragma once

#include <cstdint>
#include <vector>

#include "serial/clock.h"

namespace fwu::test {

// A clock that moves only when the code under test sleeps or the scripted port finds nothing to read, so a
// 3000 ms limit runs in microseconds and can be hit exactly at its edge.
class VirtualClock : public Clock {
 public:
  explicit VirtualClock(std::uint32_t startMs = 1000) : now_(startMs) {}

  std::uint32_t NowMs() override { return now_; }
  void SleepMs(std::uint32_t ms) override {
    sleeps_.push_back(ms);
    now_ += ms;
  }

  void Advance(std::uint32_t ms) { now_ += ms; }
  void Set(std::uint32_t ms) { now_ = ms; }
  // Every sleep the code asked for, in order.
  [[nodiscard]] const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }

 private:
  std::uint32_t now_;
  std::vector<std::uint32_t> sleeps_;
};

}  // namespace fwu::test
