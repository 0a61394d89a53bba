#pragma once

#include <string>
#include <string_view>

namespace fwu::station {

// A file that is only ever appended to, each write put on the disk before it counts. The platform's own calls,
// in append_file_posix.cpp and append_file_win32.cpp.
class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile();

  // Opens path for appending, creating it when missing (and closing the file open before); false with the reason.
  bool Open(const std::string& path, std::string& error);
  // Whether the file open is still the one at its path: not moved away (log rotation), replaced or deleted since
  // it was opened. Only then does what is appended reach the readers of the path.
  [[nodiscard]] bool AtPath() const;
  // Whether the file open has been deleted: what was written to it reaches nobody.
  [[nodiscard]] bool Deleted() const;
  // Writes all of bytes at the end of the file, then flushes them to the disk; false with the reason.
  bool AppendAndSync(std::string_view bytes, std::string& error);

 private:
  void Close();

  std::string path_;
  int fd_ = -1;
};

}  // namespace fwu::station
