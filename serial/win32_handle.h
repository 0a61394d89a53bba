#pragma once

#include <utility>

namespace fwu {

// Owns one kernel handle from the moment it exists: it is closed when its owner goes, so no error path can leak
// it. Both of Windows' "no handle" values (null, and INVALID_HANDLE_VALUE from CreateFile) count as empty.
class Win32Handle {
 public:
  Win32Handle() = default;
  explicit Win32Handle(void* handle) : handle_(handle) {}
  Win32Handle(Win32Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Win32Handle& operator=(Win32Handle&& other) noexcept {
    if (this != &other) {
      Reset(std::exchange(other.handle_, nullptr));
    }
    return *this;
  }
  Win32Handle(const Win32Handle&) = delete;
  Win32Handle& operator=(const Win32Handle&) = delete;
  ~Win32Handle() { Reset(); }

  [[nodiscard]] void* Get() const { return handle_; }
  [[nodiscard]] bool IsValid() const;

  // Closes the handle held (if any) and takes handle in its place.
  void Reset(void* handle = nullptr);

 private:
  void* handle_ = nullptr;
};

}  // namespace fwu
