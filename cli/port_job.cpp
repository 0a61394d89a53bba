#include "cli/port_job.h"

#include "app/dialog_adapter.h"
#include "cli/line_model.h"
#include "cli/platform.h"
#include "cli/port_kind.h"
#include "serial/port_connection.h"
#include "update/update_sequence.h"
#include "update/versions.h"

namespace fwu::cli {

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

PortJob::PortJob(std::string portName, Task task, const FirmwareImages& images, const LineModels& models,
                 const std::atomic<bool>& stop, std::unique_ptr<wire::TraceSink> trace)
    : portName_(std::move(portName)),
      task_(task),
      images_(images),
      models_(models),
      port_(NewPort(portName_)),
      clock_(NewClock()),
      trace_(std::move(trace)),
      watched_(*port_, trace_.get()),
      window_([this] { return watched_.Where(); }, stop) {}

PortJob::~PortJob() {
  Join();
}

void PortJob::Start() {
  started_ = std::chrono::steady_clock::now();
  startedAt_ = std::chrono::system_clock::now();
  thread_ = std::thread([this] { Run(); });
}

void PortJob::Join() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

double PortJob::ElapsedSeconds() const {
  return ended_.load() ? seconds_.load() : SecondsSince(started_);
}

void PortJob::Run() {
  Link link{watched_, *clock_};
  if (OpenPort(watched_, window_, portName_)) {
    if (task_ == Task::Update) {
      RunUpdate(link, window_, progress_, images_);
    } else {
      ReadVersions(link, window_, images_.main);
    }
    ClosePort(watched_);
  } else {
    openFailure_ = watched_.OpenFailureReason();
  }
  endedAt_ = std::chrono::system_clock::now();
  seconds_ = SecondsSince(started_);
  ended_ = true;
}

bool PortJob::FinishTrace(std::string* error) {
  return trace_ == nullptr || trace_->Finish(error);
}

PortReport PortJob::Report() const {
  PortReport report;
  report.port = portName_;
  report.seconds = seconds_.load();
  report.startedAt = startedAt_;
  report.endedAt = endedAt_;
  report.carriedVersion = ImageText(images_.main, kVersionPointer).value_or(std::string());
  const auto display = window_.VersionDisplay();
  report.versionDisplay = display.value_or(std::string());
  if (display) {
    report.controllerVersion = ControllerVersion(*display, report.carriedVersion);
  }

  const auto boxes = window_.Boxes();
  if (task_ == Task::ReadVersions && boxes.empty() && display) {
    // A version read has no outcome box of its own: reaching the display without a failure is its success.
    report.verdict.outcome = Outcome::Finished;
    report.verdict.message = *display;
  } else {
    report.verdict = Judge(boxes, window_.Stopped());
  }
  if (report.verdict.outcome == Outcome::OpenFailed) {
    report.verdict.reason = openFailure_;
  }
  if (report.verdict.outcome != Outcome::Finished) {
    report.verdict.blockAddress = watched_.Last().address;
  }

  const PortProgress bar = window_.Progress();
  if (bar.totalSteps != 0) {
    report.blocksWritten = models_.ForSteps(bar.totalSteps).SentWithin(bar.stepsDone);
    report.blocksSkipped = bar.stepsDone - report.blocksWritten;
  }
  return report;
}

}  // namespace fwu::cli
