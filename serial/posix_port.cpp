#include "serial/posix_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <limits>

namespace fwu {

namespace {

constexpr std::uint32_t kMsPerSecond = 1000;
constexpr long kNsPerMs = 1000000;
constexpr long kNsPerSecond = 1000000000;

timespec MonotonicNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

timespec AddMs(timespec time, std::uint32_t ms) {
  time.tv_sec += static_cast<time_t>(ms / kMsPerSecond);
  time.tv_nsec += static_cast<long>(ms % kMsPerSecond) * kNsPerMs;
  time.tv_sec += time.tv_nsec / kNsPerSecond;
  time.tv_nsec %= kNsPerSecond;
  return time;
}

void SleepUntil(const timespec& wakeAt) {
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wakeAt, nullptr) == EINTR) {
  }
}

// Waits up to timeoutMs for the descriptor to become ready for events; a hang-up or an error is not readiness.
bool WaitFor(int fd, short events, int timeoutMs) {
  pollfd watch{fd, events, 0};
  return ::poll(&watch, 1, timeoutMs) > 0 && (watch.revents & events) != 0;
}

// Milliseconds from now until `at`, rounded up so that a wait of that long never ends before it; 0 once it is
// past.
int MsUntil(const timespec& at) {
  const timespec now = MonotonicNow();
  const long long ns = (static_cast<long long>(at.tv_sec) - now.tv_sec) * kNsPerSecond + (at.tv_nsec - now.tv_nsec);
  if (ns <= 0) {
    return 0;
  }
  const long long ms = (ns + kNsPerMs - 1) / kNsPerMs;
  return ms < INT_MAX ? static_cast<int>(ms) : INT_MAX;
}

// Waits until a byte can be read or `giveUpAt` has come; a signal does not cut the wait short. False also for a
// line that has hung up or failed: poll reports it at once, and there is nothing to wait for.
bool WaitReadable(int fd, const timespec& giveUpAt) {
  for (;;) {
    pollfd watch{fd, POLLIN, 0};
    const int ready = ::poll(&watch, 1, MsUntil(giveUpAt));
    if (ready > 0) {
      return (watch.revents & POLLIN) != 0;
    }
    if (ready == 0 || errno != EINTR) {
      return false;
    }
  }
}

std::size_t ReadWaiting(int fd, std::span<std::uint8_t> into) {
  ssize_t count = 0;
  do {
    count = ::read(fd, into.data(), into.size());
  } while (count < 0 && errno == EINTR);
  return count > 0 ? static_cast<std::size_t>(count) : 0U;
}

ssize_t WriteOnce(int fd, std::span<const std::uint8_t> bytes) {
  ssize_t count = 0;
  do {
    count = ::write(fd, bytes.data(), bytes.size());
  } while (count < 0 && errno == EINTR);
  return count;
}

bool WouldBlock(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}

// A write of n bytes is given n + 1 ms to find room in the output queue, as the Windows port's write time-outs
// allow.
int WriteTimeoutMs(std::size_t count) {
  return count < static_cast<std::size_t>(INT_MAX) ? static_cast<int>(count) + 1 : INT_MAX;
}

// Only one updater may drive the line. TIOCEXCL refuses further opens of the terminal, but not to root; the
// advisory lock stops a second updater whoever runs it.
bool TakeExclusiveUse(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return false;
  }
  // Fails only on something that is no terminal, which reading the line settings reports next.
  static_cast<void>(::ioctl(fd, TIOCEXCL));
  return true;
}

void MakeRaw8N1(termios& settings) {
  cfmakeraw(&settings);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  // Reads never block in the driver: the short waits are done with poll.
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
}

bool SetSpeed(termios& settings) {
  return cfsetispeed(&settings, B38400) == 0 && cfsetospeed(&settings, B38400) == 0;
}

// tcsetattr succeeds when any of the changes was taken, so the settings are read back to see that all of them
// were.
bool HoldsLineSettings(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    return false;
  }
  return cfgetospeed(&settings) == B38400 && cfgetispeed(&settings) == B38400 && (settings.c_cflag & CSIZE) == CS8 &&
         (settings.c_cflag & (PARENB | CSTOPB)) == 0;
}

// DTR, then RTS. A pseudo-terminal has no modem lines and refuses both; the controller's adapter does not need
// them to answer, so the results are not looked at.
void RaiseModemLines(int fd) {
  const int dtr = TIOCM_DTR;
  static_cast<void>(::ioctl(fd, TIOCMBIS, &dtr));
  const int rts = TIOCM_RTS;
  static_cast<void>(::ioctl(fd, TIOCMBIS, &rts));
}

// USB serial adapters hold arriving bytes for up to their latency timer (16 ms is common) before passing them on,
// and every exchange waits on the controller several times. In low-latency mode the driver passes each byte on
// at once. A pseudo-terminal has no such setting and refuses the request; the line works the same either way.
void RequestLowLatency(int fd) {
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) {
    return;
  }
  serial.flags |= ASYNC_LOW_LATENCY;
  static_cast<void>(::ioctl(fd, TIOCSSERIAL, &serial));
}

}  // namespace

PosixSerialPort::~PosixSerialPort() {
  Release();
}

std::string DescribeOpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "no such device";
    case EACCES:
    case EPERM:
      return "permission denied (is the user in the dialout group?)";
    case EBUSY:
    case EWOULDBLOCK:  // the advisory lock of another updater
      return "in use by another program";
    case ENOTTY:
    case EINVAL:
      return "not a serial port";
    default:
      return std::strerror(error);
  }
}

OpenResult PosixSerialPort::Open(const std::string& portName) {
  Close();
  openFailure_.clear();
  FileDescriptor fd(::open(portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsValid() || !TakeExclusiveUse(fd.Get())) {
    return Failed(OpenResult::OpenFailed, errno);
  }
  fd_ = std::move(fd);
  const OpenResult result = Configure();
  if (result != OpenResult::Ok) {
    Close();
  }
  return result;
}

OpenResult PosixSerialPort::Failed(OpenResult result, int error) {
  openFailure_ = DescribeOpenError(error);
  return result;
}

OpenResult PosixSerialPort::Configure() {
  termios settings{};
  if (tcgetattr(fd_.Get(), &settings) != 0) {
    return Failed(OpenResult::ReadSettingsFailed, errno);
  }
  MakeRaw8N1(settings);
  // A driver that takes the request but not every setting sets no errno: the read-back tells.
  errno = 0;
  if (!SetSpeed(settings) || tcsetattr(fd_.Get(), TCSANOW, &settings) != 0 || !HoldsLineSettings(fd_.Get())) {
    const int error = errno;
    if (error == 0) {
      openFailure_ = "the driver did not take 38400 baud 8-N-1";
      return OpenResult::WriteSettingsFailed;
    }
    return Failed(OpenResult::WriteSettingsFailed, error);
  }
  RequestLowLatency(fd_.Get());
  RaiseModemLines(fd_.Get());
  return OpenResult::Ok;
}

void PosixSerialPort::Close() {
  Release();
}

void PosixSerialPort::Release() {
  if (!fd_.IsValid()) {
    return;
  }
  // A pseudo-terminal outlives its slave's last close and would keep refusing opens; give the next one its turn.
  static_cast<void>(::ioctl(fd_.Get(), TIOCNXCL));
  fd_.Reset();
}

std::size_t PosixSerialPort::Read(std::span<std::uint8_t> into, std::uint32_t waitMs) {
  const timespec giveUpAt = AddMs(MonotonicNow(), waitMs);
  // One poll that sleeps until the first byte arrives or the wait is over, then one read of all that is there.
  if (fd_.IsValid() && !into.empty() && WaitReadable(fd_.Get(), giveUpAt)) {
    if (const std::size_t count = ReadWaiting(fd_.Get(), into); count > 0) {
      return count;
    }
  }
  // A closed port, or a line that has hung up (poll wakes at once, read fails with EIO), has no wait of its own.
  SleepUntil(giveUpAt);
  return 0;
}

WriteOutcome PosixSerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (!fd_.IsValid()) {
    return {};
  }
  // The written count is reported in 32 bits; a longer request is simply a partial write.
  bytes = bytes.first(std::min<std::size_t>(bytes.size(), std::numeric_limits<std::uint32_t>::max()));
  ssize_t count = WriteOnce(fd_.Get(), bytes);
  if (count < 0 && WouldBlock(errno)) {
    // The output queue is full: wait for room, as long as a Windows write would wait, and try once more.
    static_cast<void>(WaitFor(fd_.Get(), POLLOUT, WriteTimeoutMs(bytes.size())));
    count = WriteOnce(fd_.Get(), bytes);
    if (count < 0 && WouldBlock(errno)) {
      // Still no room: like a Windows write whose time-out ran out, the call succeeded with nothing taken.
      return {true, 0};
    }
  }
  if (count < 0) {
    return {};
  }
  return {true, static_cast<std::uint32_t>(count)};
}

void PosixSerialPort::Purge() {
  if (fd_.IsValid()) {
    static_cast<void>(tcflush(fd_.Get(), TCIOFLUSH));
  }
}

}  // namespace fwu
