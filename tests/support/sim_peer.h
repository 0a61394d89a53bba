#pragma once

#include <cstdint>
#include <span>

#include "sim/boot_loader.h"
#include "support/scripted_port.h"

namespace fwu::test {

// The simulated controller behind a ScriptedPort: every write the code under test makes reaches the boot loader
// model, and its answers become readable on the virtual clock as a 38400-baud line would deliver them. A whole
// update runs in memory this way, in a fraction of a second.
class SimPeer {
 public:
  // One byte on the line: start bit, 8 data bits, stop bit at 38400 baud.
  static constexpr std::uint64_t kLineByteNs = 260'417;

  // Installs itself as port's write responder. byteNs is the line time per byte in both directions; 0 makes
  // the line instant (answers readable at the tick of the write that caused them).
  explicit SimPeer(ScriptedPort& port, sim::BootLoaderConfig config = {}, std::uint64_t byteNs = kLineByteNs);
  SimPeer(const SimPeer&) = delete;
  SimPeer& operator=(const SimPeer&) = delete;
  ~SimPeer();

  [[nodiscard]] sim::BootLoader& Loader() { return loader_; }
  [[nodiscard]] const sim::DeviceMemory& Memory() const { return loader_.Memory(); }
  // The virtual time, in microseconds on the boot loader's clock, that corresponds to the port's clock now.
  [[nodiscard]] sim::TimeUs NowUs();

 private:
  void FollowClock();
  void OnWrite(std::span<const std::uint8_t> written);
  void Deliver(std::uint64_t nowNs);

  ScriptedPort& port_;
  sim::BootLoader loader_;
  std::uint64_t byteNs_;
  std::uint32_t lastMs_;
  std::uint64_t nowNs_ = 0;      // the port's clock, unwrapped, in nanoseconds since the peer was made
  std::uint64_t inFreeNs_ = 0;   // when the line towards the controller is free again
  std::uint64_t outFreeNs_ = 0;  // when the line towards the host is free again
};

}  // namespace fwu::test
