#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_window.h"
#include "update/percent.h"

namespace fwu {

// The progress of one update: one step per 256-byte block position of the images, sent or skipped.
struct Progress {
  std::uint32_t totalSteps = 0;
  std::uint32_t stepsDone = 0;
};

// Resets bar and label to 0 of steps.
void ProgressStart(DialogWindow& window, Progress& progress, std::uint32_t steps);
// Advances bar and label by one step.
void ProgressStep(DialogWindow& window, Progress& progress);

}  // namespace fwu
