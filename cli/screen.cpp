#include "cli/screen.h"

#include <chrono>
#include <string>

#include "cli/platform.h"

namespace fwu::cli {

namespace {

// Ten redraws a second: smooth enough for a bar, and nothing the processor notices.
constexpr std::chrono::milliseconds kRedrawPeriod{100};
constexpr std::uint32_t kTenths = 10;

}  // namespace

Screen::Screen(std::FILE* out, bool live, const std::vector<PortJob*>& jobs, const LineModels& models)
    : out_(out), live_(live), jobs_(jobs), models_(models), tenthsShown_(jobs.size(), 0) {}

Screen::~Screen() {
  Stop();
}

void Screen::Start() {
  thread_ = std::thread([this] { Loop(); });
}

void Screen::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void Screen::Loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    Draw();
    wake_.wait_for(lock, kRedrawPeriod, [this] { return stopping_; });
  }
  Draw();
}

LineState Screen::StateOf(const PortJob& job) const {
  const PortProgress bar = job.Window().Progress();
  LineState state;
  state.port = job.PortName();
  state.stepsDone = bar.stepsDone;
  state.totalSteps = bar.totalSteps;
  state.percent = bar.percent;
  state.elapsed = job.ElapsedSeconds();
  if (bar.totalSteps != 0) {
    const LineModel& model = models_.ForSteps(bar.totalSteps);
    state.sent = model.SentWithin(bar.stepsDone);
    state.remaining = model.RemainingSeconds(bar.stepsDone);
  }
  if (job.Ended()) {
    state.ended = OutcomeName(job.Report().verdict.outcome);
    state.remaining.reset();
  }
  return state;
}

void Screen::Draw() {
  if (live_) {
    const auto width = static_cast<std::size_t>(std::max(20, TerminalColumns(out_) - 1));
    std::string frame;
    if (drawnOnce_) {
      frame += "\033[" + std::to_string(jobs_.size()) + "A";  // back to the first port's line
    }
    for (const PortJob* job : jobs_) {
      frame += "\r\033[2K" + LiveLine(StateOf(*job), width) + "\n";
    }
    drawnOnce_ = true;
    static_cast<void>(std::fputs(frame.c_str(), out_));
  } else {
    for (std::size_t i = 0; i < jobs_.size(); ++i) {
      const LineState state = StateOf(*jobs_[i]);
      if (state.totalSteps == 0) {
        continue;
      }
      const std::uint32_t tenths = state.stepsDone * kTenths / state.totalSteps;
      if (tenths > tenthsShown_[i]) {
        tenthsShown_[i] = tenths;
        static_cast<void>(std::fputs((PlainLine(state) + "\n").c_str(), out_));
      }
    }
  }
  std::fflush(out_);
}

}  // namespace fwu::cli
