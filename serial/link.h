#pragma once

#include <cstdint>
#include <optional>

#include "serial/clock.h"
#include "serial/line_reader.h"
#include "serial/serial_port.h"

namespace fwu {

// What every exchange with the controller needs: the open port, the clock its time limits run on, and the bytes
// taken from the port that the protocol has not read yet.
struct Link {
  Link(SerialPort& linePort, Clock& lineClock) : port(linePort), clock(lineClock) {}
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  ~Link() = default;

  SerialPort& port;
  Clock& clock;
  LineReader reader;
};

// The next byte from the line, waiting for it until the deadline has passed; nothing once it has.
std::optional<std::uint8_t> ReadByte(Link& link, Deadline& deadline);

// Discards what has arrived and not been read, and what waits to be sent: the bytes the link holds and both of
// the port's queues.
void PurgeLine(Link& link);

// A limit that starts now, for a phase that waits for the line as the first thing it does. That wait takes the
// limit's start from its own clock reading. Only when bytes are held already may the phase act on them (answer,
// repeat a command) before it waits; then the clock is read here.
Deadline LimitFromNow(Link& link, std::uint32_t limitMs);

}  // namespace fwu
