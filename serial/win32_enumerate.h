#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace fwu {

// One present COM-port device as the device-setup services describe it; a part that could not be read is absent.
struct ComPortDevice {
  std::optional<std::string> portName;     // the "PortName" value: COM3
  std::optional<std::string> description;  // the driver's device description, whole
  std::optional<std::string> instanceId;   // the device instance id: USB\VID_0403&PID_6001\A50285BI
};

// Every present COM-port device, in the order the device-setup services report them.
std::vector<ComPortDevice> EnumerateComPortDevices();

// Appends one entry per present COM-port device to the port selector, in the order the device-setup services
// report them: the port name, "(", the device description, ")". Returns the number of devices visited, which
// equals the number of entries appended.
int EnumeratePorts(HWND selector);

}  // namespace fwu
