#pragma once

#include <unistd.h>

#include <utility>

namespace fwu {

// Owns one file descriptor from the moment it exists: it is closed when its owner goes, so no error path can
// leak it.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset(std::exchange(other.fd_, -1));
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Reset(); }

  [[nodiscard]] int Get() const { return fd_; }
  [[nodiscard]] bool IsValid() const { return fd_ >= 0; }

  // Closes the descriptor held (if any) and takes fd in its place.
  void Reset(int fd = -1) {
    if (fd_ >= 0) {
      // Nothing useful can be done about a failed close: the descriptor is gone either way.
      static_cast<void>(::close(fd_));
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace fwu
