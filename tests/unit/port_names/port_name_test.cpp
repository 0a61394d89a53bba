#include "port_names/port_name.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "port_names/open_port.h"

namespace fwu::port_names {
namespace {

namespace fs = std::filesystem;

// What an accepted name stands for, in one word and its part; "" for a refused one.
std::string Meaning(const std::optional<PortName>& name) {
  if (!name) {
    return {};
  }
  switch (name->form) {
    case Form::Network:
      return (name->url.scheme == network_port::Scheme::RawTcp ? "socket " : "rfc2217 ") + name->url.HostPort();
    case Form::UsbSerial:
      return "usb " + name->usbSerial;
    case Form::Device:
      break;
  }
  return "device " + name->device;
}

struct NameRow {
  std::string text;
  std::string meaning;  // empty: refused
  std::string problem;  // the message when refused
  Rules rules = Rules::Posix;
};

// Every form `update`, `versions` and `station` take, and each way of getting one wrong, with the message that
// names the fault and the form expected.
TEST(PortNameTest, AcceptsEachFormAndNamesWhatIsWrong) {
  const std::string unknown =
      ": unknown form; a port is a device (/dev/ttyUSB0, /dev/serial/by-id/..., COM7, ./NAME), "
      "rfc2217://HOST:PORT, socket://HOST:PORT or usb:SERIAL";
  const std::vector<NameRow> rows = {
      {"/dev/ttyUSB0", "device /dev/ttyUSB0", ""},
      {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0",
       "device /dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0", ""},
      {"/dev/serial/by-id/usb-FTDI_x-if00-port0", "device /dev/serial/by-id/usb-FTDI_x-if00-port0", ""},
      {"COM7", "device COM7", ""},
      {"\\\\.\\COM12", "device COM12", "", Rules::Windows},
      {"C:x", "device C:x", "", Rules::Windows},
      {"usb:A50285BI", "usb A50285BI", ""},
      {"rfc2217://10.0.0.7:2217", "rfc2217 10.0.0.7:2217", ""},
      {"RFC2217://plc-gw.example:2217/", "rfc2217 plc-gw.example:2217", ""},
      {"socket://[fd00::7]:4001", "socket [fd00::7]:4001", ""},
      {"socket://[::ffff:10.0.0.7]:1", "socket [::ffff:10.0.0.7]:1", ""},
      {"socket://[1:2:3:4:5:6:7:8]:65535", "socket [1:2:3:4:5:6:7:8]:65535", ""},
      {"", "", "an empty port name"},
      {"usb:", "", "usb:: usb: needs the adapter's serial number, as 'fwupdate-cli ports' shows it (usb:A50285BI)"},
      {"serial:COM7", "", "serial:COM7" + unknown},
      // A URL without its "//" is no device path to open.
      {"rfc2217:127.0.0.1:2217", "",
       "rfc2217:127.0.0.1:2217: no '//' after 'rfc2217:'; a network port is written rfc2217://HOST:PORT"},
      {"rfc2217:/dev/ttyS1", "",
       "rfc2217:/dev/ttyS1: no '//' after 'rfc2217:'; a network port is written "
       "rfc2217://HOST:PORT"},
      {"Socket:gw:4001", "", "Socket:gw:4001: no '//' after 'socket:'; a network port is written socket://HOST:PORT"},
      {"tcp://10.0.0.7:2217", "", "tcp://10.0.0.7:2217: unknown scheme 'tcp' (rfc2217:// or socket://)"},
      {"rfc9999://host:4000", "", "rfc9999://host:4000: unknown scheme 'rfc9999' (rfc2217:// or socket://)"},
      {"rfc2217://10.0.0.7", "", "rfc2217://10.0.0.7: no port after the host (HOST:PORT)"},
      {"rfc2217://10.0.0.7:0", "", "rfc2217://10.0.0.7:0: the port '0' is not a number in 1-65535"},
      {"rfc2217://10.0.0.7:65536", "", "rfc2217://10.0.0.7:65536: the port '65536' is not a number in 1-65535"},
      {"rfc2217://10.0.0.7:+22", "", "rfc2217://10.0.0.7:+22: the port '+22' is not a number in 1-65535"},
      {"rfc2217://10.0.0.7:2217/x", "", "rfc2217://10.0.0.7:2217/x: the port '2217/x' is not a number in 1-65535"},
      {"rfc2217://:2217", "", "rfc2217://:2217: '' is not a host name or IPv4 address"},
      {"rfc2217://10.0.0.256:2217", "", "rfc2217://10.0.0.256:2217: '10.0.0.256' is not a host name or IPv4 address"},
      {"rfc2217://plc_gw:2217", "", "rfc2217://plc_gw:2217: 'plc_gw' is not a host name or IPv4 address"},
      {"rfc2217://-gw:2217", "", "rfc2217://-gw:2217: '-gw' is not a host name or IPv4 address"},
      {"rfc2217://fd00::7:2217", "", "rfc2217://fd00::7:2217: an IPv6 address goes in brackets ([fd00::7]:PORT)"},
      {"rfc2217://[fd00::7:2217", "", "rfc2217://[fd00::7:2217: the IPv6 address has no closing ']'"},
      {"rfc2217://[fd00::7]", "", "rfc2217://[fd00::7]: no port after the address (HOST:PORT)"},
      {"rfc2217://[1::2::3]:1", "", "rfc2217://[1::2::3]:1: '1::2::3' is not an IPv6 address"},
      {"rfc2217://[1:2:3:4:5:6:7:8:9]:1", "",
       "rfc2217://[1:2:3:4:5:6:7:8:9]:1: '1:2:3:4:5:6:7:8:9' is not an IPv6 address"},
      {"rfc2217://[12345::]:1", "", "rfc2217://[12345::]:1: '12345::' is not an IPv6 address"},
      {std::string("rfc2217://gw\0x:1", 16), "",
       std::string("rfc2217://gw\0x:1: 'gw\0x' is not a host name or IPv4 address", 59)},
  };
  for (const NameRow& row : rows) {
    std::string problem;
    const std::optional<PortName> name = ParsePortName(row.text, &problem, row.rules);
    EXPECT_EQ(Meaning(name), row.meaning) << row.text;
    EXPECT_EQ(name ? std::string() : problem, row.problem) << row.text;
  }
}

struct ListRow {
  std::vector<std::string> names;
  std::vector<std::string> accepted;
  std::vector<std::string> problems;
  Rules rules = Rules::Posix;
};

std::string Twice(const std::string& name, const std::string& first) {
  return "the port " + name + " is given twice" + (name == first ? std::string() : " (also as " + first + ")") +
         ": each port can be updated once at a time";
}

// One port given twice is refused however it is written: a link and its device, a device not plugged in yet
// under another spelling (relative to the working folder, or through a link to it), one server's port under
// either scheme, one serial number, and on Windows a COM name in another case or with "\\.\".
TEST(PortNameTest, SeesOnePortHoweverItIsSpelled) {
  const fs::path dir = fs::temp_directory_path() / "fwu-port-name-test";
  fs::remove_all(dir);
  fs::create_directories(dir / "x");
  std::ofstream((dir / "tty0").string()).put('\n');
  fs::create_symlink(dir / "tty0", dir / "slot-a");
  fs::create_symlink("x/A", dir / "to-a");  // A does not exist yet
  const fs::path before = fs::current_path();
  fs::current_path(dir / "x");
  const std::string tty = (dir / "tty0").string();
  const std::string link = (dir / "slot-a").string();

  const std::vector<ListRow> rows = {
      {{"/dev/ttyUSB0", "usb:A50285BI", "COM7", "rfc2217://gw:2217"},
       {"/dev/ttyUSB0", "usb:A50285BI", "COM7", "rfc2217://gw:2217"},
       {}},
      {{tty, link}, {tty}, {Twice(link, tty)}},
      {{"A", "./A", "../x/A", "../to-a", "B"},
       {"A", "B"},
       {Twice("./A", "A"), Twice("../x/A", "A"), Twice("../to-a", "A")}},
      {{"usb:X1", "usb:X1", "usb:"},
       {"usb:X1"},
       {Twice("usb:X1", "usb:X1"),
        "usb:: usb: needs the adapter's serial number, as 'fwupdate-cli ports' shows it (usb:A50285BI)"}},
      {{"rfc2217://GW.example:2217", "socket://gw.EXAMPLE:2217/", "rfc2217://gw.example:2218"},
       {"rfc2217://GW.example:2217", "rfc2217://gw.example:2218"},
       {Twice("socket://gw.EXAMPLE:2217/", "rfc2217://GW.example:2217")}},
      {{"COM7", "com7", "\\\\.\\COM7", "COM17"},
       {"COM7", "COM17"},
       {Twice("com7", "COM7"), Twice("\\\\.\\COM7", "COM7")},
       Rules::Windows},
  };
  for (const ListRow& row : rows) {
    const PortNameList list = CheckPortNames(row.names, row.rules);
    std::vector<std::string> accepted;
    for (const PortName& name : list.names) {
      accepted.push_back(name.text);
    }
    EXPECT_EQ(accepted, row.accepted) << row.names[0];
    EXPECT_EQ(list.problems, row.problems) << row.names[0];
  }

  // A link leads to its device; a usb: name to the port with its serial number; both to nothing while absent.
  std::string problem;
  const auto locate = [&](const std::string& text, Rules rules = Rules::Posix) {
    const std::vector<PortInfo> ports = {{"/dev/ttyUSB3", "", "0403:6001", "A50285BI", {}, ""}};
    return Locate(*ParsePortName(text, &problem, rules), ports, rules);
  };
  EXPECT_EQ(locate(link), fs::canonical(tty).string());
  EXPECT_EQ(locate("usb:A50285BI"), "/dev/ttyUSB3");
  EXPECT_EQ(locate("usb:B0"), "");
  EXPECT_EQ(locate("rfc2217://gw:2217"), "rfc2217://gw:2217");
  EXPECT_EQ(locate("\\\\.\\COM7", Rules::Windows), "COM7");
  fs::remove(dir / "tty0");
  EXPECT_EQ(locate(link), "");
  fs::current_path(before);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace fwu::port_names
