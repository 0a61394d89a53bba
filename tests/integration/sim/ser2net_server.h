#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "fwsim_process.h"

namespace fwu::test {

// A TCP port on 127.0.0.1 that nothing listens on right now: the kernel's pick for a socket bound to port 0.
std::uint16_t FreePort();

// ser2net serving one serial device (a pseudo-terminal, or a link that a unit makes when it is plugged in) on
// 127.0.0.1, as a device server serves a controller's line: over telnet with RFC 2217, or as raw TCP. ser2net
// opens the device for each connection, so a link that comes and goes is a controller swapped behind the server.
// SER2NET_PATH names the program.
class Ser2net {
 public:
  // port: the TCP port to serve on (a server started again where it was); 0 for a free one.
  Ser2net(const TempDir& dir, const std::string& device, bool rfc2217, std::uint16_t port = 0);
  [[nodiscard]] bool Ready() const;
  [[nodiscard]] std::uint16_t Port() const { return port_; }
  [[nodiscard]] std::string Output() const { return process_->ErrorOutput(); }
  void Stop() const;

 private:
  std::uint16_t port_;
  std::unique_ptr<FwsimProcess> process_;
};

}  // namespace fwu::test
