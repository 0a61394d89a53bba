#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>

#include "cli/platform.h"
#include "serial/posix_clock.h"
#include "serial/posix_port.h"

namespace fwu::cli {

namespace {

constexpr int kDefaultColumns = 80;

}  // namespace

std::unique_ptr<SerialPort> NewSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

std::unique_ptr<Clock> NewClock() {
  return std::make_unique<PosixClock>();
}

void PrepareProcess() {}

std::string SerialPortIdentity(const std::string& portName) {
  std::error_code error;
  const std::filesystem::path device = std::filesystem::weakly_canonical(portName, error);
  return error ? portName : device.string();
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
