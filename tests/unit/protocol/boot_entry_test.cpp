#include "protocol/boot_entry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/dialog_adapter.h"
#include "protocol/control_chars.h"
#include "unit/protocol/link_fixture.h"

namespace fwu::test {
namespace {

using ::testing::ElementsAre;
using Box = RecordingWindow::Box;

// STX, "kzkz42", ETX, and the block check 6B^7A^6B^7A^34^32^03 = 05.
const Bytes kIdMessage{0x02, 0x6B, 0x7A, 0x6B, 0x7A, 0x34, 0x32, 0x03, 0x05};
const Bytes kEnqFrame{0x10, 0x02, 0x05, 0x10, 0x03, 0x23, 0x4C};
const Bytes kAckFrame{0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x66};
const Bytes kEotFrame{0x10, 0x02, 0x04, 0x10, 0x03, 0xFB, 0x55};

Box ErrorBox(const std::string& text) {
  return {text, text, BoxStyle::Error};
}

using BootEntryTest = LinkTest;

TEST_F(BootEntryTest, SendBootIdPurgesAndWritesTheIdentificationInThreeWrites) {
  port.Arrive({0x55, 0x66});  // left on the line by an earlier conversation
  EXPECT_EQ(SendBootId(link, window), 0);
  EXPECT_THAT(port.Purges(), ElementsAre(1000U));
  EXPECT_EQ(Unread(), 0U);
  const auto& writes = port.Writes();
  ASSERT_EQ(writes.size(), 3U);
  EXPECT_THAT(writes[0].bytes, ElementsAre(0x02));
  EXPECT_THAT(writes[1].bytes, ElementsAre('k', 'z', 'k', 'z', '4', '2'));
  EXPECT_THAT(writes[2].bytes, ElementsAre(0x03, 0x05));
  EXPECT_EQ(port.WrittenBytes(), kIdMessage);
  // Each write settles 10 ms first: the boot loader sees three bursts.
  EXPECT_EQ(writes[0].atMs, 1010U);
  EXPECT_EQ(writes[1].atMs, 1020U);
  EXPECT_EQ(writes[2].atMs, 1030U);
  EXPECT_TRUE(window.Boxes().empty());
}

TEST_F(BootEntryTest, SendBootIdReportsNoWriteFailure) {
  for (int call = 1; call <= 15; ++call) {
    port.ScriptWrite(call, {false, 0});
  }
  EXPECT_EQ(SendBootId(link, window), 0);
  EXPECT_TRUE(window.Boxes().empty());
}

TEST_F(BootEntryTest, AClosedPortIsShownAndLeftUntouched) {
  port.SetOpen(false);
  port.Arrive({0x02, 0x41, 0x03, 0x42});
  Bytes reply(16, 0xEE);
  EXPECT_EQ(SendBootId(link, window), -1);
  EXPECT_EQ(ReceiveBootReply(link, window, reply), -1);
  EXPECT_THAT(window.Boxes(), ElementsAre(ErrorBox("Open Err10"), ErrorBox("Open Err10")));
  EXPECT_EQ(port.WriteCalls(), 0);
  EXPECT_TRUE(port.Purges().empty());
  EXPECT_EQ(Unread(), 4U);  // nothing was read
  EXPECT_EQ(reply, Bytes(16, 0xEE));
  EXPECT_EQ(Elapsed(), 0U);
}

TEST_F(BootEntryTest, ReceiveBootReplyStoresBodyEtxAndCheckAndTellsWhetherTheyMatch) {
  struct Case {
    const char* name;
    Bytes arriving;
    Bytes stored;
    std::int16_t result;
  };
  const Case cases[] = {
      {"noise before the STX is dropped", {0x55, 0x02, 0x41, 0x42, 0x03, 0x00}, {0x41, 0x42, 0x03, 0x00}, 2},
      {"an empty body with a matching check", {0x02, 0x03, 0x03}, {0x03, 0x03}, 0},
      {"a wrong check", {0x02, 0x41, 0x42, 0x03, 0xFF}, {0x41, 0x42, 0x03, 0xFF}, 0},
      {"an STX inside the body is data", {0x02, 0x41, 0x02, 0x42, 0x03, 0x02}, {0x41, 0x02, 0x42, 0x03, 0x02}, 3},
  };
  for (const auto& c : cases) {
    Line line;
    RecordingWindow shown;
    line.port.Arrive(c.arriving);
    Bytes reply(16, 0xEE);
    EXPECT_EQ(ReceiveBootReply(line.link, shown, reply), c.result) << c.name;
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(c.stored.size())), c.stored) << c.name;
    EXPECT_EQ(reply[c.stored.size()], 0xEE) << c.name;
    EXPECT_TRUE(shown.Boxes().empty()) << c.name;
  }
}

// The STX may come 500 ms after the start; the body and ETX 1000 ms after the STX, all together; the check
// byte 1000 ms after the ETX. Exactly the limit is in time, one tick more is not.
TEST_F(BootEntryTest, ReceiveBootReplyHoldsEachLimitAndFailsOneTickPast) {
  struct Case {
    const char* name;
    std::function<void(ScriptedPort&, std::uint32_t late)> arrive;  // late: 0 on the limit, 1 past it
    std::int16_t inTimeResult;
    std::uint32_t lateElapsedMs;
  };
  const Case cases[] = {
      {"STX within 500 ms",
       [](ScriptedPort& p, std::uint32_t late) {
         p.Arrive({0x02, 0x41, 0x03, 0x42}, 500 + late);
       },
       1, 501},
      {"ETX within 1000 ms of the STX",
       [](ScriptedPort& p, std::uint32_t late) {
         p.Arrive({0x02, 0x41});
         p.Arrive({0x03, 0x42}, 1000 + late);
       },
       1, 1001},
      // Body bytes 100 ms apart: no gap is long, but the ETX comes 1000 ms after the STX.
      {"a trickling body",
       [](ScriptedPort& p, std::uint32_t late) {
         p.Arrive({0x02});
         p.Trickle(Bytes(9, 0x41), 100, 100);
         p.Arrive({0x03, 0x42}, 1000 + late);
       },
       9, 1001},
      {"check byte within 1000 ms of the ETX",
       [](ScriptedPort& p, std::uint32_t late) {
         p.Arrive({0x02, 0x41, 0x03});
         p.Arrive({0x42}, 1000 + late);
       },
       1, 1001},
  };
  for (const auto& c : cases) {
    for (const std::uint32_t late : {0U, 1U}) {
      Line line;
      RecordingWindow shown;
      c.arrive(line.port, late);
      Bytes reply(16);
      const std::int16_t result = ReceiveBootReply(line.link, shown, reply);
      if (late == 0) {
        EXPECT_EQ(result, c.inTimeResult) << c.name;
      } else {
        EXPECT_EQ(result, -1) << c.name;
        // Given up at the first tick past the limit.
        EXPECT_EQ(line.clock.NowMs() - 1000U, c.lateElapsedMs) << c.name;
      }
      EXPECT_TRUE(shown.Boxes().empty()) << c.name;
    }
  }
}

TEST_F(BootEntryTest, ReceiveBootReplyStoresOnlyWhatTheBufferHoldsButChecksEverything) {
  // Ten body bytes: 30 31 ... 39, ETX; their check is 30^...^39^03 = 02.
  const Bytes body{0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39};
  const Bytes whole = Concat({body, {0x03, 0x02}});
  struct Case {
    std::size_t bufferSize;
    std::uint8_t check;
    std::int16_t result;
  };
  const Case cases[] = {
      {0, 0x02, 10}, {3, 0x02, 10}, {11, 0x02, 10}, {12, 0x02, 10}, {3, 0x7E, 0}, {12, 0x7E, 0}, {40, 0x02, 10},
  };
  for (const auto& c : cases) {
    Line line;
    RecordingWindow shown;
    line.port.Arrive(Concat({{0x02}, body, {0x03, c.check}}));
    std::vector<std::uint8_t> reply(c.bufferSize);  // exactly this size on the heap: a store past it is caught
    EXPECT_EQ(ReceiveBootReply(line.link, shown, reply), c.result) << c.bufferSize;
    const std::size_t kept = std::min(c.bufferSize, whole.size());
    Bytes expected(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(kept));
    if (kept == whole.size()) {
      expected.back() = c.check;
    }
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(kept)), expected) << c.bufferSize;
    EXPECT_EQ(line.Unread(), 0U) << c.bufferSize;
  }
}

TEST_F(BootEntryTest, ConfirmBootLoaderSendsEnqAndAnswersAckWithEot) {
  ScriptedPeer peer(port);
  peer.Then(kAckFrame);
  EXPECT_EQ(ConfirmBootLoader(link, window), 0);
  ASSERT_EQ(port.Writes().size(), 2U);
  EXPECT_EQ(port.Writes()[0].bytes, kEnqFrame);
  EXPECT_EQ(port.Writes()[1].bytes, kEotFrame);
  EXPECT_TRUE(window.Boxes().empty());
  EXPECT_TRUE(port.Purges().empty());  // stray bytes are skipped by the Frame reader instead
}

TEST_F(BootEntryTest, ConfirmBootLoaderLetsTheFirstGoodFrameDecide) {
  struct Case {
    const char* name;
    Bytes answer;
    std::int16_t result;
    Bytes hostControls;
    const char* box;  // nullptr: none
  };
  const Case cases[] = {
      {"ACK", kAckFrame, 0, {kEnq, kEot}, nullptr},
      {"ACK with a payload", WireFrame(kAck, Bytes(248, 0x10)), 0, {kEnq, kEot}, nullptr},
      {"noise and a damaged Frame before the ACK",
       Concat({{0x55, 0x03, 0x10}, DamagedFrame(kNak), kAckFrame}),
       0,
       {kEnq, kEot},
       nullptr},
      {"NAK before an ACK", Concat({WireFrame(kNak), kAckFrame}), -1, {kEnq}, "Receive except ACK"},
      {"a data Frame", WireFrame(kStx, {0x00, 0x00, 0x00}), -1, {kEnq}, "Receive except ACK"},
      {"EOT", kEotFrame, -1, {kEnq}, "Receive except ACK"},
      {"nothing", {}, -1, {kEnq}, "ACK receive timeout"},
      {"only a damaged ACK", DamagedFrame(kAck), -1, {kEnq}, "ACK receive timeout"},
  };
  for (const auto& c : cases) {
    Line line;
    RecordingWindow shown;
    ScriptedPeer peer(line.port);
    peer.Then(c.answer);
    EXPECT_EQ(ConfirmBootLoader(line.link, shown), c.result) << c.name;
    Bytes controls;
    for (const auto& frame : ParseFrames(line.port.WrittenBytes())) {
      controls.push_back(frame.control);
    }
    EXPECT_EQ(controls, c.hostControls) << c.name;
    if (c.box == nullptr) {
      EXPECT_TRUE(shown.Boxes().empty()) << c.name;
    } else {
      EXPECT_THAT(shown.Boxes(), ElementsAre(ErrorBox(c.box))) << c.name;
    }
  }
}

TEST_F(BootEntryTest, ConfirmBootLoaderWaitsExactly1000MsForTheAck) {
  struct Case {
    std::uint32_t delayMs;
    std::uint32_t gapMs;
    std::int16_t result;
  };
  const Case cases[] = {
      {1000, 0, 0},
      {1001, 0, -1},
      // A Frame read started in time counts even when the Frame ends after the limit.
      {1000, 1, 0},
  };
  for (const auto& c : cases) {
    Line line;
    RecordingWindow shown;
    ScriptedPeer peer(line.port);
    peer.Then(kAckFrame, c.delayMs, c.gapMs);
    EXPECT_EQ(ConfirmBootLoader(line.link, shown), c.result) << c.delayMs << "/" << c.gapMs;
    if (c.result < 0) {
      EXPECT_THAT(shown.Boxes(), ElementsAre(ErrorBox("ACK receive timeout")));
      EXPECT_EQ(line.clock.NowMs() - 1000U, 10U + 1001U);  // the ENQ write's settle, then the limit
      EXPECT_EQ(line.port.Writes().size(), 1U);
    }
  }
}

// The whole handshake as both callers run it, twice in a row as an update does.
TEST_F(BootEntryTest, AHandshakeOnTheWire) {
  ScriptedPeer peer(port);
  for (int run = 0; run < 2; ++run) {
    peer.Silent().Silent().Then({0x02, 0x4F, 0x4B, 0x03, 0x07}).Then(kAckFrame);
  }
  for (int run = 0; run < 2; ++run) {
    Bytes reply(16);
    ASSERT_EQ(SendBootId(link, window), 0);
    EXPECT_EQ(ReceiveBootReply(link, window, reply), 2);
    EXPECT_EQ(ConfirmBootLoader(link, window), 0);
  }
  const Bytes once = Concat({kIdMessage, kEnqFrame, kEotFrame});
  EXPECT_EQ(port.WrittenBytes(), Concat({once, once}));
  EXPECT_TRUE(window.Boxes().empty());
}

TEST_F(BootEntryTest, AWrongCheckStillLeadsToTheEnquiry) {
  ScriptedPeer peer(port);
  peer.Silent().Silent().Then({0x02, 0x4F, 0x4B, 0x03, 0x00}).Then(kAckFrame);
  Bytes reply(16);
  ASSERT_EQ(SendBootId(link, window), 0);
  EXPECT_EQ(ReceiveBootReply(link, window, reply), 0);
  EXPECT_EQ(ConfirmBootLoader(link, window), 0);
  EXPECT_EQ(port.WrittenBytes(), Concat({kIdMessage, kEnqFrame, kEotFrame}));
}

TEST_F(BootEntryTest, NoControllerAttached) {
  Bytes reply(16);
  EXPECT_EQ(SendBootId(link, window), 0);
  EXPECT_EQ(Elapsed(), 30U);
  EXPECT_EQ(ReceiveBootReply(link, window, reply), -1);
  EXPECT_EQ(Elapsed(), 30U + 501U);
  EXPECT_EQ(ConfirmBootLoader(link, window), -1);
  EXPECT_EQ(Elapsed(), 30U + 501U + 10U + 1001U);
  EXPECT_THAT(window.Boxes(), ElementsAre(ErrorBox("ACK receive timeout")));
  EXPECT_EQ(port.WrittenBytes(), Concat({kIdMessage, kEnqFrame}));
}

}  // namespace
}  // namespace fwu::test
