#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "serial/posix_fd.h"
#include "serial/serial_port.h"

namespace fwu {

// The serial line on a POSIX terminal device (a USB adapter's /dev/ttyUSB0, or a pseudo-terminal in the tests).
// The port name is the device path. The line is raw 38400 baud 8-N-1 and held exclusively while open. A read
// sleeps in poll until a byte arrives or its wait is over: one wake-up per burst from the controller.
class PosixSerialPort : public SerialPort {
 public:
  PosixSerialPort() = default;
  ~PosixSerialPort() override;

  OpenResult Open(const std::string& portName) override;
  void Close() override;
  [[nodiscard]] bool IsOpen() const override { return fd_.IsValid(); }
  [[nodiscard]] std::string OpenFailureReason() const override { return openFailure_; }

  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override;
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override;
  void Purge() override;

 private:
  OpenResult Configure();
  OpenResult Failed(OpenResult result, int error);
  void Release();

  FileDescriptor fd_;
  std::string openFailure_;
};

// An errno of a failed open, in the operator's words: "no such device", "permission denied (is the user in the
// dialout group?)", "in use by another program", "not a serial port"; the system's text for any other.
std::string DescribeOpenError(int error);

}  // namespace fwu
