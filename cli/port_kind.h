#pragma once

#include <memory>
#include <string>

#include "serial/serial_port.h"

namespace fwu::cli {

// The port a name calls for: a network port for "rfc2217://HOST:PORT" and "socket://HOST:PORT", the platform's
// serial port for any other name (a device path, "COM3"). What a name stands for and what is wrong with it are
// the port list's to say (PortIdentity, PortNameProblem in serial/port_list.h).
std::unique_ptr<SerialPort> NewPort(const std::string& name);

}  // namespace fwu::cli
