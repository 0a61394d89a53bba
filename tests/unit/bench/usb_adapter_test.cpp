#include "bench/usb_adapter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace fwu::bench {
namespace {

constexpr std::uint64_t kNsPerMs = 1'000'000;
constexpr std::uint64_t kLatencyMs = 16;

// At a moment: the bytes that arrive then, and what the adapter hands on then, as (arrival ms, byte count).
struct Moment {
  double atMs;
  std::size_t arriving;
  std::vector<std::pair<double, std::size_t>> released;
};

struct Case {
  const char* what;
  std::vector<Moment> moments;
};

std::uint64_t Ns(double ms) {
  return static_cast<std::uint64_t>(ms * static_cast<double>(kNsPerMs));
}

TEST(UsbAdapterTest, HoldsBytesUntilAPacketIsFullOrTheLatencyTimerRunsOut) {
  const std::vector<Case> cases = {
      {"a short Frame waits for the timer, to the nanosecond",
       {{0, 6, {}}, {15.999999, 0, {}}, {16, 0, {{0, 6}}}, {40, 0, {}}}},
      {"the timer runs from the first waiting byte, not the last",
       {{0, 1, {}}, {10, 5, {}}, {16, 0, {{0, 1}, {10, 5}}}}},
      {"a full packet goes at once; the rest keeps its arrival time",
       {{0, 70, {{0, 62}}}, {15.9, 0, {}}, {16, 0, {{0, 8}}}}},
      {"later bytes fill the packet; the rest waits for its own timer",
       {{0, 40, {}}, {5, 30, {{0, 40}, {5, 22}}}, {20.9, 0, {}}, {21, 0, {{5, 8}}}}},
      {"two packets at once", {{2, 124, {{2, 62}, {2, 62}}}, {30, 0, {}}}},
      {"nothing arrives, nothing goes", {{0, 0, {}}, {100, 0, {}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UsbAdapter adapter(kLatencyMs * kNsPerMs);
    std::uint8_t next = 0;
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> handedOn;
    for (const Moment& m : c.moments) {
      std::vector<std::uint8_t> bytes;
      for (std::size_t i = 0; i < m.arriving; ++i) {
        bytes.push_back(next++);
      }
      sent.insert(sent.end(), bytes.begin(), bytes.end());
      adapter.Arrive(Ns(m.atMs), bytes);
      std::vector<std::pair<double, std::size_t>> released;
      for (const UsbAdapter::Piece& piece : adapter.Release(Ns(m.atMs))) {
        released.emplace_back(static_cast<double>(piece.arrivedNs) / kNsPerMs, piece.bytes.size());
        handedOn.insert(handedOn.end(), piece.bytes.begin(), piece.bytes.end());
      }
      EXPECT_EQ(released, m.released) << "at " << m.atMs << " ms";
    }
    EXPECT_EQ(handedOn, sent) << "every byte, once, in order";
    EXPECT_FALSE(adapter.Deadline().has_value()) << "nothing left waiting";
  }
}

}  // namespace
}  // namespace fwu::bench
