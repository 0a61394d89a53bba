#include "serial/write_bytes.h"

#include <algorithm>

namespace fwu {

namespace {

constexpr std::uint32_t kSettleMs = 10;     // before the first attempt
constexpr std::uint32_t kRetryGapMs = 100;  // between attempts that wrote nothing
constexpr int kMaxEmptyAttempts = 5;

}  // namespace

std::uint32_t WriteBytes(Link& link, std::span<const std::uint8_t> bytes) {
  link.clock.SleepMs(kSettleMs);
  std::size_t total = 0;
  int emptyAttempts = 0;
  while (total < bytes.size()) {
    const WriteOutcome outcome = link.port.Write(bytes.subspan(total));
    // A partial write is completed: a Frame cut short on the wire would only be refused by the controller. What
    // the driver accepted is on its way even when the call then reports a failure, so it is never sent twice.
    const std::size_t accepted = std::min<std::size_t>(outcome.written, bytes.size() - total);
    total += accepted;
    if (accepted > 0) {
      continue;
    }
    if (++emptyAttempts == kMaxEmptyAttempts) {
      if (total == 0) {
        return outcome.ok ? 1U : 0U;
      }
      break;
    }
    link.clock.SleepMs(kRetryGapMs);
  }
  return static_cast<std::uint32_t>(total);
}

}  // namespace fwu
