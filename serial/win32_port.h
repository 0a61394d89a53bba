#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "serial/serial_port.h"
#include "serial/win32_handle.h"

namespace fwu {

// The serial line on a Windows COM port, opened by its bare name ("COM3") through the "\\.\" device path, without
// sharing: a port that another program holds cannot be opened. Reads and writes are synchronous with 1 ms
// time-outs, so a one-byte read that finds nothing returns after about 2 ms.
class Win32SerialPort : public SerialPort {
 public:
  Win32SerialPort() = default;
  ~Win32SerialPort() override = default;

  OpenResult Open(const std::string& portName) override;
  void Close() override;
  [[nodiscard]] bool IsOpen() const override { return handle_.IsValid(); }
  [[nodiscard]] std::string OpenFailureReason() const override { return openFailure_; }

  std::optional<std::uint8_t> ReadByte() override;
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override;
  void Purge() override;

 private:
  OpenResult Configure();
  OpenResult Failed(OpenResult result);

  Win32Handle handle_;
  std::string openFailure_;
};

}  // namespace fwu
