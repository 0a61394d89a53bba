#include "serial/port_connection.h"

namespace fwu {

namespace {

// A name that could only reach some other device: empty (the bare "\\.\" prefix) or cut short by a NUL, which
// would end the path the driver is asked for before the name does.
bool IsUnusablePortName(std::string_view portName) {
  return portName.empty() || portName.find('\0') != std::string_view::npos;
}

}  // namespace

// There is no "Open Err4"; "Open Err10" belongs to the exchanges that find the port closed.
std::string OpenFailureText(OpenResult result) {
  switch (result) {
    case OpenResult::ReadSettingsFailed:
      return "Open Err2";
    case OpenResult::WriteSettingsFailed:
      return "Open Err3";
    case OpenResult::QueueSizeFailed:
      return "Open Err5";
    case OpenResult::Ok:
    case OpenResult::OpenFailed:
      break;
  }
  return "Open Err1";
}

std::string SelectorPortName(std::string_view selectorText) {
  return std::string(selectorText.substr(0, selectorText.find('(')));
}

std::string Win32DevicePath(std::string_view portName) {
  return std::string(kWin32DevicePrefix) + std::string(portName);
}

OpenResult OpenPort(SerialPort& port, std::string_view selectorText) {
  ClosePort(port);
  const std::string portName = SelectorPortName(selectorText);
  const OpenResult result = IsUnusablePortName(portName) ? OpenResult::OpenFailed : port.Open(portName);
  if (result != OpenResult::Ok) {
    // The port closes itself on a failed step; this makes sure nothing half-open is left behind.
    ClosePort(port);
  }
  return result;
}

void ClosePort(SerialPort& port) {
  if (port.IsOpen()) {
    port.Close();
  }
}

}  // namespace fwu
