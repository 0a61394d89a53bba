#include "fwsim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fwu::test {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

Clock::time_point Deadline() {
  return Clock::now() + std::chrono::milliseconds(kDeadlineMs);
}

// Reads what is there now; false at end of file or error.
bool ReadSome(int fd, std::string& into) {
  std::array<char, 4096> buffer{};
  const ssize_t got = read(fd, buffer.data(), buffer.size());
  if (got <= 0) {
    return false;
  }
  into.append(buffer.data(), static_cast<std::size_t>(got));
  return true;
}

std::string ReadToEnd(int fd) {
  std::string all;
  const auto deadline = Deadline();
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, RemainingMs(deadline)) > 0 && ReadSome(fd, all)) {
  }
  return all;
}

}  // namespace

FwsimProcess::FwsimProcess(const std::vector<std::string>& args, const std::string& program) {
  std::array<int, 2> out{};
  std::array<int, 2> err{};
  if (pipe(out.data()) != 0 || pipe(err.data()) != 0) {
    return;
  }
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  pointers.reserve(argv.size() + 1);
  for (auto& arg : argv) {
    pointers.push_back(arg.data());
  }
  pointers.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    close(out[0]);
    close(err[0]);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  out_ = out[0];
  err_ = err[0];
}

FwsimProcess::~FwsimProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) {
    close(out_);
  }
  if (err_ >= 0) {
    close(err_);
  }
}

std::string FwsimProcess::ReadLine() {
  const auto deadline = Deadline();
  pollfd p{out_, POLLIN, 0};
  while (outBuffer_.find('\n') == std::string::npos) {
    if (poll(&p, 1, RemainingMs(deadline)) <= 0 || !ReadSome(out_, outBuffer_)) {
      return {};
    }
  }
  const auto end = outBuffer_.find('\n');
  std::string line = outBuffer_.substr(0, end);
  outBuffer_.erase(0, end + 1);
  return line;
}

void FwsimProcess::Signal(int signal) const {
  kill(pid_, signal);
}

void FwsimProcess::CloseOutput() {
  if (out_ >= 0) {
    close(out_);
    out_ = -1;
  }
}

std::optional<int> FwsimProcess::Wait() {
  const auto deadline = Deadline();
  while (!status_) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (RemainingMs(deadline) == 0) {
      break;
    }
    poll(nullptr, 0, 5);  // the child's end is the condition waited for
  }
  return status_;
}

std::string FwsimProcess::RestOfOutput() {
  return out_ < 0 ? outBuffer_ : outBuffer_ + ReadToEnd(out_);
}

std::string FwsimProcess::ErrorOutput() const {
  return ReadToEnd(err_);
}

Terminal::Terminal(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
  termios settings{};
  if (fd_ >= 0 && tcgetattr(fd_, &settings) == 0) {
    cfmakeraw(&settings);
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    tcsetattr(fd_, TCSANOW, &settings);
  }
}

Terminal::~Terminal() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

void Terminal::Write(std::span<const std::uint8_t> bytes) const {
  std::size_t done = 0;
  const auto deadline = Deadline();
  pollfd p{fd_, POLLOUT, 0};
  while (done < bytes.size() && poll(&p, 1, RemainingMs(deadline)) > 0) {
    const ssize_t wrote = write(fd_, bytes.data() + done, bytes.size() - done);
    if (wrote <= 0) {
      return;
    }
    done += static_cast<std::size_t>(wrote);
  }
}

std::vector<std::uint8_t> Terminal::Read(std::size_t count) const {
  std::vector<std::uint8_t> got;
  const auto deadline = Deadline();
  pollfd p{fd_, POLLIN, 0};
  while (got.size() < count && poll(&p, 1, RemainingMs(deadline)) > 0) {
    std::array<std::uint8_t, 1> byte{};
    if (read(fd_, byte.data(), 1) == 1) {
      got.push_back(byte[0]);
    }
  }
  return got;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "fwsim-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) {
    path_ = pattern;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace fwu::test
