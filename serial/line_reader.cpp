#include "serial/line_reader.h"

#include <algorithm>
#include <limits>

namespace fwu {

Deadline Deadline::From(std::uint32_t startMs, std::uint32_t limitMs) {
  Deadline deadline(limitMs);
  deadline.startMs_ = startMs;
  deadline.started_ = true;
  return deadline;
}

bool Deadline::Passed(Clock& clock) const {
  return started_ && Exceeded(clock, startMs_, limitMs_);
}

std::uint32_t Deadline::WaitMs(std::uint32_t nowMs) {
  if (!started_) {
    startMs_ = nowMs;
    started_ = true;
  }
  const auto elapsed = static_cast<std::uint32_t>(nowMs - startMs_);
  if (elapsed > limitMs_) {
    return 0;
  }
  // Until the first tick past the limit; a limit near the top of the range waits as long as a wait can.
  const std::uint32_t left = limitMs_ - elapsed;
  return left < std::numeric_limits<std::uint32_t>::max() ? left + 1 : left;
}

std::optional<std::uint8_t> LineReader::Next(SerialPort& port, Clock& clock, Deadline& deadline) {
  while (next_ == end_) {
    const std::uint32_t waitMs = deadline.WaitMs(clock.NowMs());
    if (waitMs == 0) {
      return std::nullopt;
    }
    // A port may return before the wait is over with nothing; the deadline is then asked again.
    const std::size_t count = port.Read(bytes_, waitMs);
    next_ = 0;
    end_ = std::min(count, bytes_.size());
  }
  return bytes_[next_++];
}

}  // namespace fwu
