#include "cli/terminal_window.h"

#include <utility>

#include "app/control_ids.h"

namespace fwu::cli {

namespace {

constexpr std::string_view kFirmwareLabel = "FIRMWARE          :";
constexpr std::string_view kCarriedLabel = "\r\nNEW FIRMWARE  :";

}  // namespace

void TerminalWindow::ShowMessage(const std::string& text, const std::string& /*caption*/, BoxStyle /*style*/) {
  // Text and caption are the same string for every failure, and the outcomes have no caption.
  Box box{text, where_()};
  const std::lock_guard lock(mutex_);
  boxes_.push_back(std::move(box));
}

void TerminalWindow::SetControlText(int controlId, const std::string& text) {
  const std::lock_guard lock(mutex_);
  if (controlId == kIdPercentText) {
    // The label follows each step: the bar's count is already the new one.
    progress_.percent = text;
    constexpr std::uint32_t kTenths = 10;
    const std::uint32_t tenths = progress_.totalSteps == 0 ? 0 : progress_.stepsDone * kTenths / progress_.totalSteps;
    if (tenths > tenthsPassed_) {
      tenthsPassed_ = tenths;
      milestones_.push_back({progress_, std::chrono::steady_clock::now()});
    }
  } else if (controlId == kIdVersionText) {
    versionDisplay_ = text;
  }
}

void TerminalWindow::ProgressSetRange(std::uint16_t maximum) {
  const std::lock_guard lock(mutex_);
  progress_.totalSteps = maximum;
}

void TerminalWindow::ProgressSetPos(int position) {
  const std::lock_guard lock(mutex_);
  progress_.stepsDone = static_cast<std::uint32_t>(position);
  tenthsPassed_ = 0;
}

void TerminalWindow::ProgressStepIt() {
  const std::lock_guard lock(mutex_);
  ++progress_.stepsDone;
}

bool TerminalWindow::StopRequested() {
  if (!stop_.load()) {
    return false;
  }
  std::string where = where_();
  const std::lock_guard lock(mutex_);
  // The bar starts with the first writing phase: a stop before it has written nothing.
  stopped_ = StopPoint{std::move(where), progress_.totalSteps == 0};
  return true;
}

PortProgress TerminalWindow::Progress() const {
  const std::lock_guard lock(mutex_);
  return progress_;
}

std::vector<Milestone> TerminalWindow::TakeMilestones() {
  const std::lock_guard lock(mutex_);
  return std::exchange(milestones_, {});
}

std::vector<Box> TerminalWindow::Boxes() const {
  const std::lock_guard lock(mutex_);
  return boxes_;
}

std::optional<StopPoint> TerminalWindow::Stopped() const {
  const std::lock_guard lock(mutex_);
  return stopped_;
}

std::optional<std::string> TerminalWindow::VersionDisplay() const {
  const std::lock_guard lock(mutex_);
  return versionDisplay_;
}

std::optional<std::string> ControllerVersion(const std::string& versionDisplay, const std::string& carriedVersion) {
  // A failed query leaves both values empty, the carried one included.
  const std::string tail = std::string(kCarriedLabel) + carriedVersion;
  if (carriedVersion.empty() || !versionDisplay.starts_with(kFirmwareLabel) || !versionDisplay.ends_with(tail) ||
      versionDisplay.size() < kFirmwareLabel.size() + tail.size()) {
    return std::nullopt;
  }
  return versionDisplay.substr(kFirmwareLabel.size(), versionDisplay.size() - kFirmwareLabel.size() - tail.size());
}

}  // namespace fwu::cli
