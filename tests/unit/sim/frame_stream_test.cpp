#include "sim/frame_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/wire.h"

namespace fwu::sim {
namespace {

using test::Bytes;
using Outcome = ReceivedFrame::Outcome;

std::vector<ReceivedFrame> ReadAll(const Bytes& wire, TimeUs stepUs = 0) {
  FrameReader reader;
  std::vector<ReceivedFrame> frames;
  TimeUs at = 0;
  for (const std::uint8_t byte : wire) {
    if (auto expired = reader.Expire(at)) {
      frames.push_back(*expired);
    }
    if (auto frame = reader.Push(byte, at)) {
      frames.push_back(*frame);
    }
    at += stepUs;
  }
  return frames;
}

TEST(SimFrames, EncodeKnownAnswers) {
  const struct {
    std::uint8_t control;
    Bytes payload;
    Bytes wire;
  } cases[] = {
      {0x06, {}, {0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x66}},
      {0x04, {}, {0x10, 0x02, 0x04, 0x10, 0x03, 0xFB, 0x55}},
      {0x02, {0x0A, 0x00}, {0x10, 0x02, 0x02, 0x0A, 0x00, 0x10, 0x03, 0x97, 0x78}},
      // The CRC's low byte is a DLE and goes out single.
      {0x02, {0x20}, {0x10, 0x02, 0x02, 0x20, 0x10, 0x03, 0x10, 0xA4}},
      // A payload DLE is doubled; STX and ETX in the payload are not.
      {0x02, {0x0A, 0x00, 0x00, 0x10}, {0x10, 0x02, 0x02, 0x0A, 0x00, 0x00, 0x10, 0x10, 0x10, 0x03, 0xF4, 0xE3}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeFrame(c.control, c.payload), c.wire);
    EXPECT_EQ(EncodeFrame(c.control, c.payload), test::WireFrame(c.control, c.payload));
  }
  const Bytes damaged = EncodeFrame(0x06, {}, true);
  ASSERT_EQ(damaged.size(), 7U);
  EXPECT_NE(damaged[5] | damaged[6] << 8U, 0x664B);
}

TEST(SimFrames, ReadsFramesAmongNoise) {
  const Bytes payload{0x10, 0x02, 0x03, 0x10, 0x10, 0xFF};
  // Noise, two extra DLEs before the Frame's own DLE STX, the Frame, a DLE followed by noise, another Frame.
  const Bytes wire =
      test::Concat({{0x41, 0x03, 0x10, 0x10}, test::WireFrame(0x02, payload), {0x10, 0x41}, test::WireFrame(0x04)});
  const auto frames = ReadAll(wire);
  ASSERT_EQ(frames.size(), 2U);
  EXPECT_EQ(frames[0].outcome, Outcome::Good);
  EXPECT_EQ(frames[0].control, 0x02);
  EXPECT_EQ(frames[0].payload, payload);
  EXPECT_EQ(frames[0].wireLength, 18U);
  EXPECT_EQ(frames[1].outcome, Outcome::Good);
  EXPECT_EQ(frames[1].control, 0x04);
  EXPECT_TRUE(frames[1].payload.empty());
}

TEST(SimFrames, UndoublesALoneDleLikeTheHost) {
  // 10 05 inside the content is taken as the single byte 05.
  auto wire = test::WireFrame(0x02, {0x05});
  wire.insert(wire.begin() + 3, 0x10);
  const auto frames = ReadAll(wire);
  ASSERT_EQ(frames.size(), 1U);
  EXPECT_EQ(frames[0].outcome, Outcome::Good);
  EXPECT_EQ(frames[0].payload, Bytes{0x05});
}

TEST(SimFrames, ReportsDamageMissingControlOverrunAndSilence) {
  auto frames = ReadAll(test::DamagedFrame(0x02, Bytes{0x0A, 0x00}));
  ASSERT_EQ(frames.size(), 1U);
  EXPECT_EQ(frames[0].outcome, Outcome::BadCrc);
  EXPECT_EQ(frames[0].control, 0x02);

  // 10 02 10 03 and the CRC of the ETX alone (0x329B): no control byte.
  frames = ReadAll({0x10, 0x02, 0x10, 0x03, 0x9B, 0x32});
  ASSERT_EQ(frames.size(), 1U);
  EXPECT_EQ(frames[0].outcome, Outcome::NoControl);

  // Content of exactly the limit is taken; one byte more is an overrun.
  Bytes fits(kMaxFrameContent - 2, 0x41);
  frames = ReadAll(test::WireFrame(0x02, fits));
  ASSERT_EQ(frames.size(), 1U);
  EXPECT_EQ(frames[0].outcome, Outcome::Good);
  fits.push_back(0x41);
  frames = ReadAll(test::WireFrame(0x02, fits));
  ASSERT_EQ(frames.size(), 1U);
  EXPECT_EQ(frames[0].outcome, Outcome::Overrun);

  // A gap of exactly a second inside a Frame is still in time; one microsecond more abandons it.
  frames = ReadAll(test::WireFrame(0x06), kFrameGapUs);
  ASSERT_EQ(frames.size(), 1U);
  EXPECT_EQ(frames[0].outcome, Outcome::Good);
  frames = ReadAll(test::WireFrame(0x06), kFrameGapUs + 1);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0].outcome, Outcome::Truncated);
}

}  // namespace
}  // namespace fwu::sim
