// The trace's wire decoder against any bytes, in either direction and with any pacing. Beyond "no crash": every
// byte lands in exactly one event and in order, no event outgrows its bound, a Frame or message called good has
// a matching check, times never go backwards, and every event can be put into words (ASan guards each span).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz_line.h"
#include "trace/trace.h"
#include "trace/wire_decoder.h"

namespace {

using fwu::test::Require;
using fwu::trace::Direction;
using fwu::trace::EventKind;
using fwu::trace::Verdict;
using fwu::trace::WireEvent;

// Time between two bytes: from all at once to well past the decoder's 1 s gap.
constexpr std::uint64_t kStepUnitUs = 40'000;
// DLE STX, every content byte doubled, DLE ETX, two CRC bytes.
constexpr std::size_t kMaxFrameWire = 2 * fwu::trace::kMaxFrameContent + 4;
// STX, body, ETX, check byte.
constexpr std::size_t kMaxUnframedWire = fwu::trace::kMaxUnframedBody + 3;

void CheckEvent(const WireEvent& event, std::uint64_t& lastUs) {
  Require(!event.wire.empty(), "an event without bytes");
  Require(event.atUs >= lastUs, "an event is older than the one before it");
  lastUs = event.atUs;
  switch (event.kind) {
    case EventKind::Noise:
      Require(event.wire.size() <= fwu::trace::kMaxNoiseRun, "a noise run outgrows its bound");
      break;
    case EventKind::ControlByte:
      Require(event.wire.size() == 1 && event.hasControl, "a lone control byte is not one byte");
      break;
    case EventKind::Frame: {
      const bool complete = event.verdict == Verdict::Good || event.verdict == Verdict::BadCheck;
      Require(event.wire.size() <= kMaxFrameWire, "a Frame outgrows its bound");
      // The bound counts control byte, payload and ETX; a Frame cut off or overlong never reached its ETX.
      Require(event.body.size() + (complete ? 2U : 1U) <= fwu::trace::kMaxFrameContent,
              "a Frame's payload outgrows its bound");
      break;
    }
    case EventKind::Identification:
    case EventKind::BootReply:
      Require(event.wire.size() <= kMaxUnframedWire, "an unframed message outgrows its bound");
      break;
  }
  if (event.verdict == Verdict::Good) {
    Require(event.receivedCheck == event.computedCheck, "a good unit's check does not match");
  }
  if (event.kind == EventKind::Frame && event.verdict == Verdict::Good) {
    Require(event.wire[0] == 0x10 && event.wire[1] == 0x02 && event.hasControl, "a good Frame does not start well");
  }
  const std::string line = fwu::trace::FormatTraceLine(event);
  Require(!line.empty(), "an event without words");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const Direction direction = (data[0] & 1U) != 0 ? Direction::Received : Direction::Sent;
  const std::uint64_t stepUs = (data[0] >> 1U) * kStepUnitUs;
  const auto input = std::span(data + 1, size - 1);

  std::vector<std::uint8_t> seen;
  std::uint64_t lastUs = 0;
  fwu::trace::WireDecoder decoder(direction, [&](const WireEvent& event) {
    CheckEvent(event, lastUs);
    seen.insert(seen.end(), event.wire.begin(), event.wire.end());
  });
  std::uint64_t atUs = 0;
  for (const std::uint8_t byte : input) {
    decoder.Push(byte, atUs);
    atUs += stepUs;
  }
  decoder.Flush();
  Require(seen.size() == input.size() && std::equal(seen.begin(), seen.end(), input.begin()),
          "the events do not account for every byte exactly once, in order");
  return 0;
}
