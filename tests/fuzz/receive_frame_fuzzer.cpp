// ReceiveFrame against whatever the line delivers, with pauses: it must never store outside its buffers, report
// only a length that fits the capacity it was given, leave the caller's control byte and payload as they were
// when it fails, return at once when nothing is arriving, and never wait more than 1000 ms past the last byte it
// took.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_line.h"
#include "protocol/frame.h"

namespace {

using fwu::test::Require;

// The capacities the program passes, the edges of the working buffer, and some beyond any caller.
constexpr std::int16_t kCapacities[] = {20, 50, 250, 280, 2, 1, 0, -1, 599, 600, 601, 32767};
constexpr std::uint8_t kUntouched = 0xA5;
constexpr std::uint32_t kByteGapMs = 1000;
constexpr std::uint32_t kGiveUpMs = 600'000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::int16_t capacity = kCapacities[data[0] % std::size(kCapacities)];
  fwu::test::WatchedClock clock;
  fwu::test::WatchedPort port(clock, kGiveUpMs);
  fwu::test::ScriptPeer peer(port, fwu::test::DecodeTimedStream(std::span(data + 1, size - 1)));
  fwu::Link link{port, clock};
  port.WatchLink(link.reader);

  // The caller's buffer is exactly as large as the capacity promises, on the heap so ASan sees its edge.
  std::vector<std::uint8_t> payload(capacity > 2 ? static_cast<std::size_t>(capacity - 2) : 0U, kUntouched);
  // Every call takes a byte or lets a millisecond pass, so this many reach past the last byte.
  const std::size_t maxCalls = size + peer.ReleasedDelayMs() + 8;
  for (std::size_t call = 0; call < maxCalls; ++call) {
    const std::vector<std::uint8_t> before = payload;
    std::uint8_t control = kUntouched;
    const std::size_t readsBefore = port.Reads().size();
    const std::uint32_t startMs = clock.NowMs();
    const std::int16_t result = fwu::ReceiveFrame(link, control, payload, capacity);
    const std::uint32_t endMs = clock.NowMs();
    port.Settle();

    Require(result >= fwu::kFrameOverflow, "a result outside the receiver's list");
    Require(result < 0 || static_cast<std::size_t>(result) <= payload.size(), "a length the buffer cannot hold");
    if (result < 0) {
      // A Frame of the ETX alone passes its CRC but has no control byte: the ETX lands in controlOut.
      Require(payload == before && (control == kUntouched || control == 0x03),
              "a failed receive changes the caller's control byte or payload");
    } else {
      Require(std::equal(payload.begin() + result, payload.end(), before.begin() + result),
              "a good Frame writes past its payload");
    }
    const auto& reads = port.Reads();
    if (reads.size() == readsBefore) {
      Require(endMs - startMs <= 1, "a receive with nothing arriving does not return at once");
    } else {
      Require(endMs - reads.back().atMs <= kByteGapMs + 1, "a receive waits more than 1000 ms past its last byte");
    }
    if (result == fwu::kFrameNone && port.PendingBytes() == 0 && link.reader.Held() == 0) {
      break;
    }
  }
  return 0;
}
