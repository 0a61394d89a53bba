#pragma once

#include <memory>
#include <string>
#include <vector>

#include "port_names/port_name.h"
#include "serial/clock.h"
#include "serial/port_list.h"
#include "serial/serial_port.h"

namespace fwu::port_names {

// The port a name calls for, to be opened with that name: a network port for rfc2217:// and socket://, else the
// platform's serial port, opened by the device the name stands for ("\\.\COM7" as COM7; usb:SERIAL looked up in
// the port list at every open; a device path a station has located, as it is).
std::unique_ptr<SerialPort> NewPort(const std::string& text);

// The device to open for a name now, or nothing (empty) while it is not there: for usb:SERIAL the port whose
// adapter has that serial number in ports; for a POSIX path the device it leads to once links are followed, so
// that a link re-pointed at another device reads as another unit; a Windows device name or a network port as it
// is (only opening it tells).
std::string Locate(const PortName& name, const std::vector<PortInfo>& ports, Rules rules = kHostRules);

// The platform's serial port, and the clock a network port times its waits by (posix_open.cpp, win32_open.cpp).
std::unique_ptr<SerialPort> NewSerialPort();
std::unique_ptr<Clock> NewPortClock();

}  // namespace fwu::port_names
