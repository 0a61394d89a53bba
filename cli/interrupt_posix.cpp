#include <signal.h>
#include <unistd.h>

#include "cli/interrupt.h"
#include "cli/outcome.h"

namespace fwu::cli {

namespace {

// Lock-free, so the handler may set it.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int /*signal*/) {
  if (interrupted.exchange(true)) {
    _exit(kExitInterrupted);
  }
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Reads and sleeps go on after the handler: the update itself decides where it stops.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

const std::atomic<bool>& InterruptRequested() {
  return interrupted;
}

}  // namespace fwu::cli
