#include "serial/write_bytes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

#include "support/scripted_port.h"
#include "support/virtual_clock.h"

namespace fwu {
namespace {

using test::ScriptedPort;
using test::VirtualClock;
using ::testing::ElementsAreArray;

constexpr std::uint32_t kStartMs = 1000;

std::vector<std::uint8_t> Payload(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0x40});
  return bytes;
}

struct WriteCase {
  std::string name;
  bool open = true;
  std::map<int, WriteOutcome> script;  // write call number -> what that call does
  std::uint32_t expectedResult = 0;
  std::vector<std::uint32_t> expectedCallTimes;  // virtual time of every write call
  std::size_t expectedOnWire = 0;                // how much of the payload reached the line, in order
};

void PrintTo(const WriteCase& c, std::ostream* out) {
  *out << c.name;
}

class WriteBytesCases : public ::testing::TestWithParam<WriteCase> {};

constexpr std::size_t kPayloadSize = 8;

TEST_P(WriteBytesCases, RetriesOnlyEmptyAttemptsAndCompletesPartialWrites) {
  const WriteCase& c = GetParam();
  VirtualClock clock(kStartMs);
  ScriptedPort port(clock, c.open);
  for (const auto& [call, outcome] : c.script) {
    port.ScriptWrite(call, outcome);
  }
  Link link{port, clock};
  const auto payload = Payload(kPayloadSize);

  EXPECT_EQ(WriteBytes(link, payload), c.expectedResult);

  std::vector<std::uint32_t> callTimes;
  for (const auto& record : port.Writes()) {
    callTimes.push_back(record.atMs);
  }
  EXPECT_THAT(callTimes, ElementsAreArray(c.expectedCallTimes));
  const std::vector<std::uint8_t> onWire(payload.begin(), payload.begin() + static_cast<long>(c.expectedOnWire));
  EXPECT_THAT(port.WrittenBytes(), ElementsAreArray(onWire));
  // Nothing is waited for after the last attempt.
  EXPECT_EQ(clock.NowMs(), c.expectedCallTimes.back());
}

constexpr WriteOutcome kEmpty{true, 0};
constexpr WriteOutcome kFailed{false, 0};

INSTANTIATE_TEST_SUITE_P(
    WriteBytes, WriteBytesCases,
    ::testing::Values(
        WriteCase{"WholeFrameInOneCall", true, {}, 8, {1010}, 8},
        WriteCase{"EveryCallSucceedsWithNothing",
                  true,
                  {{1, kEmpty}, {2, kEmpty}, {3, kEmpty}, {4, kEmpty}, {5, kEmpty}},
                  1,
                  {1010, 1110, 1210, 1310, 1410},
                  0},
        WriteCase{"ClosedPort", false, {}, 0, {1010, 1110, 1210, 1310, 1410}, 0},
        // The result after five empty attempts follows the last one alone.
        WriteCase{"FailuresThenLastSucceedsEmpty",
                  true,
                  {{1, kFailed}, {2, kFailed}, {3, kFailed}, {4, kFailed}, {5, kEmpty}},
                  1,
                  {1010, 1110, 1210, 1310, 1410},
                  0},
        WriteCase{"EmptiesThenLastFails",
                  true,
                  {{1, kEmpty}, {2, kEmpty}, {3, kEmpty}, {4, kEmpty}, {5, kFailed}},
                  0,
                  {1010, 1110, 1210, 1310, 1410},
                  0},
        WriteCase{"FifthAttemptGetsThrough",
                  true,
                  {{1, kFailed}, {2, kEmpty}, {3, kFailed}, {4, kEmpty}},
                  8,
                  {1010, 1110, 1210, 1310, 1410},
                  8},
        // The rest of a partial write follows at once, and exactly the rest.
        WriteCase{"PartialWriteCompleted", true, {{1, {true, 3}}}, 8, {1010, 1010}, 8},
        WriteCase{"PartialWritesInThreeSteps", true, {{1, {true, 3}}, {2, {true, 4}}}, 8, {1010, 1010, 1010}, 8},
        // A call that reports failure after the driver took bytes: they are not sent a second time.
        WriteCase{"FailedCallThatTookBytes", true, {{1, {false, 3}}}, 8, {1010, 1010}, 8},
        // A line that stalls after a partial write: five more empty attempts, then the count that got out.
        WriteCase{"StallAfterPartialWrite",
                  true,
                  {{1, {true, 3}}, {2, kEmpty}, {3, kEmpty}, {4, kEmpty}, {5, kEmpty}, {6, kFailed}},
                  3,
                  {1010, 1010, 1110, 1210, 1310, 1410},
                  3},
        // Empty attempts are counted over the whole call: progress in between does not start the count afresh.
        WriteCase{"EmptyAttemptsCountAcrossProgress",
                  true,
                  {{1, kEmpty}, {2, {true, 2}}, {3, kEmpty}, {4, {true, 2}}, {5, kFailed}, {6, kEmpty}, {7, kEmpty}},
                  4,
                  {1010, 1110, 1110, 1210, 1210, 1310, 1410},
                  4}),
    [](const ::testing::TestParamInfo<WriteCase>& param) { return param.param.name; });

TEST(WriteBytes, WaitsTenMsBeforeTheFirstAttemptAndAHundredBetweenEmptyOnes) {
  VirtualClock clock(kStartMs);
  ScriptedPort port(clock, false);
  Link link{port, clock};

  EXPECT_EQ(WriteBytes(link, Payload(4)), 0U);

  EXPECT_THAT(clock.Sleeps(), ElementsAreArray({10U, 100U, 100U, 100U, 100U}));
  EXPECT_EQ(port.WriteCalls(), 5);
}

TEST(WriteBytes, LongFrameTakenInPiecesArrivesWhole) {
  VirtualClock clock(kStartMs);
  ScriptedPort port(clock);
  Link link{port, clock};
  const auto frame = Payload(300);
  for (int call = 1; call <= 5; ++call) {
    port.ScriptWrite(call, {true, 64});
  }

  EXPECT_EQ(WriteBytes(link, frame), 300U);

  EXPECT_THAT(port.WrittenBytes(), ElementsAreArray(frame));
  EXPECT_EQ(port.WriteCalls(), 5);
  EXPECT_EQ(port.Writes().back().bytes.size(), 300U - 4 * 64);
}

}  // namespace
}  // namespace fwu
