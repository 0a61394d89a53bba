#include "cli/port_kind.h"

#include <algorithm>
#include <cctype>

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

std::string PortIdentity(const std::string& name) {
  if (!net::IsNetworkPortName(name)) {
    return SerialPortIdentity(name);
  }
  const auto server = net::ParseNetworkUrl(name, nullptr);
  if (!server) {
    return name;
  }
  std::string identity = "//" + server->HostPort();
  std::ranges::transform(identity, identity.begin(),
                         [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return identity;
}

std::string PortNameProblem(const std::string& name) {
  std::string problem;
  if (net::IsNetworkPortName(name)) {
    static_cast<void>(net::ParseNetworkUrl(name, &problem));
  }
  return problem;
}

}  // namespace fwu::cli
