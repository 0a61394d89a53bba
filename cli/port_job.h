#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/outcome.h"
#include "cli/run_tracker.h"
#include "serial/clock.h"
#include "serial/serial_port.h"
#include "trace/trace.h"
#include "trace/watched_port.h"
#include "update/images.h"
#include "update/run_result.h"

namespace fwu::cli {

// One image a run writes: "main" or "second", where it came from (the file given, or "carried") and its SHA-256.
struct ImageSource {
  std::string image;
  std::string source;
  std::string sha256;
};

// What one port's run came to, for the outcome line, the table and the JSON record.
struct PortReport {
  std::string port;
  RunVerdict verdict;
  std::uint32_t blocksWritten = 0;
  std::uint32_t blocksSkipped = 0;
  std::optional<std::string> controllerVersion;
  std::string carriedVersion;
  std::string versionDisplay;
  double seconds = 0;
  std::chrono::system_clock::time_point startedAt;
  std::chrono::system_clock::time_point endedAt;
  std::vector<ImageSource> images;  // what the command wrote with; the port's run does not know
};

enum class Task { Update, ReadVersions };

// One port's run on a thread of its own, with its own serial port, clock and link, so that nothing one port
// meets reaches another. The port is opened as the dialog opens it and closed when the run ends.
class PortJob {
 public:
  // trace: where every byte of this port is recorded, or nothing.
  PortJob(std::string portName, Task task, const FirmwareImages& images, const std::atomic<bool>& stop,
          std::unique_ptr<trace::TraceSink> trace);
  PortJob(const PortJob&) = delete;
  PortJob& operator=(const PortJob&) = delete;
  ~PortJob();

  void Start();
  void Join();

  [[nodiscard]] const std::string& PortName() const { return portName_; }
  [[nodiscard]] PortProgress Progress() const { return tracker_.Progress(); }
  // The progress's tenths passed since the last call, for a log's plain lines.
  std::vector<Milestone> TakeMilestones() { return tracker_.TakeMilestones(); }
  [[nodiscard]] std::chrono::steady_clock::time_point Started() const { return started_; }
  [[nodiscard]] bool Ended() const { return ended_.load(); }
  [[nodiscard]] double ElapsedSeconds() const;
  // The trace's last words once the run has ended; false with the reason when the file did not take them.
  bool FinishTrace(std::string* error);
  // Once ended: what the run came to.
  [[nodiscard]] PortReport Report() const;

 private:
  void Run();

  std::string portName_;  // first: the port is made by its name
  Task task_;
  const FirmwareImages& images_;
  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<trace::TraceSink> trace_;
  trace::WatchedPort watched_;
  RunTracker tracker_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::system_clock::time_point startedAt_;
  // With the result and the open's failure, written before ended_ is set.
  std::chrono::system_clock::time_point endedAt_;
  RunResult result_;
  std::optional<std::string> openFailure_;  // "Open Err1" .. "Open Err5" when the port could not be opened
  std::string openFailureReason_;
  std::string lostReason_;  // why the line went away during the run, where the port knows
  std::atomic<double> seconds_{0};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace fwu::cli
