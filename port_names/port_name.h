#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "network_port/network_url.h"

namespace fwu::port_names {

// How device names are compared: by the file system they name (POSIX), or as Windows' device names, which
// ignore case and the "\\.\" prefix.
enum class Rules { Posix, Windows };

#ifdef _WIN32
inline constexpr Rules kHostRules = Rules::Windows;
#else
inline constexpr Rules kHostRules = Rules::Posix;
#endif

enum class Form {
  Device,     // a device path or link (/dev/ttyUSB0, /dev/serial/by-id/...), COM7, \\.\COM7
  Network,    // rfc2217://HOST:PORT, socket://HOST:PORT
  UsbSerial,  // usb:SERIAL, the USB serial adapter with that serial number wherever it is plugged in
};

// A port as the operator names it to `update`, `versions` or `station`.
struct PortName {
  std::string text;  // as given
  Form form = Form::Device;
  std::string device;            // Device: what the serial port opens (on Windows without the "\\.\" it adds itself)
  network_port::NetworkUrl url;  // Network
  std::string usbSerial;         // UsbSerial; empty for the other forms
};

inline constexpr std::string_view kUsbPrefix = "usb:";

// Reads one name; nothing, with what is wrong and the form expected in problem, when it is no port name: empty,
// a malformed URL (also "rfc2217:HOST:PORT" without its "//"), "usb:" without a serial number, or a form no port
// has ("serial:COM7"). Whether a device exists is left to opening it.
std::optional<PortName> ParsePortName(std::string_view text, std::string* problem, Rules rules = kHostRules);

// What a name stands for, so that one port is seen however it is spelled: a network port by its server's host,
// in small letters, and port, whichever the scheme; an adapter by its serial number; a device on Windows by its
// name in capitals without "\\.\"; on POSIX by its absolute path with every link that exists followed and the
// rest (a device not plugged in yet) taken as written, so "A", "./A", "../x/A" and a link to A are one port.
std::string PortIdentity(const PortName& name, Rules rules = kHostRules);

// The names of one command line: those accepted, in order, and one problem per name refused, naming it. A port
// given twice, however spelled, is refused as such.
struct PortNameList {
  std::vector<PortName> names;
  std::vector<std::string> problems;
};
PortNameList CheckPortNames(const std::vector<std::string>& texts, Rules rules = kHostRules);

}  // namespace fwu::port_names
