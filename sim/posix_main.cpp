// fwsim: the simulated controller behind a pseudo-terminal, for integration tests, benchmarks and demos.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/boot_loader.h"
#include "sim/line_log.h"
#include "sim/line_pacer.h"
#include "sim/memory_check.h"
#include "sim/posix_pty.h"
#include "sim/server_options.h"

namespace fwu::sim {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitMemoryDiffers = 1;
constexpr int kExitBadArguments = 2;
constexpr int kExitSystem = 3;

constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kWriteChunk = 4096;
// At exit, the updater gets this long to read the last answer before the terminal goes away.
constexpr TimeUs kDrainLimitUs = 2'000'000;
constexpr TimeUs kDrainQuietUs = 20'000;
constexpr int kDrainPollMs = 2;
constexpr std::uint64_t kUsPerMs = 1'000;

UniqueFd g_signalPipeWrite;  // written by the signal handler only

TimeUs MonotonicUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<TimeUs>(now.tv_sec) * 1'000'000U + static_cast<TimeUs>(now.tv_nsec) / 1'000U;
}

void OnStopSignal(int /*signal*/) {
  const char byte = 1;
  const ssize_t ignored = write(g_signalPipeWrite.Get(), &byte, 1);
  static_cast<void>(ignored);
}

// SIGINT and SIGTERM wake the poll through a pipe, so the loop ends where it can still dump and compare.
std::string InstallSignals(UniqueFd& readEnd) {
  std::array<int, 2> fds{};
  if (pipe(fds.data()) != 0) {
    return std::string("pipe: ") + std::strerror(errno);
  }
  readEnd = UniqueFd(fds[0]);
  g_signalPipeWrite = UniqueFd(fds[1]);
  for (const int fd : fds) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  static_cast<void>(signal(SIGPIPE, SIG_IGN));  // a reader of our output that goes away is no reason to die
  return {};
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read '" + path + "': " + std::strerror(errno);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) {
    error = "cannot read '" + path + "'";
    return std::nullopt;
  }
  return bytes;
}

bool WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file.flush());
}

// A symlink to the terminal for scripts that want a fixed name; an existing symlink there is replaced, anything
// else is left alone.
std::string MakeLink(const std::string& link, const std::string& target) {
  struct stat existing {};
  if (lstat(link.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) {
      return "'" + link + "' exists and is not a symbolic link; not replacing it";
    }
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    return "cannot make the link '" + link + "': " + std::strerror(errno);
  }
  return {};
}

class Server {
 public:
  Server(const ServerOptions& options, BootLoader& loader, PseudoTerminal& pty, int signalFd, std::FILE* log)
      : options_(options),
        loader_(loader),
        pty_(pty),
        signalFd_(signalFd),
        log_(log),
        pacer_(options.pace ? LinePacer::kByteNsAt38400 : 0),
        startUs_(MonotonicUs()) {}

  // Serves until a stop signal, the end of an update (when asked) or, when asked, the updater closing the
  // terminal. Returns an empty string, or what failed.
  std::string Run() {
    for (;;) {
      if (auto problem = SendDue(); !problem.empty()) {
        return problem;
      }
      if (options_.exitAfterUpdate && loader_.UpdatesFinished() > 0 && pacer_.Empty() && unsent_.empty()) {
        Drain();
        return {};
      }
      std::array<pollfd, 2> fds{pollfd{pty_.Master(), POLLIN, 0}, pollfd{signalFd_, POLLIN, 0}};
      if (!unsent_.empty()) {
        fds[0].events |= POLLOUT;
      }
      const int ready = poll(fds.data(), fds.size(), PollTimeoutMs());
      if (ready < 0 && errno != EINTR) {
        return std::string("poll: ") + std::strerror(errno);
      }
      if (ready <= 0) {
        continue;
      }
      if (fds[1].revents != 0) {
        return {};
      }
      if ((fds[0].revents & POLLIN) != 0) {
        if (auto problem = Receive(); !problem.empty()) {
          return problem == kClosed ? std::string() : problem;
        }
      } else if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) {
        // Only without a held descriptor can the terminal hang up; going on would spin.
        return options_.exitOnClose ? std::string() : std::string("the terminal hung up");
      }
    }
  }

 private:
  static constexpr std::string_view kClosed = "closed";

  TimeUs NowUs() const { return MonotonicUs() - startUs_; }

  int PollTimeoutMs() const {
    if (!unsent_.empty()) {
      return -1;  // POLLOUT tells when the terminal takes more
    }
    const auto due = pacer_.NextDueUs();
    if (!due) {
      return -1;
    }
    const TimeUs now = NowUs();
    return *due <= now ? 0 : static_cast<int>((*due - now + kUsPerMs - 1) / kUsPerMs);
  }

  std::string Receive() {
    std::array<std::uint8_t, kReadChunk> buffer{};
    const ssize_t got = read(pty_.Master(), buffer.data(), buffer.size());
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
      return {};
    }
    if (got <= 0) {
      // EIO: nobody has the terminal open (only without a held descriptor, that is with --exit-on-close).
      return options_.exitOnClose ? std::string(kClosed) : std::string("read: ") + std::strerror(errno);
    }
    loader_.Feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)), NowUs());
    for (auto& chunk : loader_.TakeOutput()) {
      pacer_.Add(std::move(chunk));
    }
    WriteLog();
    return {};
  }

  std::string SendDue() {
    if (unsent_.empty()) {
      unsent_ = pacer_.Take(NowUs(), kWriteChunk);
    }
    if (unsent_.empty()) {
      return {};
    }
    const ssize_t wrote = write(pty_.Master(), unsent_.data(), unsent_.size());
    if (wrote < 0) {
      return errno == EAGAIN || errno == EINTR || errno == EIO ? std::string()
                                                               : std::string("write: ") + std::strerror(errno);
    }
    unsent_.erase(unsent_.begin(), unsent_.begin() + wrote);
    return {};
  }

  void WriteLog() {
    if (log_ != nullptr) {
      bool written = true;
      for (const auto& record : loader_.Line()) {
        written = written && std::fputs((FormatLineRecord(record) + "\n").c_str(), log_) >= 0;
      }
      if (!written || std::fflush(log_) != 0) {
        std::cerr << "fwsim: the log cannot be written any more; going on without it\n";
        log_ = nullptr;
      }
    }
    loader_.ClearLogs();  // the server keeps nothing it has written out
  }

  // Gives the updater a bounded moment to read the last answer, so that closing the terminal cannot cut it off.
  // The terminal hands written bytes to the other side a little later, so an empty input queue counts only once
  // it has stayed empty for a while.
  void Drain() const {
    const TimeUs start = NowUs();
    TimeUs emptySince = start;
    while (NowUs() - start < kDrainLimitUs && NowUs() - emptySince < kDrainQuietUs) {
      if (pty_.UnreadByHost() > 0) {
        emptySince = NowUs();
      }
      poll(nullptr, 0, kDrainPollMs);
    }
  }

  const ServerOptions& options_;
  BootLoader& loader_;
  PseudoTerminal& pty_;
  int signalFd_;
  std::FILE* log_;
  LinePacer pacer_;
  std::vector<std::uint8_t> unsent_;
  TimeUs startUs_;
};

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != stderr) {
      static_cast<void>(std::fclose(file));  // every line was flushed as it was written
    }
  }
};

struct Inputs {
  std::optional<std::vector<std::uint8_t>> expectMain;
  std::optional<std::vector<std::uint8_t>> expectSecond;
};

// Loads the starting memory and the images to compare with, before anything else, so a wrong path fails at once.
std::string ReadInputs(const ServerOptions& options, BootLoader& loader, Inputs& inputs) {
  std::string error;
  const auto read = [&](const std::string& path, std::optional<std::vector<std::uint8_t>>& into) {
    if (!path.empty() && error.empty()) {
      into = ReadWholeFile(path, error);
    }
  };
  std::optional<std::vector<std::uint8_t>> loadMain;
  std::optional<std::vector<std::uint8_t>> loadSecond;
  read(options.loadMain, loadMain);
  read(options.loadSecond, loadSecond);
  read(options.expectMain, inputs.expectMain);
  read(options.expectSecond, inputs.expectSecond);
  if (!error.empty()) {
    return error;
  }
  if (loadMain && loadMain->size() > DeviceMemory::kMainSize) {
    return "'" + options.loadMain + "' is larger than the main region (524288 bytes)";
  }
  if (loadSecond && loadSecond->size() > DeviceMemory::kSecondSize) {
    return "'" + options.loadSecond + "' is larger than the second region (65536 bytes)";
  }
  if (loadMain) {
    loader.Memory().Load(DeviceMemory::Region::Main, *loadMain);
  }
  if (loadSecond) {
    loader.Memory().Load(DeviceMemory::Region::Second, *loadSecond);
  }
  return {};
}

// Dumps and compares the memory; returns the exit status.
int Finish(const ServerOptions& options, const BootLoader& loader, const Inputs& inputs) {
  int status = kExitOk;
  const auto& memory = loader.Memory();
  const auto dump = [&](const std::string& path, DeviceMemory::Region region) {
    if (!path.empty() && !WriteWholeFile(path, memory.Bytes(region))) {
      std::cerr << "fwsim: cannot write '" << path << "'\n";
      status = kExitSystem;
    }
  };
  dump(options.dumpMain, DeviceMemory::Region::Main);
  dump(options.dumpSecond, DeviceMemory::Region::Second);

  std::vector<RegionVerdict> verdicts;
  if (inputs.expectMain) {
    verdicts.push_back(CompareRegion("main", *inputs.expectMain, memory.Bytes(DeviceMemory::Region::Main)));
  }
  if (inputs.expectSecond) {
    verdicts.push_back(CompareRegion("second", *inputs.expectSecond, memory.Bytes(DeviceMemory::Region::Second)));
  }
  if (!verdicts.empty()) {
    std::cout << VerdictLine(verdicts) << std::endl;
    for (const auto& verdict : verdicts) {
      if (!verdict.equal && status == kExitOk) {
        status = kExitMemoryDiffers;
      }
    }
  }
  return status;
}

int Main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const ParsedOptions parsed = ParseServerOptions(args);
  if (!parsed.error.empty()) {
    std::cerr << "fwsim: " << parsed.error << "\nTry 'fwsim --help' for more information.\n";
    return kExitBadArguments;
  }
  const ServerOptions& options = parsed.options;
  if (options.help) {
    std::cout << ServerUsage();
    return kExitOk;
  }

  BootLoader loader(options.loader);
  Inputs inputs;
  if (auto problem = ReadInputs(options, loader, inputs); !problem.empty()) {
    std::cerr << "fwsim: " << problem << "\n";
    return kExitBadArguments;
  }
  std::unique_ptr<std::FILE, FileCloser> log;
  if (!options.logPath.empty()) {
    log.reset(options.logPath == "-" ? stderr : std::fopen(options.logPath.c_str(), "w"));
    if (!log) {
      std::cerr << "fwsim: cannot write the log '" << options.logPath << "': " << std::strerror(errno) << "\n";
      return kExitSystem;
    }
  }

  UniqueFd signalFd;
  PseudoTerminal pty;
  std::string problem = InstallSignals(signalFd);
  if (problem.empty()) {
    problem = pty.Open(!options.exitOnClose);
  }
  if (problem.empty() && !options.linkPath.empty()) {
    problem = MakeLink(options.linkPath, pty.SlavePath());
  }
  if (!problem.empty()) {
    std::cerr << "fwsim: " << problem << "\n";
    return kExitSystem;
  }
  std::cout << pty.SlavePath() << std::endl;

  Server server(options, loader, pty, signalFd.Get(), log.get());
  problem = server.Run();
  if (!options.linkPath.empty()) {
    unlink(options.linkPath.c_str());
  }
  const int status = Finish(options, loader, inputs);
  if (!problem.empty()) {
    std::cerr << "fwsim: " << problem << "\n";
    return kExitSystem;
  }
  return status;
}

}  // namespace
}  // namespace fwu::sim

int main(int argc, char** argv) {
  return fwu::sim::Main(argc, argv);
}
