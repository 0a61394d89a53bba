#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "station/append_file.h"

namespace fwu::station {

AppendFile::~AppendFile() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

bool AppendFile::Open(const std::string& path, std::string& error) {
  constexpr mode_t kReadableByAll = 0644;
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kReadableByAll);
  if (fd_ < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// NOLINTNEXTLINE(readability-make-member-function-const): it writes the file the object stands for
bool AppendFile::AppendAndSync(std::string_view bytes, std::string& error) {
  // One write call for the whole record, so that a crash leaves a record whole or cut at its end, never two
  // records mixed; the loop only goes on after a signal or a full disk's partial write.
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      error = std::strerror(errno);
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::fsync(fd_) != 0) {
    error = std::string("sync: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace fwu::station
