#include <sys/ioctl.h>
#include <unistd.h>

#include <array>

#include "cli/platform.h"
#include "serial/posix_clock.h"

namespace fwu::cli {

namespace {

constexpr int kDefaultColumns = 80;

}  // namespace

std::unique_ptr<Clock> NewClock() {
  return std::make_unique<PosixClock>();
}

void PrepareProcess() {}

std::string HostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) {
    return {};
  }
  return name.data();
}

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

int TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
    return kDefaultColumns;
  }
  return size.ws_col;
}

}  // namespace fwu::cli
