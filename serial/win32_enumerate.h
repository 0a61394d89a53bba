#pragma once

#include <windows.h>

namespace fwu {

// Appends one entry per present COM-port device to the port selector, in the order the device-setup services
// report them: the port name, "(", the device description, ")". Returns the number of devices visited, which
// equals the number of entries appended.
int EnumeratePorts(HWND selector);

}  // namespace fwu
