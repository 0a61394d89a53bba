#pragma once

#include <memory>
#include <string>

#include "serial/serial_port.h"

namespace fwu::cli {

// The port a name calls for: a network port for "rfc2217://HOST:PORT" and "socket://HOST:PORT", the platform's
// serial port for any other name (a device path, "COM3").
std::unique_ptr<SerialPort> NewPort(const std::string& name);

// What a port name stands for, so that one port given twice is seen however it is spelled: a network port by its
// server's host, in small letters, and port number, whichever the scheme (rfc2217:// and socket:// to one server
// reach one line); any other name as SerialPortIdentity sees it.
std::string PortIdentity(const std::string& name);

// What is wrong with a port name given on the command line, checked before anything is opened; empty when
// nothing is. Only network names can be judged by their text: a serial device's name is the system's to know.
std::string PortNameProblem(const std::string& name);

}  // namespace fwu::cli
