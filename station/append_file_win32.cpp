#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "station/append_file.h"

namespace fwu::station {

AppendFile::~AppendFile() {
  if (fd_ >= 0) {
    _close(fd_);
  }
}

bool AppendFile::Open(const std::string& path, std::string& error) {
  // Binary: the records' line ends stay single line feeds, as on every other station.
  fd_ = _open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (fd_ < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool AppendFile::AppendAndSync(std::string_view bytes, std::string& error) {
  while (!bytes.empty()) {
    const unsigned int chunk = bytes.size() < INT_MAX ? static_cast<unsigned int>(bytes.size()) : INT_MAX;
    const int written = _write(fd_, bytes.data(), chunk);
    if (written <= 0) {
      error = std::strerror(errno);
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  // _commit is FlushFileBuffers underneath: the bytes are on the disk when it returns.
  if (_commit(fd_) != 0) {
    error = std::string("sync: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace fwu::station
