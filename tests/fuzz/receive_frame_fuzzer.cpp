// ReceiveFrame against whatever the line delivers: it must never store outside its buffers, never loop without
// the clock moving, and only report a length that fits the capacity it was given.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/frame.h"
#include "support/scripted_port.h"

namespace {

// The capacities the program passes, the edges of the working buffer, and one taken from the input.
constexpr std::int16_t kCapacities[] = {20, 50, 250, 280, 2, 1, 0, -1, 599, 600, 601, 32767};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::int16_t capacity = kCapacities[data[0] % std::size(kCapacities)];
  fwu::test::VirtualClock clock;
  fwu::test::ScriptedPort port(clock);
  port.Arrive(std::span<const std::uint8_t>(data + 1, size - 1));
  fwu::Link link{port, clock};

  // The caller's buffer is exactly as large as the capacity promises, on the heap so ASan sees its edge.
  std::vector<std::uint8_t> payload(capacity > 2 ? static_cast<std::size_t>(capacity - 2) : 0U);
  const std::size_t maxCalls = size + 8;
  for (std::size_t call = 0; call < maxCalls; ++call) {
    std::uint8_t control = 0;
    const std::int16_t result = fwu::ReceiveFrame(link, control, payload, capacity);
    if (result > 0 && static_cast<std::size_t>(result) > payload.size()) {
      __builtin_trap();  // a length the caller's buffer cannot hold
    }
    if (result == fwu::kFrameNone && port.PendingBytes() == 0) {
      break;
    }
  }
  return 0;
}
