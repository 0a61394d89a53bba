#include "network_port/tcp_connection.h"

namespace fwu::network_port {

std::string ConnectFailureText(ConnectError error, const NetworkUrl& server, std::uint32_t limitMs,
                               std::string_view detail) {
  const std::string hostPort = server.HostPort();
  constexpr std::uint32_t kMsPerSecond = 1000;
  switch (error) {
    case ConnectError::Refused:
      return "connection refused by " + hostPort;
    case ConnectError::TimedOut:
      return "no answer from " + hostPort + " within " + std::to_string(limitMs / kMsPerSecond) + " s";
    case ConnectError::NameNotFound:
      return "cannot find the host '" + server.host + "': " + std::string(detail);
    case ConnectError::Other:
      break;
  }
  return "cannot connect to " + hostPort + ": " + std::string(detail);
}

}  // namespace fwu::network_port
