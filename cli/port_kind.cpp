#include "cli/port_kind.h"

#include "cli/platform.h"
#include "network_port/network_port.h"
#include "network_port/network_url.h"

namespace fwu::cli {

std::unique_ptr<SerialPort> NewPort(const std::string& name) {
  if (net::IsNetworkPortName(name)) {
    return std::make_unique<net::NetworkPort>(net::NewTcpConnection(), NewClock());
  }
  return NewSerialPort();
}

}  // namespace fwu::cli
