// initguid.h before <windows.h>: the COM-port interface GUID is then defined here, not looked for in a library.
#include <initguid.h>

#include "serial/win32_enumerate.h"

#include <setupapi.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>

#include "serial/port_entry.h"

namespace fwu {

namespace {

// The device set; released on every path.
struct DeviceSetDeleter {
  void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using DeviceSet = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceSetDeleter>;

struct RegistryKeyDeleter {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using RegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyDeleter>;

struct LocalDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};
using LocalBuffer = std::unique_ptr<char, LocalDeleter>;

// The "PortName" value of the device's hardware key, such as COM3; absent when the key or the value is missing.
std::optional<std::string> ReadPortName(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const HKEY opened = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (opened == nullptr || opened == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  const RegistryKey key(opened);
  std::array<char, kPortNameBufferSize> buffer{};
  DWORD size = static_cast<DWORD>(buffer.size());
  // The value's registry type is not examined: whatever it holds is shown, up to the buffer's end.
  if (RegQueryValueExA(key.get(), "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return BufferText(std::span<const char>(buffer.data(), std::min<std::size_t>(size, buffer.size())));
}

// The driver's description of the device. The platform reports the size it needs; the buffer is twice that and
// zero-filled, so the text stays terminated even when the stored property is not. Absent when no buffer could be
// had for it.
std::optional<std::string> ReadDescription(HDEVINFO set, SP_DEVINFO_DATA& device) {
  LocalBuffer buffer;
  std::size_t bufferSize = 0;
  DWORD offered = 0;
  DWORD required = 0;
  while (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, nullptr,
                                           reinterpret_cast<BYTE*>(buffer.get()), offered, &required) == FALSE) {
    // A size that does not grow, or a buffer that cannot be had, would only repeat the same refusal.
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= offered) {
      break;
    }
    buffer.reset();
    bufferSize = 2 * static_cast<std::size_t>(required);
    buffer.reset(static_cast<char*>(LocalAlloc(LPTR, bufferSize)));
    if (!buffer) {
      return std::nullopt;
    }
    offered = required;
  }
  if (!buffer) {
    return std::nullopt;
  }
  return BufferText(std::span<const char>(buffer.get(), bufferSize));
}

// The id the device-setup services know the device by; it names the bus, the USB ids and the serial number.
std::optional<std::string> ReadInstanceId(HDEVINFO set, SP_DEVINFO_DATA& device) {
  DWORD required = 0;
  static_cast<void>(SetupDiGetDeviceInstanceIdA(set, &device, nullptr, 0, &required));
  if (required == 0) {
    return std::nullopt;
  }
  std::string buffer(required, '\0');
  if (SetupDiGetDeviceInstanceIdA(set, &device, buffer.data(), required, nullptr) == FALSE) {
    return std::nullopt;
  }
  return BufferText(buffer);
}

}  // namespace

std::vector<ComPortDevice> EnumerateComPortDevices() {
  const HDEVINFO found =
      SetupDiGetClassDevsA(&GUID_DEVINTERFACE_COMPORT, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (found == INVALID_HANDLE_VALUE) {
    return {};
  }
  const DeviceSet set(found);
  std::vector<ComPortDevice> devices;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set.get(), index, &device) != FALSE; ++index) {
    devices.push_back(
        {ReadPortName(set.get(), device), ReadDescription(set.get(), device), ReadInstanceId(set.get(), device)});
  }
  return devices;
}

int EnumeratePorts(HWND selector) {
  int visited = 0;
  for (const ComPortDevice& device : EnumerateComPortDevices()) {
    const std::string entry = PortEntry(device.portName, device.description);
    SendMessageA(selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    ++visited;
  }
  return visited;
}

}  // namespace fwu
