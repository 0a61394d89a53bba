#include <io.h>
#include <windows.h>

#include <array>

#include "cli/platform.h"
#include "serial/win32_clock.h"

namespace fwu::cli {

namespace {

constexpr int kDefaultColumns = 80;

HANDLE ConsoleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

std::unique_ptr<Clock> NewClock() {
  return std::make_unique<Win32Clock>();
}

void PrepareProcess() {
  // Held for the whole run: the port's 1 ms time-outs and the tick need the finest system timer.
  static const TimerResolution timerResolution;
  static_cast<void>(timerResolution);
  // A console that cannot take the cursor sequences is treated as no terminal (IsTerminal asks again).
  for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE console = GetStdHandle(which);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode) != FALSE) {
      SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
  }
}

std::string HostName() {
  std::array<char, MAX_COMPUTERNAME_LENGTH + 1> name{};
  DWORD size = static_cast<DWORD>(name.size());
  if (GetComputerNameA(name.data(), &size) == 0) {
    return {};
  }
  return std::string(name.data(), size);
}

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(ConsoleOf(stream), &mode) != FALSE && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns(std::FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(ConsoleOf(stream), &info) == FALSE) {
    return kDefaultColumns;
  }
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace fwu::cli
