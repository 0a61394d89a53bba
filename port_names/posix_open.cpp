#include "port_names/open_port.h"
#include "serial/posix_clock.h"
#include "serial/posix_port.h"

namespace fwu::port_names {

std::unique_ptr<SerialPort> NewSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

std::unique_ptr<Clock> NewPortClock() {
  return std::make_unique<PosixClock>();
}

}  // namespace fwu::port_names
