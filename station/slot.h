#pragma once

#include <string>
#include <vector>

#include "serial/port_list.h"

namespace fwu::station {

// One slot of the fixture, as the operator names it: a port as `update` takes it (a device path, a stable
// /dev/serial/by-id/ or by-path/ name, COM7, a serial line behind a device server: rfc2217://HOST:PORT,
// socket://HOST:PORT), or "usb:SERIAL", the USB serial adapter with that serial number wherever it is plugged in.
struct Slot {
  std::string text;       // as given
  std::string usbSerial;  // the serial number of a usb: slot; empty for a port
};

struct SlotList {
  std::vector<Slot> slots;
  std::vector<std::string> errors;  // one per refused slot, naming it; nothing may start while there are any
};

inline constexpr char kUsbPrefix[] = "usb:";

// Reads the slots of the command line. Refused: an empty name, "usb:" without a serial number, a malformed
// network port, a form the station does not know ("xyz:..."), and the same port twice (COM7 and com7, a path and
// a link that leads to the same device, rfc2217:// and socket:// to one server, one serial number twice).
SlotList ParseSlots(const std::vector<std::string>& texts);

// The port to open for a slot now, or nothing (empty) while it is not there: for a usb: slot, the port whose
// adapter has that serial number in the port list; for a path, the device it leads to once links are followed,
// so that a link re-pointed at another device reads as another unit; a COM name or a network port as it is (only
// opening it tells).
std::string LocateSlot(const Slot& slot, const std::vector<PortInfo>& ports);

}  // namespace fwu::station
