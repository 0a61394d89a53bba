#include <windows.h>

#include "cli/interrupt.h"
#include "cli/outcome.h"

namespace fwu::cli {

namespace {

std::atomic<bool> interrupted{false};

// Runs on a thread of its own that the console starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    return FALSE;
  }
  if (interrupted.exchange(true)) {
    ExitProcess(kExitInterrupted);
  }
  return TRUE;
}

}  // namespace

void InstallInterruptHandler() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

const std::atomic<bool>& InterruptRequested() {
  return interrupted;
}

}  // namespace fwu::cli
