#include "cli/screen.h"

#include <chrono>
#include <string>

#include "cli/platform.h"

namespace fwu::cli {

Screen::Screen(std::FILE* out, bool live, const std::vector<PortJob*>& jobs, const LineModels& models)
    : out_(out), live_(live), jobs_(jobs), models_(models) {}

Screen::~Screen() {
  Stop();
}

void Screen::Start() {
  redraw_.Start();
}

void Screen::Stop() {
  redraw_.Stop();
}

LineState Screen::StateOf(const PortJob& job) const {
  const PortProgress bar = job.Progress();
  LineState state;
  state.port = job.PortName();
  state.stepsDone = bar.stepsDone;
  state.totalSteps = bar.totalSteps;
  state.percent = bar.percent;
  state.elapsed = job.ElapsedSeconds();
  if (bar.totalSteps != 0) {
    state.sent = bar.blocksWritten;
    state.remaining = models_.ForKind(bar.programKind).RemainingSeconds(bar.stepsDone);
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
    // One plain line at every tenth a port's bar passes, as it stood then.
    for (PortJob* job : jobs_) {
      for (const Milestone& milestone : job->TakeMilestones()) {
        const LineModel& model = models_.ForKind(milestone.progress.programKind);
        LineState state;
        state.port = job->PortName();
        state.stepsDone = milestone.progress.stepsDone;
        state.totalSteps = milestone.progress.totalSteps;
        state.percent = milestone.progress.percent;
        state.sent = milestone.progress.blocksWritten;
        state.elapsed = std::chrono::duration<double>(milestone.at - job->Started()).count();
        state.remaining = model.RemainingSeconds(state.stepsDone);
        static_cast<void>(std::fputs((PlainLine(state) + "\n").c_str(), out_));
      }
    }
  }
  static_cast<void>(std::fflush(out_));
}

}  // namespace fwu::cli
