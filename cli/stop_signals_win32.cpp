#include <windows.h>

#include "cli/stop_signals.h"

namespace fwu::cli {

namespace {

// The statuses of the POSIX signals that the console's events stand for.
constexpr int kInterruptStatus = 130;  // SIGINT
constexpr int kHangUpStatus = 129;     // SIGHUP

std::atomic<bool> stopRequested{false};
std::atomic<DWORD> firstEvent{MAXDWORD};
std::atomic<int> endStatus{0};
std::atomic<bool> finishFirst{false};
HANDLE runEnded = nullptr;  // set by RunEnded; made before the handler is installed

bool IsClosing(DWORD event) {
  return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

int StatusOf(DWORD event) {
  return IsClosing(event) ? kHangUpStatus : kInterruptStatus;
}

// Runs on a thread of its own that the console starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && !IsClosing(event)) {
    return FALSE;
  }
  DWORD none = MAXDWORD;
  if (!firstEvent.compare_exchange_strong(none, event)) {
    if (finishFirst.load() && !IsClosing(event)) {
      return TRUE;  // the station ends once every update is recorded
    }
    ExitProcess(static_cast<UINT>(StatusOf(firstEvent.load())));
  }
  stopRequested = true;
  if (IsClosing(event)) {
    // The process ends when this handler returns: hold the console's grace time until the results are written.
    WaitForSingleObject(runEnded, INFINITE);
    ExitProcess(static_cast<UINT>(endStatus.load()));
  }
  return TRUE;
}

}  // namespace

void InstallStopHandlers() {
  runEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void FinishBeforeEnding() {
  finishFirst = true;
}

const std::atomic<bool>& StopFlag() {
  return stopRequested;
}

int StopStatus() {
  const DWORD event = firstEvent.load();
  return event == MAXDWORD ? 0 : StatusOf(event);
}

std::string StopCause() {
  switch (firstEvent.load()) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    case MAXDWORD:
      return {};
    default:
      return "console closed";
  }
}

void RunEnded(int status) {
  endStatus = status;
  if (runEnded != nullptr) {
    SetEvent(runEnded);
  }
}

}  // namespace fwu::cli
