#include "serial/posix_clock.h"

#include <cerrno>
#include <ctime>

namespace fwu {

namespace {

constexpr std::uint64_t kMsPerSecond = 1000;
constexpr std::uint64_t kNsPerMs = 1000000;

}  // namespace

std::uint32_t PosixClock::NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms =
      static_cast<std::uint64_t>(now.tv_sec) * kMsPerSecond + static_cast<std::uint64_t>(now.tv_nsec) / kNsPerMs;
  // The tick wraps at 32 bits like the Windows one; limits compare differences, which the wrap leaves intact.
  return static_cast<std::uint32_t>(ms);
}

void PosixClock::SleepMs(std::uint32_t ms) {
  timespec remaining{static_cast<time_t>(ms / kMsPerSecond), static_cast<long>((ms % kMsPerSecond) * kNsPerMs)};
  // A signal cuts the sleep short; the rest is slept so the wait is never shorter than asked.
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace fwu
