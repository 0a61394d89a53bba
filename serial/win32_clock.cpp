#include "serial/win32_clock.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <mmsystem.h>

namespace fwu {

namespace {

constexpr UINT kResolutionMs = 1;

}  // namespace

std::uint32_t Win32Clock::NowMs() {
  // The tick wraps after about 49.7 days; limits compare differences, which the wrap leaves intact.
  return static_cast<std::uint32_t>(timeGetTime());
}

void Win32Clock::SleepMs(std::uint32_t ms) {
  Sleep(static_cast<DWORD>(ms));
}

TimerResolution::TimerResolution() : held_(timeBeginPeriod(kResolutionMs) == TIMERR_NOERROR) {}

TimerResolution::~TimerResolution() {
  if (held_) {
    static_cast<void>(timeEndPeriod(kResolutionMs));
  }
}

}  // namespace fwu
