#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "serial/serial_port.h"
#include "serial/win32_handle.h"

namespace fwu {

// The serial line on a Windows COM port, opened by its bare name ("COM3") through the "\\.\" device path, without
// sharing: a port that another program holds cannot be opened. Reads and writes are synchronous; every time-out is
// 1 ms as the port is opened.
//
// Reads wait for the line in one of two ways:
// - ShortWaits (the dialog's): one byte per read call, with the time-outs as opened: a read that finds nothing
//   gives up after about 2 ms and the caller asks again while its deadline allows, as the dialog has always read.
// - WholeWaits (the command line's): what the driver holds comes in one call that does not wait; when it holds
//   nothing, the read time-out is set to the caller's wait and a one-byte read returns the moment a byte arrives,
//   with whatever came along behind it. A wait costs a few calls, not one every 2 ms.
class Win32SerialPort : public SerialPort {
 public:
  enum class WaitStyle { ShortWaits, WholeWaits };

  explicit Win32SerialPort(WaitStyle style = WaitStyle::ShortWaits) : style_(style) {}
  ~Win32SerialPort() override = default;

  OpenResult Open(const std::string& portName) override;
  void Close() override;
  [[nodiscard]] bool IsOpen() const override { return handle_.IsValid(); }
  [[nodiscard]] std::string OpenFailureReason() const override { return openFailure_; }

  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override;
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override;
  void Purge() override;

 private:
  OpenResult Configure();
  // How many bytes the driver holds; 0 also when it cannot tell.
  [[nodiscard]] std::size_t Queued() const;
  // One read call of up to `into.size()` bytes; the count it took, or nothing when the call failed.
  std::optional<std::size_t> ReadOnce(std::span<std::uint8_t> into);
  // The command line's read: waits up to waitMs for a byte and takes what has arrived.
  std::optional<std::size_t> ReadWithin(std::span<std::uint8_t> into, std::uint32_t waitMs);
  // Sets the read time-out for one byte to waitMs, unless it is set so already.
  void SetByteWait(std::uint32_t waitMs);
  OpenResult Failed(OpenResult result);

  WaitStyle style_;
  Win32Handle handle_;
  std::optional<std::uint32_t> byteWaitMs_;  // the read time-out set by SetByteWait, while it holds
  std::string openFailure_;
};

}  // namespace fwu
