// fwu_bench_update: one whole update of the carried images over a POSIX serial port, headless, with the CPU time
// it took. What the update tells (failures, versions, the transfer's start and percentage) goes to standard output,
// one line each; the figures of the run to the --figures file, one "name=value" a line:
//   wall_us cpu_user_us cpu_sys_us voluntary_switches involuntary_switches failures finished
//   oversleep_us   how late a 10 ms sleep of the clock ends on this machine, measured after the update
// Exit status 0 when the update ended Finished.

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serial/link.h"
#include "serial/port_connection.h"
#include "serial/posix_clock.h"
#include "serial/posix_port.h"
#include "update/percent.h"
#include "update/update_sequence.h"

namespace fwu::bench {
namespace {

constexpr int kExitFinished = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;
constexpr std::int64_t kUsPerSecond = 1'000'000;
constexpr std::int64_t kNsPerUs = 1'000;
constexpr std::int64_t kUsPerMs = 1'000;

struct Options {
  std::string port;
  std::string figures;
};

std::optional<Options> ParseOptions(const std::vector<std::string_view>& args) {
  Options options;
  for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--port") {
      options.port = args[i + 1];
    } else if (args[i] == "--figures") {
      options.figures = args[i + 1];
    } else {
      return std::nullopt;
    }
  }
  if (args.size() % 2 != 0 || options.port.empty() || options.figures.empty()) {
    return std::nullopt;
  }
  return options;
}

std::int64_t MonotonicUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * kUsPerSecond + now.tv_nsec / kNsPerUs;
}

std::int64_t Us(const timeval& time) {
  return static_cast<std::int64_t>(time.tv_sec) * kUsPerSecond + time.tv_usec;
}

// What the process used between two readings: the updater is single-threaded, so this is the update's cost.
struct Usage {
  std::int64_t wallUs = 0;
  rusage self{};

  static Usage Now() {
    Usage usage;
    usage.wallUs = MonotonicUs();
    getrusage(RUSAGE_SELF, &usage.self);
    return usage;
  }
};

// How much later than asked a 10 ms sleep of the clock ends on this machine now, the median of a few: the
// updater sleeps before every write, so this much of its lateness per write is the system's, not its own.
std::int64_t MedianOversleepUs(Clock& clock) {
  constexpr int kSleeps = 21;
  constexpr std::uint32_t kSleepMs = 10;
  std::vector<std::int64_t> over;
  for (int i = 0; i < kSleeps; ++i) {
    const std::int64_t start = MonotonicUs();
    clock.SleepMs(kSleepMs);
    over.push_back(MonotonicUs() - start - std::int64_t{kSleepMs} * kUsPerMs);
  }
  std::nth_element(over.begin(), over.begin() + kSleeps / 2, over.end());
  return over[kSleeps / 2];
}

// Prints what the update tells, one line each. The percentage is printed when it changes: it says what the bar
// says in a hundredth of the lines.
class ConsoleObserver final : public RunObserver {
 public:
  void OnFailure(const Failure& failure) override {
    ++failures_;
    Print("failure \"" + FailureText(failure) + "\"");
  }
  void OnVersions(const Versions& versions) override {
    Print("versions controller \"" + versions.controller + "\" carried \"" + versions.carried + "\"");
  }
  void OnTransferStart(std::uint8_t programKind, std::uint32_t positions) override {
    positions_ = positions;
    Print("transfer kind " + std::to_string(programKind) + ", " + std::to_string(positions) + " positions");
  }
  void OnBlock(const BlockStep& step) override {
    std::string percent = PercentText(PercentDone(step.positionsDone, positions_));
    if (percent != percent_) {
      percent_ = std::move(percent);
      Print("progress " + percent_);
    }
  }

  [[nodiscard]] int Failures() const { return failures_; }

 private:
  static void Print(const std::string& line) {
    // A record of the run; a stream that cannot take it does not stop the update.
    static_cast<void>(std::fputs((line + "\n").c_str(), stdout));
  }

  int failures_ = 0;
  std::uint32_t positions_ = 0;
  std::string percent_;
};

bool WriteFigures(const std::string& path, const Usage& before, const Usage& after, int failures, bool finished,
                  std::int64_t oversleepUs) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    return false;
  }
  bool written = true;
  const auto line = [file, &written](const char* name, std::int64_t value) {
    written = written && std::fprintf(file, "%s=%lld\n", name, static_cast<long long>(value)) > 0;
  };
  line("wall_us", after.wallUs - before.wallUs);
  line("cpu_user_us", Us(after.self.ru_utime) - Us(before.self.ru_utime));
  line("cpu_sys_us", Us(after.self.ru_stime) - Us(before.self.ru_stime));
  line("voluntary_switches", after.self.ru_nvcsw - before.self.ru_nvcsw);
  line("involuntary_switches", after.self.ru_nivcsw - before.self.ru_nivcsw);
  line("failures", failures);
  line("finished", finished ? 1 : 0);
  line("oversleep_us", oversleepUs);
  return std::fclose(file) == 0 && written;
}

int Main(int argc, char** argv) {
  const auto options = ParseOptions(std::vector<std::string_view>(argv + 1, argv + argc));
  if (!options) {
    std::cerr << "usage: fwu_bench_update --port PATH --figures FILE\n";
    return kExitBadArguments;
  }
  ConsoleObserver observer;
  PosixSerialPort port;
  PosixClock clock;
  if (const OpenResult opened = OpenPort(port, options->port); opened != OpenResult::Ok) {
    std::cerr << "fwu_bench_update: " << OpenFailureText(opened) << " " << options->port << "\n";
    return kExitFailed;
  }
  Link link{port, clock};

  const Usage before = Usage::Now();
  const RunResult result = RunUpdate(link, observer);
  const Usage after = Usage::Now();

  const bool finished = result.outcome == Outcome::Finished;
  static_cast<void>(std::fflush(stdout));  // the update's lines come before the figures are written
  if (!WriteFigures(options->figures, before, after, observer.Failures(), finished, MedianOversleepUs(clock))) {
    std::cerr << "fwu_bench_update: cannot write '" << options->figures << "'\n";
    return kExitFailed;
  }
  return finished ? kExitFinished : kExitFailed;
}

}  // namespace
}  // namespace fwu::bench

int main(int argc, char** argv) {
  return fwu::bench::Main(argc, argv);
}
