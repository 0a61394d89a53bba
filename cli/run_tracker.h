#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "update/run_result.h"

namespace fwu::cli {

// How far one port's update has come, as the drawing thread reads it.
struct PortProgress {
  std::uint32_t totalSteps = 0;  // block positions of the transfer; 0 until it has begun
  std::uint32_t stepsDone = 0;
  std::string percent;           // the dialog's percentage label, "%3d %%"
  std::uint8_t programKind = 0;  // as the controller reported it when the block writes began
  std::uint32_t blocksWritten = 0;
};

// The progress as it stood when it passed another tenth of its steps.
struct Milestone {
  PortProgress progress;
  std::chrono::steady_clock::time_point at;
};

// Follows one port's run for the progress line: the transfer's start and each block position, counted with the
// percentage the dialog would show, and a milestone at every tenth. Asks the run to stop once the operator has
// asked every port to. Written by the port's own thread, read by the drawing thread.
class RunTracker final : public RunObserver {
 public:
  explicit RunTracker(const std::atomic<bool>& stop) : stop_(stop) {}

  void OnTransferStart(std::uint8_t programKind, std::uint32_t positions) override;
  void OnBlock(const BlockStep& step) override;
  bool StopRequested() override { return stop_.load(); }

  [[nodiscard]] PortProgress Progress() const;
  // The tenths passed since the last call, each as it stood then, for a log's plain lines.
  std::vector<Milestone> TakeMilestones();

 private:
  const std::atomic<bool>& stop_;
  mutable std::mutex mutex_;
  PortProgress progress_;
  std::uint32_t tenthsPassed_ = 0;
  std::vector<Milestone> milestones_;
};

}  // namespace fwu::cli
