#include "app/progress.h"

#include <array>
#include <cstdio>

#include "app/control_ids.h"

namespace fwu {

namespace {

// Room for "%3d %%" of any 32-bit value, with the terminator.
constexpr std::size_t kPercentTextSize = 20;
constexpr std::uint32_t kFull = 100;

// Percent of steps done, truncated: the tenths are taken first, then dropped. The product wraps at 2^32 like the
// bar's own 32-bit arithmetic; the step counts in use stay far below that.
std::uint32_t Percentage(const Progress& progress) {
  if (progress.totalSteps == 0) {
    // A transfer without steps has nothing left to do.
    return kFull;
  }
  const std::uint32_t tenths = progress.stepsDone * 1000U / progress.totalSteps;
  return tenths / 10U;
}

void ShowPercent(DialogWindow& window, std::uint32_t percent) {
  window.SetControlText(kIdPercentText, PercentText(percent));
}

}  // namespace

std::string PercentText(std::uint32_t percent) {
  std::array<char, kPercentTextSize> text{};
  // A percentage worked out from 32-bit counters is at most 2^32 / 10, well inside an int.
  const int length = std::snprintf(text.data(), text.size(), "%3d %%", static_cast<int>(percent));
  return {text.data(), length > 0 ? static_cast<std::size_t>(length) : 0U};
}

void ProgressStart(DialogWindow& window, Progress& progress, std::uint32_t steps) {
  // The bar's range holds 16 bits; the percentage below uses the whole count.
  window.ProgressSetRange(static_cast<std::uint16_t>(steps & 0xFFFFU));
  window.ProgressSetStep(1);
  window.ProgressSetPos(0);
  progress.totalSteps = steps;
  progress.stepsDone = 0;
  ShowPercent(window, 0);
}

void ProgressStep(DialogWindow& window, Progress& progress) {
  window.ProgressStepIt();
  ++progress.stepsDone;
  // Set on every step, also when the number has not changed.
  ShowPercent(window, Percentage(progress));
}

}  // namespace fwu
