#include "ser2net_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <vector>

namespace fwu::test {

namespace {

// True once a socket listens on 127.0.0.1:port, as the kernel's table of TCP sockets says (state 0A is LISTEN).
// Asked this way, ser2net sees no connection before the updater's.
bool Listening(std::uint16_t port) {
  std::array<char, 16> local{};
  static_cast<void>(std::snprintf(local.data(), local.size(), "0100007F:%04X", port));
  std::ifstream table("/proc/net/tcp");
  for (std::string line; std::getline(table, line);) {
    if (line.find(local.data()) != std::string::npos && line.find(" 0A ") != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  std::uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

Ser2net::Ser2net(const TempDir& dir, const std::string& device, bool rfc2217, std::uint16_t port)
    : port_(port == 0 ? FreePort() : port) {
  const std::string config = dir.Path("ser2net-" + std::to_string(port_) + ".yaml");
  std::ofstream(config) << "connection: &controller\n"
                        << "  accepter: " << (rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << port_
                        << "\n  connector: serialdev," << device << ",38400n81,local\n";
  process_ = std::make_unique<FwsimProcess>(
      std::vector<std::string>{"-n", "-u", "-c", config, "-P", dir.Path("ser2net-" + std::to_string(port_) + ".pid")},
      SER2NET_PATH);
  for (int polls = 0; polls < kDeadlineMs / 10 && !Listening(port_); ++polls) {
    poll(nullptr, 0, 10);  // the condition waited for is ser2net's listening socket
  }
}

bool Ser2net::Ready() const {
  return Listening(port_);
}

void Ser2net::Stop() const {
  process_->Signal(SIGTERM);
}

}  // namespace fwu::test
