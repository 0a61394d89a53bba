#pragma once

#include <cstddef>
#include <cstdint>
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

// The one serial line to the controller's boot loader. The protocol waits for bytes through Read, which hands over
// everything that has arrived; the link serves them to the protocol one at a time.
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
  // "permission denied (is the user in the dialout group?)", "in use by another program", "connection refused by
  // 10.0.0.7:2217". Empty when the port cannot tell or the last Open succeeded. The operator's message stays the
  // dialog's ("Open Err1").
  [[nodiscard]] virtual std::string OpenFailureReason() const { return {}; }
  // Why the line went away while the port was open, where the port knows it ("10.0.0.7:4001 closed the
  // connection"); empty while the line is there, after Close, or when the port cannot tell.
  [[nodiscard]] virtual std::string LostReason() const { return {}; }

  // Waits until at least one byte has arrived or waitMs have passed, then takes what has arrived, at most
  // into.size() bytes, and returns how many. 0 means nothing came: the wait ran out, or the port gave up sooner (a
  // port may keep its own shorter read time-out), and the caller asks again if its deadline allows. A port that
  // cannot read (closed, or the line gone) still waits before it returns 0, so that such a caller never spins.
  virtual std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) = 0;
  // One write call. A partial write is reported as such, not completed.
  virtual WriteOutcome Write(std::span<const std::uint8_t> bytes) = 0;
  // Discards whatever waits in the input and the output queue.
  virtual void Purge() = 0;

  // Where the port tells what it does besides carrying bytes; a serial device has nothing to tell.
  virtual void SetNotes(PortNotes* /*notes*/) {}
};

}  // namespace fwu
