#include "protocol/frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "protocol/control_chars.h"
#include "unit/protocol/link_fixture.h"

namespace fwu::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

Bytes Ascii(std::string_view text) {
  return {text.begin(), text.end()};
}

std::uint16_t CrcOf(const Bytes& data) {
  return Crc16(data.data(), static_cast<std::int32_t>(data.size()));
}

TEST(Crc16, KnownAnswers) {
  struct Case {
    const char* name;
    Bytes data;
    std::uint16_t crc;
  };
  const Case cases[] = {
      {"check string", Ascii("123456789"), 0x2189},
      {"abc", Ascii("abc"), 0x58E9},
      {"no bytes", {}, 0x0000},
      {"ACK Frame", {0x06, 0x03}, 0x664B},
      {"payload with DLEs", {0x02, 0x0A, 0x10, 0x05, 0x03, 0x10, 0x03}, 0x8CCC},
      {"low byte equal to DLE", {0x02, 0x20, 0x03}, 0xA410},
      {"ETX alone", {0x03}, 0x329B},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CrcOf(c.data), c.crc) << c.name;
  }
}

TEST(Crc16, NonPositiveLengthGivesZero) {
  const Bytes data = Ascii("123456789");
  EXPECT_EQ(Crc16(data.data(), 0), 0);
  EXPECT_EQ(Crc16(data.data(), -1), 0);
  EXPECT_EQ(Crc16(data.data(), INT32_MIN), 0);
  EXPECT_EQ(Crc16(nullptr, 0), 0);
}

// The Frames the link is built on, byte for byte.
struct WireExample {
  const char* name;
  std::uint8_t control;
  Bytes payload;
  Bytes wire;
};
const WireExample kWireExamples[] = {
    {"ACK", 0x06, {}, {0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x66}},
    {"NAK", 0x15, {}, {0x10, 0x02, 0x15, 0x10, 0x03, 0xB2, 0xD9}},
    {"EOT", 0x04, {}, {0x10, 0x02, 0x04, 0x10, 0x03, 0xFB, 0x55}},
    {"ENQ", 0x05, {}, {0x10, 0x02, 0x05, 0x10, 0x03, 0x23, 0x4C}},
    {"program-kind query", 0x02, {0x0A, 0x00}, {0x10, 0x02, 0x02, 0x0A, 0x00, 0x10, 0x03, 0x97, 0x78}},
    {"DLEs doubled, STX and ETX single",
     0x02,
     {0x0A, 0x10, 0x05, 0x03, 0x10},
     {0x10, 0x02, 0x02, 0x0A, 0x10, 0x10, 0x05, 0x03, 0x10, 0x10, 0x10, 0x03, 0xCC, 0x8C}},
    {"CRC byte equal to DLE sent single", 0x02, {0x20}, {0x10, 0x02, 0x02, 0x20, 0x10, 0x03, 0x10, 0xA4}},
    {"STX and ETX in the payload sent single",
     0x02,
     {0x02, 0x03},
     {0x10, 0x02, 0x02, 0x02, 0x03, 0x10, 0x03, 0x3D, 0x94}},
};

TEST(SendFrame, WritesEachKnownFrameInOneWrite) {
  for (const auto& example : kWireExamples) {
    Line line;
    EXPECT_EQ(SendFrame(line.link, example.control, example.payload), 0) << example.name;
    ASSERT_EQ(line.port.Writes().size(), 1U) << example.name;
    EXPECT_THAT(line.port.Writes()[0].bytes, ElementsAreArray(example.wire)) << example.name;
    EXPECT_THAT(line.clock.Sleeps(), ElementsAre(10U)) << example.name;  // the settle pause of every write
  }
}

TEST(SendFrame, BuildsTheLongestPayloadOfDlesAndRefusesOneByteMore) {
  Line line;
  const Bytes allDle(296, 0x10);
  SendFrame(line.link, kStx, allDle);
  ASSERT_EQ(line.port.Writes().size(), 1U);
  EXPECT_EQ(line.port.Writes()[0].bytes.size(), 599U);
  EXPECT_EQ(line.port.Writes()[0].bytes, WireFrame(kStx, allDle));

  Line refused;
  const Bytes tooLong(297, 0x41);
  EXPECT_EQ(SendFrame(refused.link, kStx, tooLong), 0);
  EXPECT_EQ(refused.port.WriteCalls(), 0);
  EXPECT_TRUE(refused.clock.Sleeps().empty());
}

TEST(SendFrame, ReportsNothingWhenTheWriteFails) {
  Line line;
  for (int call = 1; call <= 5; ++call) {
    line.port.ScriptWrite(call, {false, 0});
  }
  EXPECT_EQ(SendFrame(line.link, kAck, {}), 0);
  EXPECT_EQ(line.port.WriteCalls(), 5);
}

class ReceiveFrameTest : public LinkTest {
 protected:
  std::int16_t Receive(std::int16_t capacity = 280) { return ReceiveFrame(link, control, payload, capacity); }

  std::uint8_t control = 0xEE;
  Bytes payload = Bytes(278, 0xAA);
};

TEST_F(ReceiveFrameTest, ReceivesEachKnownFrame) {
  for (const auto& example : kWireExamples) {
    port.Arrive(example.wire);
    std::fill(payload.begin(), payload.end(), 0xAA);
    ASSERT_EQ(Receive(), static_cast<std::int16_t>(example.payload.size())) << example.name;
    EXPECT_EQ(control, example.control) << example.name;
    EXPECT_TRUE(std::equal(example.payload.begin(), example.payload.end(), payload.begin())) << example.name;
    // Nothing past the payload is touched: an empty payload leaves the buffer as it was.
    EXPECT_EQ(payload[example.payload.size()], 0xAA) << example.name;
  }
  EXPECT_EQ(Unread(), 0U);
  EXPECT_EQ(Elapsed(), 0U);
}

TEST_F(ReceiveFrameTest, BadStartsGiveNoFrame) {
  struct Case {
    const char* name;
    Bytes arriving;
    std::size_t leftUnread;
  };
  const Bytes ack = WireFrame(kAck);
  const Case cases[] = {
      // One byte is consumed and dropped; the ACK behind it stays for the next poll.
      {"stray byte before the Frame", Concat({{0x55}, ack}), ack.size()},
      {"DLE followed by neither DLE nor STX", Concat({{0x10, 0x05}, ack}), ack.size()},
      {"DLE ETX in place of DLE STX", Concat({{0x10, 0x03}, ack}), ack.size()},
  };
  for (const auto& c : cases) {
    Line line;
    std::uint8_t got = 0xEE;
    EXPECT_EQ(ReceiveFrame(line.link, got, payload, 280), kFrameNone) << c.name;
    EXPECT_EQ(got, 0xEE) << c.name;
    EXPECT_EQ(line.Unread(), 0U) << c.name << " (nothing had arrived yet)";
    line.port.Arrive(c.arriving);
    EXPECT_EQ(ReceiveFrame(line.link, got, payload, 280), kFrameNone) << c.name;
    EXPECT_EQ(line.Unread(), c.leftUnread) << c.name;
    EXPECT_EQ(ReceiveFrame(line.link, got, payload, 280), 0) << c.name;
    EXPECT_EQ(got, kAck) << c.name;
  }
}

TEST_F(ReceiveFrameTest, NothingArrivingReturnsAtOnce) {
  EXPECT_EQ(Receive(), kFrameNone);
  EXPECT_EQ(Elapsed(), 1U);  // one empty read
  EXPECT_EQ(control, 0xEE);
}

TEST_F(ReceiveFrameTest, SkipsExtraDlesBeforeTheStx) {
  port.Arrive({0x10, 0x10, 0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x66});
  EXPECT_EQ(Receive(), 0);
  EXPECT_EQ(control, kAck);
}

TEST_F(ReceiveFrameTest, TakesAByteAfterDleAsDataAndALoneEtxAsData) {
  // On the wire the payload 0A 05 03 travels as 0A 10 05 03: the DLE is dropped, the lone ETX is data.
  Bytes wire = WireFrame(kStx, {0x0A, 0x05, 0x03});
  wire.insert(wire.begin() + 4, 0x10);
  port.Arrive(wire);
  ASSERT_EQ(Receive(), 3);
  EXPECT_THAT(Bytes(payload.begin(), payload.begin() + 3), ElementsAre(0x0A, 0x05, 0x03));
}

TEST_F(ReceiveFrameTest, AFrameWithoutControlByteSetsTheEtxAsControlAndGivesNoFrame) {
  port.Arrive({0x10, 0x02, 0x10, 0x03, 0x9B, 0x32});
  EXPECT_EQ(Receive(), kFrameNone);
  EXPECT_EQ(control, 0x03);
  EXPECT_EQ(payload[0], 0xAA);
}

TEST_F(ReceiveFrameTest, AWrongCrcLeavesTheOutputsAsTheyWere) {
  port.Arrive(DamagedFrame(kStx, Bytes{0x01, 0x02}));
  EXPECT_EQ(Receive(), kFrameCrcError);
  EXPECT_EQ(control, 0xEE);
  EXPECT_EQ(payload[0], 0xAA);
  EXPECT_EQ(Unread(), 0U);
}

TEST_F(ReceiveFrameTest, AcceptsContentOfExactlyTheCapacityAndStopsAtOneByteMore) {
  const Bytes five{0x0A, 0x00, 0x01, 0x02, 0x03};
  const Bytes wire = WireFrame(kStx, five);
  struct Case {
    std::int16_t capacity;
    std::int16_t result;
    std::size_t leftUnread;
  };
  const Case cases[] = {
      {7, 5, 0},
      {6, kFrameOverflow, 2},  // stops at the ETX; the CRC stays queued
      {5, kFrameOverflow, 4},  // stops at the last payload byte; DLE ETX and the CRC stay queued
  };
  for (const auto& c : cases) {
    Line line;
    line.port.Arrive(wire);
    std::uint8_t got = 0xEE;
    Bytes out(5, 0xAA);
    EXPECT_EQ(ReceiveFrame(line.link, got, out, c.capacity), c.result) << c.capacity;
    EXPECT_EQ(line.Unread(), c.leftUnread) << c.capacity;
    if (c.result < 0) {
      EXPECT_EQ(got, 0xEE) << c.capacity;
      EXPECT_EQ(out, Bytes(5, 0xAA)) << c.capacity;
    } else {
      EXPECT_EQ(out, five);
    }
  }
}

// Whatever capacity a caller passes, nothing is stored past the buffer it gives: the buffers here are exactly
// their size on the heap, so AddressSanitizer stops any such store.
TEST(ReceiveFrameBounds, NeverStoresPastTheCallersBuffer) {
  const std::int16_t capacities[] = {-5, 0, 1, 2, 3, 10, 20, 250, 599, 600, 601, 32767};
  const std::size_t bufferSizes[] = {0, 1, 8, 598, 700};
  const std::size_t payloadSizes[] = {0, 1, 8, 9, 300, 598, 599, 650};
  for (const std::int16_t capacity : capacities) {
    for (const std::size_t bufferSize : bufferSizes) {
      for (const std::size_t payloadSize : payloadSizes) {
        Line line;
        Bytes sent(payloadSize);
        for (std::size_t i = 0; i < payloadSize; ++i) {
          sent[i] = static_cast<std::uint8_t>(i * 7);  // DLEs, STXs and ETXs among them
        }
        line.port.Arrive(WireFrame(kStx, sent));
        std::vector<std::uint8_t> out(bufferSize);
        std::uint8_t got = 0;
        // The content bound of the receiver's own working buffer is 600 bytes, whatever the capacity.
        const auto content = static_cast<std::int64_t>(payloadSize) + 2;
        const bool fits = content <= std::min<std::int64_t>(capacity, 600) && payloadSize <= bufferSize;
        const std::int16_t expected = fits ? static_cast<std::int16_t>(payloadSize) : kFrameOverflow;
        ASSERT_EQ(ReceiveFrame(line.link, got, out, capacity), expected)
            << "capacity " << capacity << " buffer " << bufferSize << " payload " << payloadSize;
        if (fits) {
          EXPECT_TRUE(std::equal(sent.begin(), sent.end(), out.begin()));
        }
      }
    }
  }
}

// Every wait inside a Frame allows 1000 ms: exactly 1000 is still in time, 1001 is a lost Frame.
TEST(ReceiveFrameTiming, EachByteGapHoldsAtItsLimitAndFailsOneTickPast) {
  const Bytes wire = WireFrame(kStx, {0x0A, 0x00});  // 10 02 02 0A 00 10 03 97 78
  struct Gap {
    const char* name;
    std::size_t before;  // the pause comes before this byte of the wire
  };
  const Gap gaps[] = {
      {"between DLE and STX", 1},        {"before the control byte", 2}, {"between two payload bytes", 4},
      {"before the end marker", 5},      {"between DLE and ETX", 6},     {"before the first CRC byte", 7},
      {"before the second CRC byte", 8},
  };
  for (const auto& gap : gaps) {
    for (const std::uint32_t pause : {1000U, 1001U}) {
      Line line;
      const Bytes head(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(gap.before));
      const Bytes tail(wire.begin() + static_cast<std::ptrdiff_t>(gap.before), wire.end());
      line.port.Arrive(head);
      line.port.Arrive(tail, pause);
      std::uint8_t got = 0;
      Bytes out(2);
      const std::int16_t result = ReceiveFrame(line.link, got, out, 280);
      if (pause == 1000) {
        EXPECT_EQ(result, 2) << gap.name;
        EXPECT_EQ(out, Bytes({0x0A, 0x00})) << gap.name;
      } else {
        EXPECT_EQ(result, kFrameNone) << gap.name;
        EXPECT_EQ(line.clock.NowMs(), 1000U + 1001U) << gap.name;  // given up at the first tick past the limit
      }
    }
  }
}

TEST(ReceiveFrameTiming, AnEscapingDleDoesNotRenewTheByteClock) {
  // 0A at 0 ms, the escaping DLE at 600 ms, the escaped DLE at 1001 ms: 1001 ms after the last stored byte.
  for (const std::uint32_t last : {1000U, 1001U}) {
    Line line;
    line.port.Arrive({0x10, 0x02, 0x02, 0x0A});
    line.port.Arrive({0x10}, 600);
    line.port.Arrive(Bytes{0x10, 0x10, 0x03, 0x06, 0xED}, last);
    std::uint8_t got = 0;
    Bytes out(2);
    const std::int16_t result = ReceiveFrame(line.link, got, out, 280);
    if (last == 1000) {
      EXPECT_EQ(result, 2);
      EXPECT_EQ(out, Bytes({0x0A, 0x10}));
    } else {
      EXPECT_EQ(result, kFrameNone);
    }
  }
}

}  // namespace
}  // namespace fwu::test
