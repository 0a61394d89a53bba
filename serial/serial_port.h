#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace fwu {

// Which step of opening a port failed. Each failure is one operator message ("Open Err1" ...).
enum class OpenResult {
  Ok,
  OpenFailed,           // the device could not be opened (absent, or held by another program)
  ReadSettingsFailed,   // the driver's line settings could not be read
  WriteSettingsFailed,  // the driver refused 38400 baud 8-N-1
  QueueSizeFailed,      // the driver refused the 1024-byte queues
};

// The outcome of one write call: whether the call succeeded, and how many bytes it accepted.
struct WriteOutcome {
  bool ok = false;
  std::uint32_t written = 0;
};

// Told what a port does on the way to the line that carries no byte of the exchange: a network port's
// connection and its negotiation with the device server. The trace keeps these as notes.
class PortNotes {
 public:
  virtual void PortNote(std::string_view text) = 0;

 protected:
  PortNotes() = default;
  PortNotes(const PortNotes&) = default;
  PortNotes& operator=(const PortNotes&) = default;
  ~PortNotes() = default;
};

// The one serial line to the controller's boot loader. The protocol reads it one byte at a time and relies on the
// port's short read time-out: a read that finds nothing returns within a few milliseconds.
class SerialPort {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  virtual ~SerialPort() = default;

  // Opens the port by its bare name ("COM3" on Windows, a device path on POSIX) at 38400 baud 8-N-1 with 1 ms
  // time-outs, and raises DTR and RTS. A port that fails a step is closed again before this returns.
  virtual OpenResult Open(const std::string& portName) = 0;
  virtual void Close() = 0;
  [[nodiscard]] virtual bool IsOpen() const = 0;

  // One byte, or nothing once the port's read time-out (about 2 ms) has passed without one.
  virtual std::optional<std::uint8_t> ReadByte() = 0;
  // One write call. A partial write is reported as such, not completed.
  virtual WriteOutcome Write(std::span<const std::uint8_t> bytes) = 0;
  // Discards whatever waits in the input and the output queue.
  virtual void Purge() = 0;

  // Why the last Open failed, in words the operator can act on ("connection refused by 10.0.0.7:2217"), beside
  // the result's "Open Err1"; empty when the result says all there is.
  [[nodiscard]] virtual std::string OpenFailureReason() const { return {}; }
  // Where the port tells what it does besides carrying bytes; a serial device has nothing to tell.
  virtual void SetNotes(PortNotes* /*notes*/) {}
};

}  // namespace fwu
