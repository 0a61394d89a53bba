#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_window.h"
#include "cli/outcome.h"

namespace fwu::cli {

// How far one port's update has come, as the drawing thread reads it.
struct PortProgress {
  std::uint32_t totalSteps = 0;  // 0 until the bar has been started
  std::uint32_t stepsDone = 0;
  std::string percent;  // the dialog's percentage label, "%3d %%"
};

// The bar as it stood when it passed another tenth of its steps.
struct Milestone {
  PortProgress progress;
  std::chrono::steady_clock::time_point at;
};

// The dialog window of one port on a terminal: a message box becomes a recorded outcome (with where the run
// was when it came up), the version display is kept for the report, the bar and the percentage are counted for
// the progress line. Written by the port's own thread, read by the drawing thread.
class TerminalWindow : public DialogWindow {
 public:
  // where: where the run is on the line now; stop: set when the operator asks every port to stop.
  TerminalWindow(std::function<std::string()> where, const std::atomic<bool>& stop)
      : where_(std::move(where)), stop_(stop) {}

  void ShowMessage(const std::string& text, const std::string& caption, BoxStyle style) override;
  void SetControlText(int controlId, const std::string& text) override;
  void SetTitle(const std::string& /*text*/) override {}
  void ProgressSetRange(std::uint16_t maximum) override;
  void ProgressSetStep(int /*increment*/) override {}
  void ProgressSetPos(int position) override;
  void ProgressStepIt() override;
  void PumpMessages() override {}
  bool StopRequested() override;

  [[nodiscard]] PortProgress Progress() const;
  // The tenths the bar has passed since the last call, each as it stood then, for a log's plain lines.
  std::vector<Milestone> TakeMilestones();
  [[nodiscard]] std::vector<Box> Boxes() const;
  [[nodiscard]] std::optional<StopPoint> Stopped() const;
  // The version display's text once a version read got past the boot-mode entry.
  [[nodiscard]] std::optional<std::string> VersionDisplay() const;

 private:
  std::function<std::string()> where_;
  const std::atomic<bool>& stop_;
  mutable std::mutex mutex_;
  PortProgress progress_;
  std::uint32_t tenthsPassed_ = 0;
  std::vector<Milestone> milestones_;
  std::vector<Box> boxes_;
  std::optional<StopPoint> stopped_;
  std::optional<std::string> versionDisplay_;
};

// The controller's version from the version display, when the query answered: the display is the firmware
// label, the controller's text, a line break, the new-firmware label and the carried text.
std::optional<std::string> ControllerVersion(const std::string& versionDisplay, const std::string& carriedVersion);

}  // namespace fwu::cli
