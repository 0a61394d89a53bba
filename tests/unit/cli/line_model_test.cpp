#include "cli/line_model.h"

#include <gtest/gtest.h>

#include "support/image_builder.h"

namespace fwu::cli {
namespace {

// The carried images against the benchmark's reference run: the bytes fwsim logged on the line both ways, and
// the floor it worked out (82.233 s, of which 0.125 s was the simulated controller's own reaction).
TEST(LineModelTest, TheCarriedImagesMatchTheBenchmarksLine) {
  const LineModel model(CarriedImages(), kKindTwoImages, 4);
  EXPECT_EQ(model.Steps(), 2304U);
  EXPECT_EQ(model.SentBlocks(), 79U + 407U);
  EXPECT_EQ(model.BytesToController(), 156009U);
  EXPECT_EQ(model.BytesFromController(), 11890U);
  EXPECT_NEAR(model.TotalSeconds(), 82.233 - 0.125, 0.05);
  EXPECT_EQ(LineModel(CarriedImages(), kKindMainOnly, 4).Steps(), 2048U);
}

TEST(LineModelTest, TimeLeftFallsWithEverySentBlockAndNotWithBlankOnes) {
  test::ImageBuilder main(kMainImageSize);
  test::ImageBuilder second(kSecondImageSize);
  main.Byte(0, 0x00).Byte(5 * 256 + 255, 0x10);
  second.Byte(255 * 256, 0x00);
  const FirmwareImages images{main.Bytes(), second.Bytes()};
  const LineModels models(images, 4);
  const LineModel& two = models.ForKind(kKindTwoImages);
  const LineModel& one = models.ForKind(kKindMainOnly);
  EXPECT_EQ(&one, &models.mainOnly);
  EXPECT_EQ(two.SentBlocks(), 3U);
  EXPECT_EQ(one.SentBlocks(), 2U);
  // Blank positions cost nothing; the 1000 ms after 08 00 lies between the two regions.
  EXPECT_DOUBLE_EQ(two.RemainingSeconds(1), two.RemainingSeconds(255));
  EXPECT_GT(two.RemainingSeconds(256) - two.RemainingSeconds(257), 1.0);
  EXPECT_GT(two.RemainingSeconds(255), two.RemainingSeconds(256));
  EXPECT_DOUBLE_EQ(two.RemainingSeconds(256 + 6), two.RemainingSeconds(2304));
  EXPECT_GT(two.RemainingSeconds(2304), 0.0);  // 05 00 and 07 00 are still to come
}

}  // namespace
}  // namespace fwu::cli
