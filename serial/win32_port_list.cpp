#include "serial/port_list.h"
#include "serial/win32_enumerate.h"

namespace fwu {

// The devices the dialog lists, with their descriptions whole (the dialog cuts its entries at 255 characters).
std::vector<PortInfo> ListPorts() {
  std::vector<PortInfo> ports;
  for (const ComPortDevice& device : EnumerateComPortDevices()) {
    // A device without a port name has nothing to pass on the command line.
    if (!device.portName) {
      continue;
    }
    PortInfo port;
    port.name = *device.portName;
    port.description = device.description.value_or("");
    if (device.instanceId) {
      UsbIdentity usb = UsbIdentityFromInstanceId(*device.instanceId);
      port.usbId = std::move(usb.usbId);
      port.serial = std::move(usb.serial);
    }
    ports.push_back(std::move(port));
  }
  return ports;
}

}  // namespace fwu
