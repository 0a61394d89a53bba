#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

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
  // Why the last Open failed, as the system told it, with a hint where one helps: "no such device",
  // "permission denied (is the user in the dialout group?)", "in use by another program". Empty when the port
  // cannot tell or the last Open succeeded. The operator's message stays the dialog's ("Open Err1").
  [[nodiscard]] virtual std::string OpenFailureReason() const { return {}; }

  // One byte, or nothing once the port's read time-out (about 2 ms) has passed without one.
  virtual std::optional<std::uint8_t> ReadByte() = 0;
  // One write call. A partial write is reported as such, not completed.
  virtual WriteOutcome Write(std::span<const std::uint8_t> bytes) = 0;
  // Discards whatever waits in the input and the output queue.
  virtual void Purge() = 0;
};

}  // namespace fwu
