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

std::string PortNameProblem(const std::string& name) {
  std::string problem;
  if (net::IsNetworkPortName(name)) {
    static_cast<void>(net::ParseNetworkUrl(name, &problem));
  }
  return problem;
}

}  // namespace fwu::cli
