#pragma once

#include <string>
#include <utility>

#include "serial/clock.h"
#include "serial/serial_port.h"

namespace fwu::station {

// What one try at the boot-mode entry found on a slot's port.
enum class Presence {
  NoPort,     // the port could not be opened: not plugged in (or held by another program)
  Silent,     // the port opened, and nothing answered the boot-mode entry
  Answering,  // a controller answered: its boot loader took the entry (or refused the enquiry, which is an
              // answer too: the update will say why)
};

// What a try found, and for NoPort why: the dialog's message with the system's reason ("Open Err1: connection
// refused by 10.0.0.7:2217").
struct ProbeResult {
  ProbeResult(Presence found, std::string why = {})  // NOLINT(google-explicit-constructor): a Presence is one
      : presence(found), problem(std::move(why)) {}
  Presence presence;
  std::string problem;
};

// One try: opens the port, sends the identification message and, when anything came back, the enquiry; closes
// the port. The core's boot-mode entry, so the controller meets what every update begins with. A line that
// gave no byte to the identification message gets no enquiry: nothing is there to answer it, and the try ends
// after the boot reply's 500 ms. Only a whole, intact Frame back to the enquiry is a controller: a line that
// sends noise (a raw TCP port that is no controller's) stays silent.
// With hold, a port already open is tried as it is, and left open: while a unit sits in its slot, its port is
// held, so that a unit taken out is seen gone (its device hung up) even when the next one comes back under the
// same name before the next try. A held network port whose server dropped the connection is connected again
// for the try; a serial device that hung up is not opened again (the name may lead to the next unit by now).
ProbeResult ProbeController(SerialPort& port, Clock& clock, const std::string& device, bool hold);

// Opens the port and holds it for the tries with hold, sending nothing: done the moment an update has closed it,
// so that no other unit can come between.
void HoldPort(SerialPort& port, const std::string& device);

}  // namespace fwu::station
