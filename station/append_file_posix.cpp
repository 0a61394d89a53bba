#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "station/append_file.h"

namespace fwu::station {

AppendFile::~AppendFile() {
  Close();
}

void AppendFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
  fd_ = -1;
}

bool AppendFile::Open(const std::string& path, std::string& error) {
  Close();
  path_ = path;
  constexpr mode_t kReadableByAll = 0644;
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kReadableByAll);
  if (fd_ < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool AppendFile::AtPath() const {
  // The same device and inode at the path, and still linked: a file renamed away, deleted or replaced by another
  // of that name is not what a reader of the path gets.
  struct stat open {};
  struct stat atPath {};
  return fd_ >= 0 && ::fstat(fd_, &open) == 0 && open.st_nlink > 0 && ::stat(path_.c_str(), &atPath) == 0 &&
         open.st_dev == atPath.st_dev && open.st_ino == atPath.st_ino;
}

bool AppendFile::Deleted() const {
  struct stat open {};
  return fd_ < 0 || ::fstat(fd_, &open) != 0 || open.st_nlink == 0;
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
