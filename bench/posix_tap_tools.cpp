#include "bench/posix_tap_tools.h"

#include <sys/signalfd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iostream>

namespace fwu::bench {

std::uint64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * kNsPerSecond + static_cast<std::uint64_t>(now.tv_nsec);
}

std::string Failed(const std::string& step) {
  return step + ": " + std::strerror(errno);
}

std::string WatchStopSignals(int& fd) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
    return Failed("sigprocmask");
  }
  fd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
  return fd >= 0 ? std::string() : Failed("signalfd");
}

int FinishTap(std::string_view tool, const std::string& path, const std::function<bool(std::FILE*)>& writeLog,
              const std::string& problem) {
  std::FILE* log = std::fopen(path.c_str(), "w");
  bool logged = log != nullptr && writeLog(log);
  logged = log != nullptr && std::fclose(log) == 0 && logged;
  if (!logged) {
    std::cerr << tool << ": cannot write the log '" << path << "'\n";
    return kExitSystem;
  }
  if (!problem.empty()) {
    std::cerr << tool << ": " << problem << "\n";
    return kExitSystem;
  }
  return kExitOk;
}

}  // namespace fwu::bench
