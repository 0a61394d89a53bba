#include "serial/win32_handle.h"

#include <windows.h>

namespace fwu {

bool Win32Handle::IsValid() const {
  return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
}

void Win32Handle::Reset(void* handle) {
  if (IsValid()) {
    // Nothing useful can be done about a failed close: the handle is gone either way.
    static_cast<void>(CloseHandle(handle_));
  }
  handle_ = handle;
}

}  // namespace fwu
