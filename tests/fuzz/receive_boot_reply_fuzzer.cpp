// ReceiveBootReply against whatever the line delivers, into reply buffers of many sizes. Beyond "no crash": the
// result must be the one the reply's bytes call for, the buffer must hold body, ETX and check byte as far as it
// reaches (ASan guards its end), nothing after the check byte may be read, and every wait must end at its limit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <span>
#include <vector>

#include "app/dialog_adapter.h"
#include "fuzz_line.h"
#include "protocol/boot_entry.h"
#include "support/recording_window.h"

namespace {

using fwu::test::Require;

// The buffers callers pass (the update's 64, the version read's 100) and the edges around an empty buffer.
constexpr std::size_t kReplySizes[] = {64, 100, 0, 1, 2, 3, 4, 5, 16, 300};

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint32_t kStartLimitMs = 500;
constexpr std::uint32_t kBodyLimitMs = 1000;
constexpr std::uint32_t kCheckLimitMs = 1000;
constexpr std::uint32_t kGiveUpMs = 60'000;

// Where the reply's parts were taken from the line, as indexes into the bytes read.
struct Parts {
  std::size_t stx = 0;
  std::size_t etx = 0;
  bool hasStx = false;
  bool hasEtx = false;
};

Parts Locate(const std::vector<std::uint8_t>& taken) {
  Parts parts;
  const auto stx = std::find(taken.begin(), taken.end(), kStx);
  if (stx == taken.end()) {
    return parts;
  }
  parts.hasStx = true;
  parts.stx = static_cast<std::size_t>(stx - taken.begin());
  const auto etx = std::find(stx + 1, taken.end(), kEtx);
  if (etx != taken.end()) {
    parts.hasEtx = true;
    parts.etx = static_cast<std::size_t>(etx - taken.begin());
  }
  return parts;
}

void CheckTimes(const fwu::test::WatchedPort& port, const Parts& parts, std::uint32_t startMs, std::uint32_t endMs) {
  const auto& reads = port.Reads();
  const std::uint32_t stxAt = parts.hasStx ? reads[parts.stx].atMs : endMs;
  Require(!parts.hasStx || stxAt - startMs <= kStartLimitMs, "an STX is taken after 500 ms");
  if (!parts.hasStx) {
    Require(endMs - startMs == kStartLimitMs + 1, "a missing STX is not given up one tick after 500 ms");
    return;
  }
  const std::uint32_t etxAt = parts.hasEtx ? reads[parts.etx].atMs : endMs;
  Require(!parts.hasEtx || etxAt - stxAt <= kBodyLimitMs, "an ETX is taken more than 1000 ms after the STX");
  if (!parts.hasEtx) {
    Require(endMs - stxAt == kBodyLimitMs + 1, "a missing ETX is not given up one tick after 1000 ms");
    return;
  }
  const bool checkByteCame = port.Reads().size() > parts.etx + 1;
  Require(checkByteCame ? reads[parts.etx + 1].atMs - etxAt <= kCheckLimitMs : endMs - etxAt == kCheckLimitMs + 1,
          "the check byte is not waited for exactly 1000 ms after the ETX");
}

void CheckResult(std::int16_t result, const std::vector<std::uint8_t>& taken, const Parts& parts,
                 const std::vector<std::uint8_t>& reply) {
  Require(!parts.hasEtx || taken.size() <= parts.etx + 2, "bytes are read after the check byte");
  if (!parts.hasEtx || taken.size() != parts.etx + 2) {
    Require(result == -1, "an unfinished reply is not reported as -1");
    return;
  }
  const auto body = std::span(taken).subspan(parts.stx + 1, parts.etx - parts.stx - 1);
  std::uint8_t check = kEtx;
  for (const std::uint8_t byte : body) {
    check ^= byte;
  }
  const std::uint8_t received = taken.back();
  const auto bodyLength =
      static_cast<std::int16_t>(std::min<std::size_t>(body.size(), std::numeric_limits<std::int16_t>::max()));
  Require(result == (received == check ? bodyLength : 0), "the result does not follow from the reply's bytes");

  // The buffer holds body, ETX and check byte, as far as it reaches.
  const auto stored = std::span(taken).subspan(parts.stx + 1);
  const std::size_t kept = std::min(reply.size(), stored.size());
  Require(std::equal(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(kept), reply.begin()),
          "the reply buffer does not hold what came");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::size_t replySize = kReplySizes[data[0] % std::size(kReplySizes)];
  fwu::test::WatchedClock clock;
  fwu::test::WatchedPort port(clock, kGiveUpMs);
  fwu::test::ScriptPeer peer(port, fwu::test::DecodeTimedStream(std::span(data + 1, size - 1)));
  fwu::test::RecordingWindow window;
  fwu::Link link{port, clock};
  port.WatchLink(link.reader);

  // Exactly the size the caller promises, on the heap, so that ASan sees its end.
  std::vector<std::uint8_t> reply(replySize, 0xA5);
  const std::uint32_t startMs = clock.NowMs();
  const std::int16_t result = fwu::ReceiveBootReply(link, window, reply);
  const std::uint32_t endMs = clock.NowMs();
  port.Settle();

  const std::vector<std::uint8_t> taken = port.ReadBytes();
  const Parts parts = Locate(taken);
  if (fwu::test::Tracing()) {
    static_cast<void>(std::fprintf(stderr, "result %d after %u ms, %zu bytes taken, buffer %zu\n", result,
                                   endMs - startMs, taken.size(), reply.size()));
  }
  Require(window.Boxes().empty(), "a boot reply on an open port shows a message");
  Require(port.WriteCalls() == 0, "reading the boot reply writes to the line");
  CheckTimes(port, parts, startMs, endMs);
  CheckResult(result, taken, parts, reply);
  return 0;
}
