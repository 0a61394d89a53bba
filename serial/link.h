#pragma once

#include "serial/clock.h"
#include "serial/serial_port.h"

namespace fwu {

// What every exchange with the controller needs: the open port and the clock its time limits run on.
struct Link {
  SerialPort& port;
  Clock& clock;
};

}  // namespace fwu
