#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/posix_fd.h"
#include "sim/boot_loader.h"

namespace fwu::test {

// A pseudo-terminal pair: the updater opens SlavePath() as its serial port, the simulated controller serves the
// master. The controller's side also holds the slave open, so that the master never reads as hung up while the
// updater has not opened the line yet.
class PtyLine {
 public:
  PtyLine();
  [[nodiscard]] const std::string& SlavePath() const { return slavePath_; }
  [[nodiscard]] int Master() const { return master_.Get(); }
  // The cable is pulled: the controller's end goes away, and the updater's end is hung up.
  void Pull();
  [[nodiscard]] bool Pulled() const { return !master_.IsValid(); }

 private:
  FileDescriptor master_;
  FileDescriptor heldSlave_;
  std::string slavePath_;
};

// One piece of the controller's output, before the line has had its way with it.
struct Outgoing {
  std::vector<std::uint8_t> bytes;      // one Frame, or the unframed boot reply
  std::optional<std::uint8_t> control;  // the Frame's control byte; empty for the boot reply
  sim::CommandCode command;             // the command the controller took last
  int blockWrites = 0;                  // block-write commands the controller has taken, the last one included
};

// What the line does with it.
struct Delivery {
  std::vector<std::uint8_t> bytes;  // what reaches the updater (possibly nothing)
  std::uint32_t delayMs = 0;        // how much later than the controller sent it
  bool pullCable = false;           // the controller's end goes away once bytes have gone and pullAfterMs passed
  std::uint32_t pullAfterMs = 0;
  bool muteAfter = false;  // nothing after this reaches the updater any more
};

using LineFault = std::function<Delivery(const Outgoing&)>;

// A healthy line delivers everything at once.
Delivery Unchanged(const Outgoing& out);

// The simulated controller served on a pseudo-terminal from a thread of the test, with a fault on its line. Its
// memory starts as given, so that a second, healthy controller can take over where a failed update left off.
class ControllerOnPty {
 public:
  struct Memory {
    std::vector<std::uint8_t> main;
    std::vector<std::uint8_t> second;
  };

  ControllerOnPty(PtyLine& line, sim::BootLoaderConfig config, LineFault fault = Unchanged,
                  const Memory* startFrom = nullptr);
  ControllerOnPty(const ControllerOnPty&) = delete;
  ControllerOnPty& operator=(const ControllerOnPty&) = delete;
  // Stops serving; whatever has not left yet is dropped.
  ~ControllerOnPty();

  // Stops serving, then the controller's memory and logs may be read.
  void Stop();
  [[nodiscard]] Memory MemoryNow() const;
  [[nodiscard]] const sim::BootLoader& Loader() const { return loader_; }

 private:
  struct Scheduled {
    double dueMs;
    std::vector<std::uint8_t> bytes;
    bool pull;
  };

  void Serve();
  void TakeInput();
  void Schedule(const sim::OutChunk& chunk);
  void SendDue();
  [[nodiscard]] sim::TimeUs NowUs() const;
  [[nodiscard]] int PollTimeoutMs() const;

  PtyLine& line_;
  sim::BootLoader loader_;
  LineFault fault_;
  double startMs_;
  std::vector<Scheduled> queue_;
  bool muted_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Steady time in milliseconds, the same clock for the test, the controller and the updater's watch.
double SteadyMs();

}  // namespace fwu::test
