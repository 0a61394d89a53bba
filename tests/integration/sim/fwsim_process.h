#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fwu::test {

// Generous, since a loaded machine may be slow; no test waits this long when all is well.
inline constexpr int kDeadlineMs = 10'000;

// fwsim (or another program of the build) running as a child process, its output captured. Killed at
// destruction if it is still running.
class FwsimProcess {
 public:
  explicit FwsimProcess(const std::vector<std::string>& args, const std::string& program = FWSIM_PATH);
  FwsimProcess(const FwsimProcess&) = delete;
  FwsimProcess& operator=(const FwsimProcess&) = delete;
  ~FwsimProcess();

  // The first line it printed (the terminal's path), or empty if it printed none before the deadline or ended.
  std::string ReadLine();
  void Signal(int signal) const;
  // Closes the reading end of its standard output, as `| head -1` does once it has its line.
  void CloseOutput();
  // Its exit status once it has ended, or nothing if it is still running at the deadline.
  std::optional<int> Wait();
  // Everything it wrote to standard output and standard error after the first line (read once it has ended).
  std::string RestOfOutput();
  [[nodiscard]] std::string ErrorOutput() const;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string outBuffer_;
  std::optional<int> status_;
};

// The updater's end of the terminal: opened raw, read with deadlines.
class Terminal {
 public:
  explicit Terminal(const std::string& path);
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  ~Terminal();

  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
  void Write(std::span<const std::uint8_t> bytes) const;
  // Reads until count bytes have come, or the deadline has passed.
  std::vector<std::uint8_t> Read(std::size_t count) const;

 private:
  int fd_ = -1;
};

// A directory for one test's files, removed afterwards.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  [[nodiscard]] std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> ReadFile(const std::string& path);

}  // namespace fwu::test
