#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "station/append_file.h"

namespace fwu::station {

namespace {

// What tells one file from another on Windows: its volume and its index there.
struct FileIdentity {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

bool IdentityOf(HANDLE handle, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &info) == 0) {
    return false;
  }
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// The reasons a records file cannot be opened, in the words the C library gives them elsewhere.
std::string OpenErrorText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "Permission denied";
    case ERROR_DISK_FULL:
      return "No space left on device";
    default:
      return "Windows error " + std::to_string(error);
  }
}

}  // namespace

AppendFile::~AppendFile() {
  Close();
}

void AppendFile::Close() {
  if (fd_ >= 0) {
    _close(fd_);
  }
  fd_ = -1;
}

bool AppendFile::Open(const std::string& path, std::string& error) {
  Close();
  path_ = path;
  // Shared for deleting and renaming too, so that log rotation can move the file while the station runs, as it
  // can elsewhere; the station then opens the file at the path again (AtPath).
  HANDLE handle = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = path + ": " + OpenErrorText(GetLastError());
    return false;
  }
  // Binary: the records' line ends stay single line feeds, as on every other station.
  fd_ = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_APPEND | _O_BINARY);
  if (fd_ < 0) {
    error = path + ": " + std::strerror(errno);
    CloseHandle(handle);
    return false;
  }
  return true;
}

bool AppendFile::AtPath() const {
  FileIdentity open;
  if (Deleted() || !IdentityOf(reinterpret_cast<HANDLE>(_get_osfhandle(fd_)), open)) {
    return false;
  }
  // A file deleted while open cannot be opened by its path any more: that, too, reads as gone.
  HANDLE atPath = CreateFileA(path_.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  FileIdentity there;
  const bool found = IdentityOf(atPath, there);
  if (atPath != INVALID_HANDLE_VALUE) {
    CloseHandle(atPath);
  }
  return found && open.volume == there.volume && open.indexHigh == there.indexHigh && open.indexLow == there.indexLow;
}

bool AppendFile::Deleted() const {
  // Deleted while open, the file waits for its last handle to close: "delete pending".
  FILE_STANDARD_INFO info{};
  return fd_ < 0 ||
         GetFileInformationByHandleEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd_)), FileStandardInfo, &info,
                                      sizeof(info)) == 0 ||
         info.DeletePending != FALSE || info.NumberOfLinks == 0;
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
