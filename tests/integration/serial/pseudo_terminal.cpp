#include "pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <stdexcept>

namespace fwu::test {

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr double kMsPerNs = 1e-6;

double ReadClockMs(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * kMsPerSecond + static_cast<double>(now.tv_nsec) * kMsPerNs;
}

int RemainingMs(double deadline) {
  const double left = deadline - WallMs();
  return left > 0 ? static_cast<int>(left) + 1 : 0;
}

}  // namespace

double WallMs() {
  return ReadClockMs(CLOCK_MONOTONIC);
}
double ThreadCpuMs() {
  return ReadClockMs(CLOCK_THREAD_CPUTIME_ID);
}

PseudoTerminal::PseudoTerminal() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  constexpr std::size_t kPathCapacity = 128;
  std::array<char, kPathCapacity> path{};
  if (!master_.IsValid() || grantpt(master_.Get()) != 0 || unlockpt(master_.Get()) != 0 ||
      ptsname_r(master_.Get(), path.data(), path.size()) != 0 ||
      fcntl(master_.Get(), F_SETFL, fcntl(master_.Get(), F_GETFL) | O_NONBLOCK) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  slavePath_ = path.data();
}

void PseudoTerminal::Send(std::span<const std::uint8_t> bytes) {
  const double deadline = WallMs() + kGenerousMs;
  while (!bytes.empty()) {
    const ssize_t count = write(master_.Get(), bytes.data(), bytes.size());
    if (count > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(count));
      continue;
    }
    if (count < 0 && errno != EAGAIN && errno != EINTR) {
      throw std::runtime_error("the far end cannot send");
    }
    pollfd watch{master_.Get(), POLLOUT, 0};
    if (RemainingMs(deadline) == 0 || poll(&watch, 1, RemainingMs(deadline)) < 0) {
      throw std::runtime_error("the far end cannot send");
    }
  }
}

Bytes PseudoTerminal::Receive(std::size_t count) {
  const double deadline = WallMs() + kGenerousMs;
  Bytes received;
  std::array<std::uint8_t, 4096> chunk{};
  while (received.size() < count) {
    const ssize_t got = read(master_.Get(), chunk.data(), std::min(chunk.size(), count - received.size()));
    if (got > 0) {
      received.insert(received.end(), chunk.begin(), chunk.begin() + got);
      continue;
    }
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;  // the slave side has gone
    }
    pollfd watch{master_.Get(), POLLIN, 0};
    if (RemainingMs(deadline) == 0 || poll(&watch, 1, RemainingMs(deadline)) <= 0) {
      break;
    }
  }
  return received;
}

}  // namespace fwu::test
