#include "app/progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "support/recording_window.h"

namespace fwu {
namespace {

using test::RecordingWindow;

int CountEntries(const RecordingWindow& window, const std::string& prefix) {
  const auto& log = window.Log();
  return static_cast<int>(
      std::count_if(log.begin(), log.end(), [&](const std::string& entry) { return entry.starts_with(prefix); }));
}

TEST(PercentText, IsRightAlignedInThreeThenBlankAndPercentSign) {
  EXPECT_EQ(PercentText(0), "  0 %");
  EXPECT_EQ(PercentText(7), "  7 %");
  EXPECT_EQ(PercentText(50), " 50 %");
  EXPECT_EQ(PercentText(100), "100 %");
}

TEST(ProgressStart, SetsRangeStepPositionAndZeroPercentInOrder) {
  RecordingWindow window;
  Progress progress{.totalSteps = 7, .stepsDone = 5};
  ProgressStart(window, progress, 2048);
  EXPECT_EQ(window.Log(), (std::vector<std::string>{"range:2048", "step:1", "pos:0", "text:1005:  0 %"}));
  EXPECT_EQ(progress.totalSteps, 2048U);
  EXPECT_EQ(progress.stepsDone, 0U);
}

TEST(ProgressStart, GivesTheBarOnlyTheLow16BitsOfTheCount) {
  RecordingWindow window;
  Progress progress;
  ProgressStart(window, progress, 65536 + 4464);
  EXPECT_EQ(window.Log().front(), "range:4464");
  EXPECT_EQ(progress.totalSteps, 70000U);
}

TEST(ProgressStep, ShowsTheTruncatedPercentageAtEachNamedStep) {
  struct Case {
    std::uint32_t total;
    std::uint32_t steps;
    const char* label;
  };
  const std::vector<Case> cases = {
      {2048, 1, "  0 %"},    {2048, 20, "  0 %"},   {2048, 21, "  1 %"},   {2048, 1024, " 50 %"},
      {2048, 2047, " 99 %"}, {2048, 2048, "100 %"}, {2304, 23, "  0 %"},   {2304, 24, "  1 %"},
      {2304, 2048, " 88 %"}, {2304, 2303, " 99 %"}, {2304, 2304, "100 %"},
  };
  for (const Case& c : cases) {
    RecordingWindow window;
    Progress progress;
    ProgressStart(window, progress, c.total);
    for (std::uint32_t i = 0; i < c.steps; ++i) {
      ProgressStep(window, progress);
    }
    EXPECT_EQ(window.ControlText(kIdPercentText), c.label) << c.total << " after " << c.steps;
    EXPECT_EQ(window.ProgressPos(), static_cast<int>(c.steps)) << c.total << " after " << c.steps;
    EXPECT_EQ(progress.stepsDone, c.steps);
    // The label is set on every step, also when the number stays the same.
    EXPECT_EQ(CountEntries(window, "text:1005:"), static_cast<int>(c.steps) + 1);
    EXPECT_EQ(CountEntries(window, "stepit"), static_cast<int>(c.steps));
  }
}

TEST(ProgressStep, ABarStartedAgainBeginsFromZero) {
  RecordingWindow window;
  Progress progress;
  ProgressStart(window, progress, 2048);
  for (int i = 0; i < 99; ++i) {
    ProgressStep(window, progress);
  }
  ProgressStart(window, progress, 2304);
  ProgressStep(window, progress);
  EXPECT_EQ(progress.stepsDone, 1U);
  EXPECT_EQ(window.ProgressPos(), 1);
  EXPECT_EQ(window.ControlText(kIdPercentText), "  0 %");
}

TEST(ProgressStep, AZeroStepCountDoesNotDivideByZero) {
  RecordingWindow window;
  Progress progress;
  ProgressStart(window, progress, 0);
  EXPECT_EQ(window.ControlText(kIdPercentText), "  0 %");
  // Nothing was left to do, so any step is complete.
  ProgressStep(window, progress);
  EXPECT_EQ(window.ControlText(kIdPercentText), "100 %");
  EXPECT_EQ(progress.stepsDone, 1U);
}

TEST(ProgressStep, WithoutAStartDoesNotDivideByZero) {
  RecordingWindow window;
  Progress progress;
  ProgressStep(window, progress);
  EXPECT_EQ(window.ControlText(kIdPercentText), "100 %");
}

}  // namespace
}  // namespace fwu
