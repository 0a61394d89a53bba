#include "cli/run_tracker.h"

#include <utility>

#include "update/percent.h"

namespace fwu::cli {

void RunTracker::OnTransferStart(std::uint8_t programKind, std::uint32_t positions) {
  const std::lock_guard lock(mutex_);
  progress_ = {positions, 0, PercentText(0), programKind, 0};
  tenthsPassed_ = 0;
}

void RunTracker::OnBlock(const BlockStep& step) {
  const std::lock_guard lock(mutex_);
  progress_.stepsDone = step.positionsDone;
  progress_.blocksWritten = step.blocksWritten;
  progress_.percent = PercentText(PercentDone(step.positionsDone, progress_.totalSteps));
  constexpr std::uint32_t kTenths = 10;
  const std::uint32_t tenths = progress_.totalSteps == 0 ? 0 : progress_.stepsDone * kTenths / progress_.totalSteps;
  if (tenths > tenthsPassed_) {
    tenthsPassed_ = tenths;
    milestones_.push_back({progress_, std::chrono::steady_clock::now()});
  }
}

PortProgress RunTracker::Progress() const {
  const std::lock_guard lock(mutex_);
  return progress_;
}

std::vector<Milestone> RunTracker::TakeMilestones() {
  const std::lock_guard lock(mutex_);
  return std::exchange(milestones_, {});
}

}  // namespace fwu::cli
