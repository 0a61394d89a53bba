#include "cli/port_job.h"

#include "cli/platform.h"
#include "port_names/open_port.h"
#include "serial/port_connection.h"
#include "update/update_sequence.h"
#include "update/versions.h"

namespace fwu::cli {

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

PortJob::PortJob(std::string portName, Task task, const FirmwareImages& images, const std::atomic<bool>& stop,
                 std::unique_ptr<trace::TraceSink> trace)
    : portName_(std::move(portName)),
      task_(task),
      images_(images),
      port_(port_names::NewPort(portName_)),
      clock_(NewClock()),
      trace_(std::move(trace)),
      watched_(*port_, trace_.get()),
      tracker_(stop) {}

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
  const OpenResult opened = OpenPort(watched_, portName_);
  if (opened == OpenResult::Ok) {
    result_ = task_ == Task::Update ? RunUpdate(link, tracker_, images_) : ReadVersions(link, tracker_, images_.main);
    lostReason_ = watched_.LostReason();
    ClosePort(watched_);
  } else {
    openFailure_ = OpenFailureText(opened);
    openFailureReason_ = watched_.OpenFailureReason();
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
  if (openFailure_) {
    report.verdict.outcome = Outcome::OpenFailed;
    report.verdict.message = *openFailure_;
    report.verdict.reason = openFailureReason_;
    return report;
  }

  report.verdict = VerdictOf(result_);
  if (const auto& versions = result_.versions) {
    report.versionDisplay = VersionDisplayText(versions->controller, versions->carried);
    if (versions->answered) {
      report.controllerVersion = versions->controller;
    }
    if (task_ == Task::ReadVersions && result_.outcome == Outcome::Finished) {
      // A version read has no outcome box of its own: what it shows is its message.
      report.verdict.message = report.versionDisplay;
    }
  }
  if (report.verdict.outcome != Outcome::Finished) {
    report.verdict.reason = lostReason_;  // a server that dropped the connection, named beside the time-out
  }
  report.blocksWritten = result_.blocksWritten;
  report.blocksSkipped = result_.blocksSkipped;
  return report;
}

}  // namespace fwu::cli
