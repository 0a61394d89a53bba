#include "sim/posix_pty.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace fwu::sim {

namespace {

std::string Failed(const char* step) {
  return std::string(step) + ": " + std::strerror(errno);
}

// No echo, no line editing, no translation: the boot loader's bytes pass unchanged in both directions.
bool MakeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    return false;
  }
  cfmakeraw(&settings);
  cfsetispeed(&settings, B38400);
  cfsetospeed(&settings, B38400);
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    UniqueFd old(std::exchange(fd_, other.Release()));
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

int UniqueFd::Release() {
  return std::exchange(fd_, -1);
}

std::string PseudoTerminal::Open(bool holdSlave) {
  master_ = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY));
  if (!master_.Valid()) {
    return Failed("posix_openpt");
  }
  if (grantpt(master_.Get()) != 0) {
    return Failed("grantpt");
  }
  if (unlockpt(master_.Get()) != 0) {
    return Failed("unlockpt");
  }
  const char* name = ptsname(master_.Get());
  if (name == nullptr) {
    return Failed("ptsname");
  }
  slavePath_ = name;
  if (fcntl(master_.Get(), F_SETFD, FD_CLOEXEC) != 0 ||
      fcntl(master_.Get(), F_SETFL, fcntl(master_.Get(), F_GETFL) | O_NONBLOCK) != 0) {
    return Failed("fcntl");
  }
  if (holdSlave) {
    slave_ = UniqueFd(open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!slave_.Valid()) {
      return Failed(("open " + slavePath_).c_str());
    }
  }
  if (!MakeRaw(slave_.Valid() ? slave_.Get() : master_.Get())) {
    return Failed("tcsetattr");
  }
  return {};
}

int PseudoTerminal::UnreadByHost() const {
  // Without a held descriptor, a short-lived one looks at the same input queue.
  UniqueFd temporary;
  if (!slave_.Valid()) {
    temporary = UniqueFd(open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  }
  const int fd = slave_.Valid() ? slave_.Get() : temporary.Get();
  int waiting = 0;
  return fd >= 0 && ioctl(fd, FIONREAD, &waiting) == 0 ? waiting : -1;
}

}  // namespace fwu::sim
