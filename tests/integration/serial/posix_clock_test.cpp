#include "serial/posix_clock.h"

#include <gtest/gtest.h>

#include "pseudo_terminal.h"

namespace fwu {
namespace {

TEST(PosixClock, TicksInMillisecondsAndSleepsAtLeastAsLongAsAsked) {
  PosixClock clock;
  constexpr std::uint32_t kSleepMs = 30;
  const std::uint32_t start = clock.NowMs();
  const double wallStart = test::WallMs();

  clock.SleepMs(kSleepMs);

  const auto elapsed = static_cast<std::uint32_t>(clock.NowMs() - start);
  EXPECT_GE(test::WallMs() - wallStart, kSleepMs);
  EXPECT_GE(elapsed, kSleepMs - 1);  // two readings of a millisecond tick may each be cut short
  EXPECT_LT(elapsed, test::kGenerousMs);
}

TEST(PosixClock, ASleepOfNothingReturnsAtOnce) {
  PosixClock clock;
  const std::uint32_t start = clock.NowMs();
  clock.SleepMs(0);
  EXPECT_LT(static_cast<std::uint32_t>(clock.NowMs() - start), 100U);
}

}  // namespace
}  // namespace fwu
