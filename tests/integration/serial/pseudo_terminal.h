#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "serial/posix_fd.h"

namespace fwu::test {

using Bytes = std::vector<std::uint8_t>;

// A pseudo-terminal pair: the port under test opens the slave by its path, the test plays the far end of the
// line on the master.
class PseudoTerminal {
 public:
  PseudoTerminal();

  [[nodiscard]] const std::string& SlavePath() const { return slavePath_; }
  [[nodiscard]] int Master() const { return master_.Get(); }
  // The far end goes away, as a USB adapter pulled out of its socket.
  void CloseMaster() { master_.Reset(); }

  // Sends all bytes from the far end, waiting for room as long as the generous limit allows.
  void Send(std::span<const std::uint8_t> bytes);
  // What the far end has received, once count bytes are there or the generous limit has passed.
  Bytes Receive(std::size_t count);

 private:
  FileDescriptor master_;
  std::string slavePath_;
};

// Wall time and this thread's processor time spent by some work, in milliseconds.
struct Usage {
  double wallMs = 0;
  double cpuMs = 0;
};

template <typename Work>
Usage Measure(Work&& work);

double WallMs();
double ThreadCpuMs();

template <typename Work>
Usage Measure(Work&& work) {
  const double wallStart = WallMs();
  const double cpuStart = ThreadCpuMs();
  work();
  return {WallMs() - wallStart, ThreadCpuMs() - cpuStart};
}

// Generous enough for a loaded machine running under the sanitizers; only a hang comes near it.
constexpr double kGenerousMs = 5000;

}  // namespace fwu::test
