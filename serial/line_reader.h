#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "serial/clock.h"
#include "serial/serial_port.h"

namespace fwu {

// A time limit of the link: it has passed once more than limitMs ticks have gone by since its start, so a limit
// of N ms still holds at exactly N. Most limits begin where the code starts to wait for the line; such a limit
// takes as its start the clock reading of its first wait, which that wait needs anyway. A limit that must begin
// at a fixed moment (the code may write or sleep before it first waits) starts at a reading of its own.
class Deadline {
 public:
  // Starts at the first wait for the line made under it.
  static Deadline AtFirstWait(std::uint32_t limitMs) { return Deadline(limitMs); }
  // Started at startMs.
  static Deadline From(std::uint32_t startMs, std::uint32_t limitMs);

  // True once the limit has passed. A deadline that has not started yet has not passed, and reads no clock.
  [[nodiscard]] bool Passed(Clock& clock) const;
  // For a wait that begins at nowMs: starts the deadline there if it has not started, and returns how long the
  // wait may last so that it ends one tick past the limit, or 0 when the limit has passed already.
  std::uint32_t WaitMs(std::uint32_t nowMs);

 private:
  explicit Deadline(std::uint32_t limitMs) : limitMs_(limitMs) {}

  std::uint32_t limitMs_;
  std::uint32_t startMs_ = 0;
  bool started_ = false;
};

// The bytes taken from the port and not yet handed to the protocol. The protocol takes one byte at a time, but
// the port is asked only when nothing is left here: then it waits for the line until the deadline and hands over
// everything that has arrived. So a Frame costs a few calls into the port and the clock, not one per byte, and a
// byte that is already here is handed over without a look at the clock, as it would be from the port's queue.
class LineReader {
 public:
  // The next byte, waiting for the line until the deadline has passed; nothing once it has.
  std::optional<std::uint8_t> Next(SerialPort& port, Clock& clock, Deadline& deadline);
  // Drops what is held, as purging the port drops what waits in its queue.
  void Drop() { next_ = end_ = 0; }
  // How many bytes are held.
  [[nodiscard]] std::size_t Held() const { return end_ - next_; }

 private:
  // As much as the driver's input queue holds.
  static constexpr std::size_t kCapacity = 1024;

  std::array<std::uint8_t, kCapacity> bytes_{};
  std::size_t next_ = 0;
  std::size_t end_ = 0;
};

}  // namespace fwu
