#include "serial/line_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "serial/link.h"
#include "support/scripted_port.h"
#include "support/virtual_clock.h"
#include "support/wire.h"

namespace fwu::test {
namespace {

using ::testing::ElementsAre;

constexpr std::uint32_t kNoLimit = std::numeric_limits<std::uint32_t>::max();

// A limit of N ms holds at exactly N and has passed at N + 1, across the wrap of the tick too; a wait asks for
// exactly the time up to that first tick past it.
TEST(Deadline, AWaitLastsUpToTheFirstTickPastTheLimit) {
  struct Case {
    const char* name;
    std::uint32_t startMs;
    std::uint32_t limitMs;
    std::uint32_t nowMs;
    std::uint32_t waitMs;
  };
  const Case cases[] = {
      {"at the start", 1000, 1000, 1000, 1001},
      {"half-way", 1000, 1000, 1500, 501},
      {"at the limit", 1000, 1000, 2000, 1},
      {"one tick past", 1000, 1000, 2001, 0},
      {"a limit of 0", 1000, 0, 1000, 1},
      {"across the wrap", 0xFFFFFF00U, 1000, 0x000002E8U, 1},
      {"past, across the wrap", 0xFFFFFF00U, 1000, 0x000002E9U, 0},
      {"the longest limit", 1000, kNoLimit, 1000, kNoLimit},
  };
  for (const auto& c : cases) {
    Deadline deadline = Deadline::From(c.startMs, c.limitMs);
    EXPECT_EQ(deadline.WaitMs(c.nowMs), c.waitMs) << c.name;
    VirtualClock clock(c.nowMs);
    EXPECT_EQ(deadline.Passed(clock), c.waitMs == 0) << c.name;
  }
}

TEST(Deadline, OneLeftToTheFirstWaitStartsThereAndHasNotPassedBefore) {
  VirtualClock clock(5000);
  Deadline deadline = Deadline::AtFirstWait(1000);
  EXPECT_FALSE(deadline.Passed(clock));
  EXPECT_EQ(clock.Readings(), 0) << "a limit that has not started reads no clock";
  EXPECT_EQ(deadline.WaitMs(7000), 1001U);
  EXPECT_EQ(deadline.WaitMs(8000), 1U) << "started at the first wait, not again at the second";
  clock.Set(8001);
  EXPECT_TRUE(deadline.Passed(clock));
}

struct Taken {
  std::uint32_t atMs;
  std::uint8_t byte;
  friend bool operator==(const Taken&, const Taken&) = default;
};

struct Reading {
  std::vector<Taken> taken;
  std::uint32_t endMs = 0;
  int portReads = 0;
  int clockReadings = 0;
};

// Reads byte after byte, each within 1000 ms of the one before, until the line stays silent that long.
Reading ReadAll(std::uint32_t longestWaitMs) {
  VirtualClock clock(1000);
  ScriptedPort port(clock);
  port.SetLongestWaitMs(longestWaitMs);
  port.Arrive(WireFrame(0x06));             // 7 bytes at once
  port.Trickle(Bytes{0x41, 0x42}, 999, 1);  // 999 ms later, then 1 ms apart
  port.Arrive({0x43}, 2000);                // 1000 ms after the 0x42: still in time
  port.Arrive({0x44}, 3001);                // 1001 ms after the 0x43: too late
  Link link{port, clock};
  Reading run;
  for (;;) {
    Deadline gap = Deadline::AtFirstWait(1000);
    const auto byte = ReadByte(link, gap);
    if (!byte) {
      break;
    }
    run.taken.push_back({clock.Now(), *byte});
  }
  run.endMs = clock.Now();
  run.portReads = port.ReadCalls();
  run.clockReadings = clock.Readings();
  return run;
}

// The limits come out the same whether the port waits as long as it is asked or gives up after a few ms of its
// own, as the dialog's port does: the link asks again, and measures on the same clock.
TEST(LineReader, ServesTheSameBytesAtTheSameTimesWhateverThePortsOwnWait) {
  const Reading whole = ReadAll(kNoLimit);
  ASSERT_EQ(whole.taken.size(), 10U);
  EXPECT_EQ(whole.taken.front(), (Taken{1000, 0x10}));
  EXPECT_EQ(whole.taken[6], (Taken{1000, 0x66}));
  EXPECT_THAT(std::vector<Taken>(whole.taken.begin() + 7, whole.taken.end()),
              ElementsAre(Taken{1999, 0x41}, Taken{2000, 0x42}, Taken{3000, 0x43}));
  EXPECT_EQ(whole.endMs, 3000U + 1001U) << "given up one tick past the limit; the late byte stays unread";
  // One port read and one clock reading per arrival; the wait that runs out takes one read, and one more reading
  // to see that the limit has passed.
  EXPECT_EQ(whole.portReads, 5);
  EXPECT_EQ(whole.clockReadings, 6);

  for (const std::uint32_t longestWaitMs : {1U, 2U, 7U, 999U}) {
    const Reading shortWaits = ReadAll(longestWaitMs);
    EXPECT_EQ(shortWaits.taken, whole.taken) << longestWaitMs;
    EXPECT_EQ(shortWaits.endMs, whole.endMs) << longestWaitMs;
  }
}

// A purge drops what the link holds as well as what the port's queue holds; bytes still on their way stay.
TEST(LineReader, PurgeDropsWhatTheLinkHoldsAndWhatThePortHolds) {
  VirtualClock clock(1000);
  ScriptedPort port(clock);
  port.Arrive({0x55, 0x66, 0x77});
  port.Arrive({0x88}, 5);
  Link link{port, clock};
  Deadline now = Deadline::AtFirstWait(0);
  ASSERT_EQ(ReadByte(link, now), std::optional<std::uint8_t>(0x55));
  EXPECT_EQ(link.reader.Held(), 2U);

  PurgeLine(link);

  EXPECT_EQ(link.reader.Held(), 0U);
  EXPECT_EQ(port.PendingBytes(), 1U);
  EXPECT_THAT(port.Purges(), ElementsAre(1000U));
  Deadline later = Deadline::AtFirstWait(10);
  EXPECT_EQ(ReadByte(link, later), std::optional<std::uint8_t>(0x88));
  EXPECT_EQ(clock.NowMs(), 1005U);
}

}  // namespace
}  // namespace fwu::test
