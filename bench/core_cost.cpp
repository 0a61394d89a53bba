// fwu_bench_core_cost: one whole update of the carried images against the simulated controller in memory, on the
// virtual clock, so that the instructions the core executes can be counted without the machine's load in them.
//
// Run it under callgrind with collection off at the start:
//   valgrind --tool=callgrind --collect-atstart=no fwu_bench_core_cost
// Collection is switched on around RunUpdate and off again inside every call the core makes into the port and
// the clock, so the count is the core's own: Frames, CRC, the command exchange, the time limits and the update
// sequence, told to an observer that does nothing. The controller, which answers inside the port's write calls,
// is left out. Without valgrind the switches do nothing and the run just checks itself.
//
// Prints the update's figures as "name=value" lines; exit status 0 when the update ended in "Finished" and the
// controller's memory holds both images.

#include <valgrind/callgrind.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <span>
#include <string>

#include "serial/link.h"
#include "sim/boot_loader.h"
#include "support/scripted_port.h"
#include "support/sim_peer.h"
#include "support/virtual_clock.h"
#include "update/images.h"
#include "update/update_sequence.h"

namespace fwu::bench {
namespace {

// Collection off for the length of one call outside the core.
class Uncounted {
 public:
  Uncounted() { CALLGRIND_TOGGLE_COLLECT; }
  Uncounted(const Uncounted&) = delete;
  Uncounted& operator=(const Uncounted&) = delete;
  ~Uncounted() { CALLGRIND_TOGGLE_COLLECT; }
};

// The port as the core sees it; what happens behind it (the memory line, the controller) is not counted.
class UncountedPort : public SerialPort {
 public:
  explicit UncountedPort(test::ScriptedPort& inner) : inner_(inner) {}

  OpenResult Open(const std::string& portName) override {
    const Uncounted off;
    return inner_.Open(portName);
  }
  void Close() override {
    const Uncounted off;
    inner_.Close();
  }
  [[nodiscard]] bool IsOpen() const override {
    const Uncounted off;
    return inner_.IsOpen();
  }
  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override {
    const Uncounted off;
    ++readCalls_;
    const std::size_t count = inner_.Read(into, waitMs);
    bytesRead_ += count;
    return count;
  }
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override {
    const Uncounted off;
    const WriteOutcome outcome = inner_.Write(bytes);
    bytesWritten_ += outcome.written;
    return outcome;
  }
  void Purge() override {
    const Uncounted off;
    inner_.Purge();
  }

  [[nodiscard]] std::uint64_t ReadCalls() const { return readCalls_; }
  [[nodiscard]] std::uint64_t BytesRead() const { return bytesRead_; }
  [[nodiscard]] std::uint64_t BytesWritten() const { return bytesWritten_; }

 private:
  test::ScriptedPort& inner_;
  std::uint64_t readCalls_ = 0;
  std::uint64_t bytesRead_ = 0;
  std::uint64_t bytesWritten_ = 0;
};

class UncountedClock : public Clock {
 public:
  explicit UncountedClock(test::VirtualClock& inner) : inner_(inner) {}

  std::uint32_t NowMs() override {
    const Uncounted off;
    ++readings_;
    return inner_.NowMs();
  }
  void SleepMs(std::uint32_t ms) override {
    const Uncounted off;
    inner_.SleepMs(ms);
  }

  [[nodiscard]] std::uint64_t Readings() const { return readings_; }

 private:
  test::VirtualClock& inner_;
  std::uint64_t readings_ = 0;
};

bool Holds(std::span<const std::uint8_t> memory, std::span<const std::uint8_t> image) {
  return memory.size() == image.size() && std::equal(image.begin(), image.end(), memory.begin());
}

int Main() {
  test::VirtualClock virtualClock;
  test::ScriptedPort memoryLine(virtualClock);
  sim::BootLoaderConfig controller;
  controller.programKind = 0x10;  // both images: second, then main
  test::SimPeer peer(memoryLine, controller);

  UncountedPort port(memoryLine);
  UncountedClock clock(virtualClock);
  RunObserver observer;
  Link link{port, clock};
  const std::uint32_t startMs = virtualClock.NowMs();

  CALLGRIND_TOGGLE_COLLECT;
  const RunResult result = RunUpdate(link, observer);
  CALLGRIND_TOGGLE_COLLECT;

  const auto& memory = peer.Memory();
  const bool written = Holds(memory.Bytes(sim::DeviceMemory::Region::Main), MainImage()) &&
                       Holds(memory.Bytes(sim::DeviceMemory::Region::Second), SecondImage());
  const bool finished = result.outcome == Outcome::Finished;
  std::cout << "finished=" << (finished ? 1 : 0) << "\n"
            << "memory_equal=" << (written ? 1 : 0) << "\n"
            << "bytes_written=" << port.BytesWritten() << "\n"
            << "bytes_read=" << port.BytesRead() << "\n"
            << "read_calls=" << port.ReadCalls() << "\n"
            << "clock_calls=" << clock.Readings() << "\n"
            << "virtual_ms=" << virtualClock.NowMs() - startMs << "\n";
  return finished && written ? 0 : 1;
}

}  // namespace
}  // namespace fwu::bench

int main() {
  return fwu::bench::Main();
}
