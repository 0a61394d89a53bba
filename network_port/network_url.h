#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fwu::network_port {

// How the device server is spoken to: RFC 2217 sets the remote line itself; raw TCP carries bytes only and
// relies on the server's port being set to 38400 8-N-1 by hand.
enum class Scheme { Rfc2217, RawTcp };

// A serial line behind a device server: "rfc2217://10.0.0.7:2217", "socket://[fd00::7]:4001",
// "rfc2217://plc-gw.example:2217".
struct NetworkUrl {
  Scheme scheme = Scheme::Rfc2217;
  std::string host;  // as written, without the brackets of an IPv6 address
  std::uint16_t port = 0;

  // "10.0.0.7:2217", "[fd00::7]:4001": how the operator's messages name the server.
  [[nodiscard]] std::string HostPort() const;
  // "//10.0.0.7:2217", "//plc-gw.example:2217": the server's port, the host in small letters, whatever the
  // scheme, so that two names of one server's port are seen as one line.
  [[nodiscard]] std::string Identity() const;
};

// True for a name written as a URL ("scheme://..."). No serial device is named so, so such a name is always
// checked and opened as a network port.
bool IsNetworkPortName(std::string_view name);

// The URL's parts, or nothing with what is wrong in error ("rfc2217://gw:0: the port 0 is outside 1-65535").
std::optional<NetworkUrl> ParseNetworkUrl(std::string_view text, std::string* error);

}  // namespace fwu::network_port
