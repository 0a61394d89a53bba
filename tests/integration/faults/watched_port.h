#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "controller_on_pty.h"
#include "serial/serial_port.h"

namespace fwu::test {

// The updater's real port with a watch on its writes: how many calls it made (failed ones included) and when the
// last one was made, so that a test can tell that nothing went out after a failure and how long the updater then
// waited before giving up.
class WatchedPort : public SerialPort {
 public:
  explicit WatchedPort(SerialPort& inner) : inner_(inner) {}

  OpenResult Open(const std::string& portName) override { return inner_.Open(portName); }
  void Close() override { inner_.Close(); }
  [[nodiscard]] bool IsOpen() const override { return inner_.IsOpen(); }
  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override { return inner_.Read(into, waitMs); }
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override {
    const WriteOutcome outcome = inner_.Write(bytes);
    ++writeCalls_;
    failedWrites_ += outcome.ok && outcome.written > 0 ? 0 : 1;
    lastWriteMs_ = SteadyMs();
    return outcome;
  }
  void Purge() override { inner_.Purge(); }

  [[nodiscard]] int WriteCalls() const { return writeCalls_; }
  [[nodiscard]] int FailedWrites() const { return failedWrites_; }
  [[nodiscard]] double LastWriteMs() const { return lastWriteMs_; }

 private:
  SerialPort& inner_;
  int writeCalls_ = 0;
  int failedWrites_ = 0;
  double lastWriteMs_ = 0;
};

}  // namespace fwu::test
