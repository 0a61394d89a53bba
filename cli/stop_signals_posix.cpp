#include <signal.h>
#include <unistd.h>

#include <array>

#include "cli/stop_signals.h"

namespace fwu::cli {

namespace {

constexpr int kSignalStatusBase = 128;
constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};

// Lock-free, so the handler may set them.
std::atomic<bool> stopRequested{false};
std::atomic<int> firstSignal{0};
std::atomic<bool> finishFirst{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void OnStopSignal(int signal) {
  int none = 0;
  if (!firstSignal.compare_exchange_strong(none, signal)) {
    if (!finishFirst.load()) {
      _exit(kSignalStatusBase + firstSignal.load());
    }
    constexpr char kNote[] = "fwupdate-cli: stopping: each update ends at its next block and is recorded first\n";
    // A note the operator may not see (standard error closed) changes nothing: the stop goes on.
    if (write(STDERR_FILENO, kNote, sizeof(kNote) - 1) < 0) {
      return;
    }
    return;
  }
  stopRequested = true;
}

}  // namespace

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Reads and sleeps go on after the handler: the update itself decides where it stops.
  action.sa_flags = SA_RESTART;
  for (const int signal : kStopSignals) {
    sigaction(signal, &action, nullptr);
  }
  // A write to a pipe nobody reads fails with EPIPE instead of ending the program mid-exchange.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

void FinishBeforeEnding() {
  finishFirst = true;
}

const std::atomic<bool>& StopFlag() {
  return stopRequested;
}

int StopStatus() {
  const int signal = firstSignal.load();
  return signal == 0 ? 0 : kSignalStatusBase + signal;
}

std::string StopCause() {
  switch (firstSignal.load()) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return {};
  }
}

void RunEnded(int /*status*/) {}

}  // namespace fwu::cli
