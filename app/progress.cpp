#include "app/progress.h"

#include "app/control_ids.h"

namespace fwu {

namespace {

void ShowPercent(DialogWindow& window, std::uint32_t percent) {
  window.SetControlText(kIdPercentText, PercentText(percent));
}

}  // namespace

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
  ShowPercent(window, PercentDone(progress.stepsDone, progress.totalSteps));
}

}  // namespace fwu
