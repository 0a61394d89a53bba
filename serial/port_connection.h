#pragma once

#include <string>
#include <string_view>

#include "serial/serial_port.h"

namespace fwu {

// The bare port name in a selector entry: everything before the first "(" ("COM3(USB Serial)" gives "COM3").
std::string SelectorPortName(std::string_view selectorText);

// The Win32 device path of a port name. The "\\.\" prefix is always added: without it Windows finds COM1 to COM9
// but not COM10 and above.
inline constexpr std::string_view kWin32DevicePrefix = "\\\\.\\";
std::string Win32DevicePath(std::string_view portName);

// Opens the port named by the selector text, closing any port that is open first. A failure leaves the port
// closed.
OpenResult OpenPort(SerialPort& port, std::string_view selectorText);

// The operator's text for a failed open: "Open Err1", "Open Err2", "Open Err3" or "Open Err5".
std::string OpenFailureText(OpenResult result);

// Closes the port if it is open.
void ClosePort(SerialPort& port);

}  // namespace fwu
