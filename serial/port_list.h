#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fwu {

// One serial port present on this machine, as the system describes it. Parts the system does not know are empty.
struct PortInfo {
  std::string name;                  // what to pass on the command line: /dev/ttyUSB0, COM3
  std::string description;           // the driver's or the adapter's own words
  std::string usbId;                 // USB vendor:product, "0403:6001"
  std::string serial;                // the adapter's serial number
  std::vector<std::string> aliases;  // stable names that lead to it: /dev/serial/by-id/..., /dev/serial/by-path/...
  std::string location;              // where the adapter is plugged in: "pci-0000:00:14.0-usb-0:1.2:1.0-port0"
};

// The serial ports present, in the order the system reports them.
std::vector<PortInfo> ListPorts();

// One line of the port list: the name, then whatever is known of the port.
//   "/dev/ttyUSB0  FT232R USB UART  usb 0403:6001  serial A50285BI  /dev/serial/by-id/usb-FTDI_..."
std::string PortLine(const PortInfo& port);

// A stable name and the device it leads to, once links are resolved.
struct PortAlias {
  std::string link;    // /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
  std::string target;  // /dev/ttyUSB0
};
// Gives each port the aliases that lead to it, sorted; aliases of ports not listed are left out.
void AttachAliases(std::vector<PortInfo>& ports, const std::vector<PortAlias>& aliases);

// USB ids and serial number as a Windows device instance id carries them: "USB\VID_0403&PID_6001\A50285BI"
// or "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000". A serial number Windows made up (it holds "&") is no serial.
struct UsbIdentity {
  std::string usbId;
  std::string serial;
};
UsbIdentity UsbIdentityFromInstanceId(std::string_view instanceId);

}  // namespace fwu
