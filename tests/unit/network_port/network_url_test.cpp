#include "network_port/network_url.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fwu::net {
namespace {

struct UrlCase {
  std::string text;
  std::string hostPort;  // empty: refused
  std::string error;     // after "<text>: "
};

// Every form the operator may type, and each way of getting it wrong, with the message that names the fault.
TEST(NetworkUrlTest, AcceptsHostsAddressesAndPortsAndNamesWhatIsWrong) {
  const std::vector<UrlCase> cases = {
      {"rfc2217://10.0.0.7:2217", "10.0.0.7:2217", ""},
      {"RFC2217://plc-gw.example:2217/", "plc-gw.example:2217", ""},
      {"socket://[fd00::7]:4001", "[fd00::7]:4001", ""},
      {"socket://[::ffff:10.0.0.7]:1", "[::ffff:10.0.0.7]:1", ""},
      {"socket://[1:2:3:4:5:6:7:8]:65535", "[1:2:3:4:5:6:7:8]:65535", ""},
      {"tcp://10.0.0.7:2217", "", "unknown scheme 'tcp' (rfc2217:// or socket://)"},
      {"rfc2217://10.0.0.7", "", "no port after the host (HOST:PORT)"},
      {"rfc2217://10.0.0.7:0", "", "the port '0' is not a number in 1-65535"},
      {"rfc2217://10.0.0.7:65536", "", "the port '65536' is not a number in 1-65535"},
      {"rfc2217://10.0.0.7:+22", "", "the port '+22' is not a number in 1-65535"},
      {"rfc2217://10.0.0.7:2217/x", "", "the port '2217/x' is not a number in 1-65535"},
      {"rfc2217://:2217", "", "'' is not a host name or IPv4 address"},
      {"rfc2217://10.0.0.256:2217", "", "'10.0.0.256' is not a host name or IPv4 address"},
      {"rfc2217://plc_gw:2217", "", "'plc_gw' is not a host name or IPv4 address"},
      {"rfc2217://-gw:2217", "", "'-gw' is not a host name or IPv4 address"},
      {"rfc2217://fd00::7:2217", "", "an IPv6 address goes in brackets ([fd00::7]:PORT)"},
      {"rfc2217://[fd00::7:2217", "", "the IPv6 address has no closing ']'"},
      {"rfc2217://[fd00::7]", "", "no port after the address (HOST:PORT)"},
      {"rfc2217://[1::2::3]:1", "", "'1::2::3' is not an IPv6 address"},
      {"rfc2217://[1:2:3:4:5:6:7:8:9]:1", "", "'1:2:3:4:5:6:7:8:9' is not an IPv6 address"},
      {"rfc2217://[12345::]:1", "", "'12345::' is not an IPv6 address"},
      {std::string("rfc2217://gw\0x:1", 16), "", std::string("'gw\0x' is not a host name or IPv4 address", 41)},
  };
  for (const UrlCase& c : cases) {
    EXPECT_TRUE(IsNetworkPortName(c.text)) << c.text;
    std::string error;
    const auto url = ParseNetworkUrl(c.text, &error);
    if (c.hostPort.empty()) {
      EXPECT_FALSE(url) << c.text;
      EXPECT_EQ(error, c.text + ": " + c.error);
    } else {
      ASSERT_TRUE(url) << c.text << ": " << error;
      EXPECT_EQ(url->HostPort(), c.hostPort);
      EXPECT_EQ(url->scheme, c.text.starts_with("socket") ? Scheme::RawTcp : Scheme::Rfc2217) << c.text;
    }
  }
  // Serial device names are not URLs.
  for (const char* name : {"COM3", "/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_x-if00-port0"}) {
    EXPECT_FALSE(IsNetworkPortName(name)) << name;
  }
}

}  // namespace
}  // namespace fwu::net
