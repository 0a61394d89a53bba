#include "port_names/open_port.h"
#include "serial/win32_clock.h"
#include "serial/win32_port.h"

namespace fwu::port_names {

std::unique_ptr<SerialPort> NewSerialPort() {
  return std::make_unique<Win32SerialPort>(Win32SerialPort::WaitStyle::WholeWaits);
}

std::unique_ptr<Clock> NewPortClock() {
  return std::make_unique<Win32Clock>();
}

}  // namespace fwu::port_names
