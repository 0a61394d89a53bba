#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "serial/posix_fd.h"
#include "serial/serial_port.h"

namespace fwu {

// The serial line on a POSIX terminal device (a USB adapter's /dev/ttyUSB0, or a pseudo-terminal in the tests).
// The port name is the device path. The line is raw 38400 baud 8-N-1, held exclusively while open, and reads
// follow the same short time-out as the Windows port: a read that finds nothing returns after 1 to 2 ms.
class PosixSerialPort : public SerialPort {
 public:
  PosixSerialPort() = default;
  ~PosixSerialPort() override;

  OpenResult Open(const std::string& portName) override;
  void Close() override;
  [[nodiscard]] bool IsOpen() const override { return fd_.IsValid(); }

  std::optional<std::uint8_t> ReadByte() override;
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override;
  void Purge() override;

 private:
  OpenResult Configure();
  void Release();

  FileDescriptor fd_;
};

}  // namespace fwu
