// fwu_line_tap: a 38400-baud line between the updater and the simulated controller, with a stopwatch on it.
//
// A pseudo-terminal has no baud rate: what the updater writes reaches the controller at once. The tap gives the
// updater a terminal of its own and carries its bytes on to the controller's terminal as a UART would, each one
// 10 bits at 38400 baud after the line became free, so the controller sees a command's last byte when it would
// on a real line. The controller paces its own answers (fwsim --pace); the tap passes them on at once, or, with
// --latency-ms L, as a USB serial adapter with an L ms latency timer would (bench/usb_adapter.h). Every chunk is
// timed where it crosses the tap, and the log of those times is written when the tap ends: on SIGTERM or SIGINT,
// or when the controller's terminal goes away.
//
// Log lines (times in nanoseconds on CLOCK_MONOTONIC):
//   h <read> <due> <delivered> <hex bytes>   the updater wrote these; due: their last stop bit on a real line
//   d <read> <written> <hex bytes>           the controller sent these; written: handed on to the updater

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/posix_tap_tools.h"
#include "bench/usb_adapter.h"
#include "sim/posix_pty.h"

namespace fwu::bench {
namespace {

using sim::PseudoTerminal;
using sim::UniqueFd;

constexpr std::uint64_t kNsPerMs = 1'000'000;
// Adapters offer latency timers of 1 to 255 ms.
constexpr unsigned kMaxLatencyMs = 255;
// One byte at 38400 baud, 8 data bits, no parity, one stop bit: 10 bits.
constexpr std::uint64_t kByteNs = 260'417;
constexpr std::size_t kReadChunk = 4096;

struct Options {
  std::string device;  // the controller's terminal
  std::string link;    // symlink to the terminal the updater opens
  std::string log;
  unsigned latencyMs = 0;  // 0: no adapter, the controller's bytes go on at once
};

// A latency timer in whole milliseconds, 1 to 255.
std::optional<unsigned> ParseLatency(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > kMaxLatencyMs) {
    return std::nullopt;
  }
  return value;
}

std::optional<Options> ParseOptions(const std::vector<std::string_view>& args) {
  Options options;
  for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--device") {
      options.device = args[i + 1];
    } else if (args[i] == "--link") {
      options.link = args[i + 1];
    } else if (args[i] == "--log") {
      options.log = args[i + 1];
    } else if (args[i] == "--latency-ms") {
      const std::optional<unsigned> latency = ParseLatency(args[i + 1]);
      if (!latency) {
        return std::nullopt;
      }
      options.latencyMs = *latency;
    } else {
      return std::nullopt;
    }
  }
  if (args.size() % 2 != 0 || options.device.empty() || options.link.empty() || options.log.empty()) {
    return std::nullopt;
  }
  return options;
}

// A symlink that is never seen half made: made under a temporary name, then renamed over the old one.
std::string PointLink(const std::string& link, const std::string& target) {
  const std::string temporary = link + ".new";
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0) {
    return Failed("symlink " + temporary);
  }
  if (rename(temporary.c_str(), link.c_str()) != 0) {
    return Failed("rename " + temporary);
  }
  return {};
}

// The controller's terminal, raw, so that no byte is translated on its way.
std::string OpenDevice(const std::string& path, UniqueFd& fd) {
  fd = UniqueFd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) {
    return Failed("open " + path);
  }
  termios settings{};
  if (tcgetattr(fd.Get(), &settings) != 0) {
    return Failed("tcgetattr " + path);
  }
  cfmakeraw(&settings);
  if (tcsetattr(fd.Get(), TCSANOW, &settings) != 0) {
    return Failed("tcsetattr " + path);
  }
  return {};
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr std::string_view kDigits = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4U];
    text += kDigits[byte & 0x0FU];
  }
  return text;
}

// Writes all of bytes to a non-blocking descriptor, waiting for room when it is full. False when it failed.
bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
    pollfd room{fd, POLLOUT, 0};
    static_cast<void>(poll(&room, 1, 1));
  }
  return true;
}

class Tap {
 public:
  Tap(int updaterFd, int deviceFd, int signalFd, std::optional<UsbAdapter> adapter)
      : updaterFd_(updaterFd), deviceFd_(deviceFd), signalFd_(signalFd), adapter_(std::move(adapter)) {}

  // Carries bytes both ways until a stop signal or until the controller's terminal goes away.
  std::string Run() {
    for (;;) {
      const std::uint64_t now = NowNs();
      if (!DeliverDue(now)) {
        return Failed("write to the controller");
      }
      ReleaseFromAdapter(now);
      std::array<pollfd, 3> fds{pollfd{updaterFd_, POLLIN, 0}, pollfd{deviceFd_, POLLIN, 0},
                                pollfd{signalFd_, POLLIN, 0}};
      const std::optional<timespec> timeout = WaitUntilNextDue();
      const int ready = ppoll(fds.data(), fds.size(), timeout ? &*timeout : nullptr, nullptr);
      if (ready < 0 && errno != EINTR) {
        return Failed("ppoll");
      }
      if (ready <= 0) {
        continue;
      }
      if (fds[2].revents != 0) {
        return {};
      }
      if ((fds[0].revents & POLLIN) != 0) {
        FromUpdater();
      }
      if ((fds[1].revents & POLLIN) != 0) {
        if (!FromDevice()) {
          return {};
        }
      } else if ((fds[1].revents & (POLLHUP | POLLERR)) != 0) {
        return {};  // the controller has gone: its update is over
      }
    }
  }

  bool WriteLog(std::FILE* file, unsigned latencyMs) const {
    bool ok = std::fprintf(file, "# fwu_line_tap byte_ns=%llu latency_ms=%u\n",
                           static_cast<unsigned long long>(kByteNs), latencyMs) > 0;
    for (const auto& line : log_) {
      ok = ok && std::fputs(line.c_str(), file) >= 0;
    }
    return ok;
  }

 private:
  struct Held {
    std::uint64_t readNs;
    std::uint64_t dueNs;
    std::vector<std::uint8_t> bytes;
  };

  // The updater's bytes go on the line behind whatever is still being sent; each takes one byte time.
  void FromUpdater() {
    std::array<std::uint8_t, kReadChunk> buffer{};
    const ssize_t got = read(updaterFd_, buffer.data(), buffer.size());
    const std::uint64_t now = NowNs();
    if (got <= 0) {
      return;
    }
    lineFreeNs_ = std::max(lineFreeNs_, now) + static_cast<std::uint64_t>(got) * kByteNs;
    held_.push_back({now, lineFreeNs_, {buffer.begin(), buffer.begin() + got}});
  }

  // A chunk reaches the controller whole, once its last byte would have: the controller acts on whole messages.
  bool DeliverDue(std::uint64_t now) {
    while (!held_.empty() && held_.front().dueNs <= now) {
      const Held& chunk = held_.front();
      if (!WriteAll(deviceFd_, chunk.bytes)) {
        return false;
      }
      log_.push_back("h " + std::to_string(chunk.readNs) + " " + std::to_string(chunk.dueNs) + " " +
                     std::to_string(NowNs()) + " " + Hex(chunk.bytes) + "\n");
      held_.pop_front();
    }
    return true;
  }

  // Until the next chunk for the controller is due or the adapter's latency timer runs out.
  [[nodiscard]] std::optional<timespec> WaitUntilNextDue() const {
    std::optional<std::uint64_t> due = adapter_ ? adapter_->Deadline() : std::nullopt;
    if (!held_.empty()) {
      due = std::min(due.value_or(held_.front().dueNs), held_.front().dueNs);
    }
    if (!due) {
      return std::nullopt;
    }
    const std::uint64_t now = NowNs();
    const std::uint64_t wait = *due > now ? *due - now : 0;
    return timespec{static_cast<time_t>(wait / kNsPerSecond), static_cast<long>(wait % kNsPerSecond)};
  }

  // The controller paces its own answers; they go on to the updater at once. False once its terminal is gone.
  bool FromDevice() {
    std::array<std::uint8_t, kReadChunk> buffer{};
    const ssize_t got = read(deviceFd_, buffer.data(), buffer.size());
    const std::uint64_t now = NowNs();
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
      return true;
    }
    if (got <= 0) {
      return false;
    }
    const std::vector<std::uint8_t> bytes(buffer.begin(), buffer.begin() + got);
    if (adapter_) {
      adapter_->Arrive(now, bytes);
      ReleaseFromAdapter(NowNs());
    } else {
      ToUpdater(now, bytes);
    }
    return true;
  }

  // What the adapter passes on by now: its full packets, and the rest once its latency timer has run out.
  void ReleaseFromAdapter(std::uint64_t now) {
    if (adapter_) {
      for (const UsbAdapter::Piece& piece : adapter_->Release(now)) {
        ToUpdater(piece.arrivedNs, piece.bytes);
      }
    }
  }

  void ToUpdater(std::uint64_t readNs, const std::vector<std::uint8_t>& bytes) {
    // Nobody may be reading yet; the updater's terminal then keeps what fits and the rest is dropped.
    static_cast<void>(WriteAll(updaterFd_, bytes));
    log_.push_back("d " + std::to_string(readNs) + " " + std::to_string(NowNs()) + " " + Hex(bytes) + "\n");
  }

  int updaterFd_;
  int deviceFd_;
  int signalFd_;
  std::uint64_t lineFreeNs_ = 0;
  std::deque<Held> held_;
  std::optional<UsbAdapter> adapter_;
  std::vector<std::string> log_;
};

constexpr std::string_view kUsage =
    "usage: fwu_line_tap --device PATH --link PATH --log FILE [--latency-ms L]\n"
    "Carries the updater's bytes to the controller's terminal PATH at 38400 baud and the answers back, and\n"
    "logs when every chunk crossed. The updater opens the --link; the terminal's path is printed first.\n"
    "--latency-ms L (1-255): the answers pass a USB serial adapter that holds them until 62 bytes wait or L ms\n"
    "have passed since the first of them arrived.\n";

int Main(int argc, char** argv) {
  const auto options = ParseOptions(std::vector<std::string_view>(argv + 1, argv + argc));
  if (!options) {
    std::cerr << kUsage;
    return kExitBadArguments;
  }
  // Wake-ups for the next byte's stop bit come on time, not up to 50 us late.
  static_cast<void>(prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL));

  int stopFd = -1;
  std::string problem = WatchStopSignals(stopFd);
  const UniqueFd signalFd(stopFd);
  UniqueFd device;
  PseudoTerminal updater;
  if (problem.empty()) {
    problem = OpenDevice(options->device, device);
  }
  if (problem.empty()) {
    // The tap keeps the updater's side open itself: the updater may close and reopen it.
    problem = updater.Open(true);
  }
  if (problem.empty()) {
    problem = PointLink(options->link, updater.SlavePath());
  }
  if (!problem.empty()) {
    std::cerr << "fwu_line_tap: " << problem << "\n";
    return kExitSystem;
  }
  std::cout << updater.SlavePath() << std::endl;

  std::optional<UsbAdapter> adapter;
  if (options->latencyMs != 0) {
    adapter.emplace(std::uint64_t{options->latencyMs} * kNsPerMs);
  }
  Tap tap(updater.Master(), device.Get(), signalFd.Get(), std::move(adapter));
  problem = tap.Run();
  unlink(options->link.c_str());
  return FinishTap(
      "fwu_line_tap", options->log, [&](std::FILE* log) { return tap.WriteLog(log, options->latencyMs); }, problem);
}

}  // namespace
}  // namespace fwu::bench

int main(int argc, char** argv) {
  return fwu::bench::Main(argc, argv);
}
