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

  std::uint32_t NowMs() override {
    ++readings_;
    return now_;
  }
  void SleepMs(std::uint32_t ms) override {
    sleeps_.push_back(ms);
    now_ += ms;
  }

  // The time, for the test and its doubles: not counted as a reading of the code under test.
  [[nodiscard]] std::uint32_t Now() const { return now_; }
  void Advance(std::uint32_t ms) { now_ += ms; }
  void Set(std::uint32_t ms) { now_ = ms; }
  // Every sleep the code asked for, in order.
  [[nodiscard]] const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }
  // How often the code read the clock through NowMs.
  [[nodiscard]] int Readings() const { return readings_; }

 private:
  std::uint32_t now_;
  int readings_ = 0;
  std::vector<std::uint32_t> sleeps_;
};

}  // namespace fwu::test
