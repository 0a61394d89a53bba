#pragma once

#include <string>

namespace fwu::sim {

// A file descriptor owned from the moment it exists.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  [[nodiscard]] int Get() const { return fd_; }
  [[nodiscard]] bool Valid() const { return fd_ >= 0; }
  int Release();

 private:
  int fd_ = -1;
};

// The controller's end of a pseudo-terminal pair: the updater opens SlavePath() as its serial port.
class PseudoTerminal {
 public:
  // Creates the pair in raw mode with a non-blocking master. With holdSlave, the server keeps a descriptor of
  // the updater's side open itself, so the terminal outlives the updater closing it (no hang-up, nothing to
  // spin on). Returns an empty string, or what failed.
  std::string Open(bool holdSlave);

  [[nodiscard]] int Master() const { return master_.Get(); }
  [[nodiscard]] const std::string& SlavePath() const { return slavePath_; }
  // Bytes written towards the updater that it has not read yet; -1 when that cannot be told.
  [[nodiscard]] int UnreadByHost() const;

 private:
  UniqueFd master_;
  UniqueFd slave_;
  std::string slavePath_;
};

}  // namespace fwu::sim
