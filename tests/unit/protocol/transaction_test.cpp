#include "protocol/transaction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "protocol/control_chars.h"
#include "unit/protocol/link_fixture.h"

namespace fwu::test {
namespace {

using ::testing::ElementsAre;

// The program-kind query and the Frames around it, as they go out on the wire.
const Bytes kQuery{0x0A, 0x00};
const Bytes kQueryFrame{0x10, 0x02, 0x02, 0x0A, 0x00, 0x10, 0x03, 0x97, 0x78};
const Bytes kAckFrame{0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x66};
const Bytes kNakFrame{0x10, 0x02, 0x15, 0x10, 0x03, 0xB2, 0xD9};
const Bytes kEotFrame{0x10, 0x02, 0x04, 0x10, 0x03, 0xFB, 0x55};

const Bytes kAnswerPayload{0x00, 0x00, 0x00, 0x20};
Bytes Answer() {
  return WireFrame(kStx, kAnswerPayload);
}
Bytes DamagedAnswer() {
  return DamagedFrame(kStx, kAnswerPayload);
}
Bytes FrameWithPayload(std::uint8_t control, std::size_t length) {
  return WireFrame(control, Bytes(length, 0x5A));
}

struct Outcome {
  std::int16_t result;
  Bytes hostControls;  // the Frames the host wrote, by control byte
  Bytes response;
  std::uint32_t elapsedMs;
};

// Runs one exchange of the query against a boot loader that answers the host's writes in turn.
Outcome Exchange(const std::vector<ScriptedPeer::Reply>& replies, std::int16_t capacity = 280) {
  Line line;
  const std::uint32_t start = line.clock.NowMs();
  ScriptedPeer peer(line.port);
  for (const auto& reply : replies) {
    peer.Then(reply.bytes, reply.delayMs, reply.gapMs);
  }
  Bytes response(static_cast<std::size_t>(capacity - 2));
  const std::int16_t result = TransactCommand(line.link, kQuery, response, capacity);
  Outcome outcome{result, {}, {}, line.clock.NowMs() - start};
  for (const auto& frame : ParseFrames(line.port.WrittenBytes())) {
    EXPECT_TRUE(frame.crcOk);
    outcome.hostControls.push_back(frame.control);
  }
  if (result >= 0) {
    outcome.response.assign(response.begin(), response.begin() + result);
  }
  return outcome;
}

TEST(TransactCommand, PutsTheExchangeOnTheWireByteForByte) {
  Line line;
  ScriptedPeer peer(line.port);
  peer.Then(kAckFrame).Then(Answer()).Then(kEotFrame);
  Bytes response(278);
  EXPECT_EQ(TransactCommand(line.link, kQuery, response, 280), 4);
  EXPECT_THAT(Bytes(response.begin(), response.begin() + 4), ElementsAre(0x00, 0x00, 0x00, 0x20));

  const auto& writes = line.port.Writes();
  ASSERT_EQ(writes.size(), 3U);
  EXPECT_EQ(writes[0].bytes, kQueryFrame);
  EXPECT_EQ(writes[1].bytes, kEotFrame);
  EXPECT_EQ(writes[2].bytes, kAckFrame);
  // Purge first; every write settles 10 ms; the line is left quiet for 50 ms after EOT.
  EXPECT_THAT(line.port.Purges(), ElementsAre(1000U));
  EXPECT_THAT(line.clock.Sleeps(), ElementsAre(10U, 10U, 50U, 10U));
  EXPECT_EQ(writes[0].atMs, 1010U);
  EXPECT_EQ(writes[1].atMs, 1020U);
  EXPECT_EQ(writes[2].atMs, 1080U);
  EXPECT_EQ(line.Unread(), 0U);
}

TEST(TransactCommand, GivesEveryResultCodeAndSendsNothingAfterAFailure) {
  struct Case {
    const char* name;
    std::vector<ScriptedPeer::Reply> replies;  // one per write of the host
    Bytes hostControls;
    std::int16_t result;
    std::int16_t capacity = 280;
  };
  const Bytes damagedAck = DamagedFrame(kAck);
  const Case cases[] = {
      {"answered in turn", {{kAckFrame}, {Answer()}, {kEotFrame}}, {kStx, kEot, kAck}, 4},
      {"one NAK, then ACK", {{kNakFrame}, {kAckFrame}, {Answer()}, {kEotFrame}}, {kStx, kStx, kEot, kAck}, 4},
      {"two NAKs, then ACK",
       {{kNakFrame}, {kNakFrame}, {kAckFrame}, {Answer()}, {kEotFrame}},
       {kStx, kStx, kStx, kEot, kAck},
       4},
      {"noise before the ACK", {{Concat({{0x55, 0x03}, kAckFrame})}, {Answer()}, {kEotFrame}}, {kStx, kEot, kAck}, 4},
      {"two damaged responses, then a good one",
       {{kAckFrame}, {DamagedAnswer()}, {DamagedAnswer()}, {Answer()}, {kEotFrame}},
       {kStx, kEot, kNak, kNak, kAck},
       4},
      {"a damaged closing Frame, then EOT",
       {{kAckFrame}, {Answer()}, {Concat({DamagedFrame(kEot), kEotFrame})}},
       {kStx, kEot, kAck},
       4},
      {"a closing EOT with 18 payload bytes",
       {{kAckFrame}, {Answer()}, {FrameWithPayload(kEot, 18)}},
       {kStx, kEot, kAck},
       4},
      {"an empty response", {{kAckFrame}, {WireFrame(kStx)}, {kEotFrame}}, {kStx, kEot, kAck}, 0},
      {"a response of capacity - 2 bytes",
       {{kAckFrame}, {FrameWithPayload(kStx, 48)}, {kEotFrame}},
       {kStx, kEot, kAck},
       48,
       50},

      {"no reply", {}, {kStx}, kAckTimeout},
      {"a damaged ACK", {{damagedAck}}, {kStx}, kAckCrcError},
      {"a data Frame instead of ACK", {{Answer()}}, {kStx}, kNotAck},
      {"EOT instead of ACK", {{kEotFrame}}, {kStx}, kNotAck},
      {"ENQ instead of ACK", {{WireFrame(kEnq)}}, {kStx}, kNotAck},
      {"the third NAK", {{kNakFrame}, {kNakFrame}, {kNakFrame}}, {kStx, kStx, kStx}, kAckRetryOver},
      {"an ACK longer than the capacity", {{FrameWithPayload(kAck, 49)}}, {kStx}, kAckOverrun, 50},
      {"no response", {{kAckFrame}}, {kStx, kEot}, kResponseTimeout},
      {"EOT instead of the response", {{kAckFrame}, {kEotFrame}}, {kStx, kEot}, kNotData},
      {"ACK instead of the response", {{kAckFrame}, {kAckFrame}}, {kStx, kEot}, kNotData},
      {"NAK instead of the response", {{kAckFrame}, {kNakFrame}}, {kStx, kEot}, kNotData},
      {"the third damaged response",
       {{kAckFrame}, {DamagedAnswer()}, {DamagedAnswer()}, {DamagedAnswer()}, {Answer()}},
       {kStx, kEot, kNak, kNak},
       kResponseRetryOver},
      {"a response one byte over the capacity",
       {{kAckFrame}, {FrameWithPayload(kStx, 49)}},
       {kStx, kEot},
       kResponseOverrun,
       50},
      {"no closing EOT", {{kAckFrame}, {Answer()}}, {kStx, kEot, kAck}, kEotTimeout},
      {"ACK instead of the closing EOT", {{kAckFrame}, {Answer()}, {kAckFrame}}, {kStx, kEot, kAck}, kNotEot},
      {"a data Frame instead of the closing EOT", {{kAckFrame}, {Answer()}, {Answer()}}, {kStx, kEot, kAck}, kNotEot},
      {"a closing EOT with 19 payload bytes",
       {{kAckFrame}, {Answer()}, {FrameWithPayload(kEot, 19)}},
       {kStx, kEot, kAck},
       kEotOverrun},
  };
  for (const auto& c : cases) {
    const Outcome outcome = Exchange(c.replies, c.capacity);
    EXPECT_EQ(outcome.result, c.result) << c.name;
    EXPECT_EQ(outcome.hostControls, c.hostControls) << c.name;
    if (c.result == static_cast<std::int16_t>(kAnswerPayload.size())) {
      EXPECT_EQ(outcome.response, kAnswerPayload) << c.name;
    }
  }
}

TEST(TransactCommand, RepeatsTheCommandFrameUnchangedAfterANak) {
  Line line;
  ScriptedPeer peer(line.port);
  peer.Then(kNakFrame).Then(kNakFrame).Then(kNakFrame);
  Bytes response(278);
  EXPECT_EQ(TransactCommand(line.link, kQuery, response, 280), kAckRetryOver);
  ASSERT_EQ(line.port.Writes().size(), 3U);
  for (const auto& write : line.port.Writes()) {
    EXPECT_EQ(write.bytes, kQueryFrame);
  }
}

TEST(TransactCommand, DiscardsWhatWaitedOnTheLineBeforeTheExchange) {
  Line line;
  line.port.Arrive(kAckFrame);  // left over from an earlier exchange
  Bytes response(278);
  EXPECT_EQ(TransactCommand(line.link, kQuery, response, 280), kAckTimeout);
  EXPECT_EQ(line.port.Writes().size(), 1U);
}

TEST(TransactCommand, ACommandTooLongForAFrameIsNeverSent) {
  Line line;
  const Bytes tooLong(297, 0x01);
  Bytes response(278);
  EXPECT_EQ(TransactCommand(line.link, tooLong, response, 280), kAckTimeout);
  EXPECT_EQ(line.port.WriteCalls(), 0);
}

// Each phase holds at exactly its limit and fails one tick past it. Host writes come 10 ms after the call that
// makes them; the ACK phase starts at the command write, the response phase 50 ms after the EOT write, the closing
// phase at the ACK write.
TEST(TransactCommand, EachPhaseHoldsAtItsLimitAndFailsOneTickPast) {
  struct Case {
    const char* name;
    std::vector<ScriptedPeer::Reply> inTime;
    std::size_t edgeReply;  // this reply lands exactly at the limit; one tick later it is too late
    Bytes lateControls;
    std::int16_t lateResult;
    std::uint32_t lateElapsedMs;  // from the call to the failure
  };
  const Case cases[] = {
      {"ACK within 1000 ms", {{kAckFrame, 1000}, {Answer()}, {kEotFrame}}, 0, {kStx}, kAckTimeout, 10 + 1001},
      // NAK at 400 ms; the repeat goes out at 410 ms; the ACK must still come by 1000 ms after the first sending.
      {"ACK after a NAK on the same clock",
       {{kNakFrame, 400}, {kAckFrame, 590}, {Answer()}, {kEotFrame}},
       1,
       {kStx, kStx},
       kAckTimeout,
       10 + 1001},
      {"response within 3000 ms of the pause",
       {{kAckFrame}, {Answer(), 50 + 3000}, {kEotFrame}},
       1,
       {kStx, kEot},
       kResponseTimeout,
       10 + 10 + 50 + 3001},
      // A damaged response at 1000 ms; the NAK goes out at 1010 ms; the answer must still come by 3000 ms.
      {"response after a NAK on the same clock",
       {{kAckFrame}, {DamagedAnswer(), 50 + 1000}, {Answer(), 1990}, {kEotFrame}},
       2,
       {kStx, kEot, kNak},
       kResponseTimeout,
       10 + 10 + 50 + 3001},
      // The ACK and a damaged response arrive together and are taken together: the response phase still starts
      // after the pause, though the NAK for the held response goes out 10 ms later.
      {"response held from the ACK phase, then a NAK",
       {{Concat({kAckFrame, DamagedAnswer()})}, {Bytes{}}, {Answer(), 2990}, {kEotFrame}},
       2,
       {kStx, kEot, kNak},
       kResponseTimeout,
       10 + 10 + 50 + 3001},
      {"closing EOT within 1000 ms",
       {{kAckFrame}, {Answer()}, {kEotFrame, 1000}},
       2,
       {kStx, kEot, kAck},
       kEotTimeout,
       10 + 10 + 50 + 10 + 1001},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Exchange(c.inTime).result, 4) << c.name;

    auto late = c.inTime;
    late[c.edgeReply].delayMs += 1;
    const Outcome outcome = Exchange(late);
    EXPECT_EQ(outcome.result, c.lateResult) << c.name;
    EXPECT_EQ(outcome.hostControls, c.lateControls) << c.name;
    EXPECT_EQ(outcome.elapsedMs, c.lateElapsedMs) << c.name;
  }
}

TEST(TransactCommand, AFrameStartedInTimeCountsThoughItEndsPastTheLimit) {
  // The ACK's DLE lands exactly at the limit; the rest trickles in 1 ms apart.
  const Outcome outcome = Exchange({{kAckFrame, 1000, 1}, {Answer()}, {kEotFrame}});
  EXPECT_EQ(outcome.result, 4);
  EXPECT_EQ(outcome.hostControls, Bytes({kStx, kEot, kAck}));
}

// The limit is tested before every Frame read, not only the first: an ACK that is waiting after the limit has
// passed is not taken.
TEST(TransactCommand, TestsTheLimitBeforeEveryFrameRead) {
  struct Case {
    const char* name;
    int lateWrite;  // the host write during which the clock runs past the limit
    std::uint32_t advanceMs;
    std::vector<Bytes> replies;
    std::int16_t result;
  };
  const Case cases[] = {
      // The repeat of the command is written at 10 ms into the ACK phase.
      {"ACK phase", 2, 991, {kNakFrame, kAckFrame}, kAckTimeout},
      // The NAK is written at 10 ms into the response phase.
      {"response phase", 3, 2991, {kAckFrame, DamagedAnswer(), Answer()}, kResponseTimeout},
  };
  for (const auto& c : cases) {
    Line line;
    std::size_t next = 0;
    line.port.OnWrite([&](ScriptedPort& port, std::span<const std::uint8_t> /*written*/) {
      if (port.WriteCalls() == c.lateWrite) {
        line.clock.Advance(c.advanceMs);
      }
      if (next < c.replies.size()) {
        port.Arrive(c.replies[next++]);
      }
    });
    Bytes response(278);
    EXPECT_EQ(TransactCommand(line.link, kQuery, response, 280), c.result) << c.name;
    EXPECT_EQ(line.Unread(), c.replies.back().size()) << c.name << ": the last reply stays unread";
  }
}

TEST(TransactCommand, AReplyDuringThePauseIsKeptForTheResponsePhase) {
  Line line;
  ScriptedPeer peer(line.port);
  peer.Then(kAckFrame).Then(Answer(), 25).Then(kEotFrame);
  Bytes response(278);
  EXPECT_EQ(TransactCommand(line.link, kQuery, response, 280), 4);
  // The answer was taken at once after the pause: the ACK went out 50 + 10 ms after the EOT.
  ASSERT_EQ(line.port.Writes().size(), 3U);
  EXPECT_EQ(line.port.Writes()[2].atMs - line.port.Writes()[1].atMs, 60U);
}

}  // namespace
}  // namespace fwu::test
