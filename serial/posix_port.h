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

  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override;
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override;
  void Purge() override;

 private:
  OpenResult Configure();
  void Release();

  FileDescriptor fd_;
};

}  // namespace fwu
