#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/image_builder.h"
#include "update/images.h"

namespace fwu {
namespace {

std::size_t BlankBlocks(std::span<const std::uint8_t> image) {
  std::size_t blank = 0;
  for (std::size_t at = 0; at < image.size(); at += 256) {
    const auto block = image.subspan(at, 256);
    blank += std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0xFF; }) ? 1 : 0;
  }
  return blank;
}

std::string TagAt(std::span<const std::uint8_t> image) {
  return {image.begin() + 0x1000, image.begin() + 0x1004};
}

TEST(CarriedImages, HaveTheirSizesTagsAndBlankBlocks) {
  EXPECT_EQ(MainImage().size(), 524288U);
  EXPECT_EQ(SecondImage().size(), 65536U);
  EXPECT_EQ(TagAt(MainImage()), "KX42");
  EXPECT_EQ(TagAt(SecondImage()), "KX42");
  EXPECT_EQ(BlankBlocks(MainImage()), 1641U);
  EXPECT_EQ(BlankBlocks(SecondImage()), 177U);
}

TEST(CarriedImages, ExerciseEscapingAndALastByteOnlyBlock) {
  const auto main = MainImage();
  const auto count = [&](std::uint8_t value) { return std::count(main.begin(), main.end(), value); };
  EXPECT_GT(count(0x10), 10000);
  EXPECT_GT(count(0x02), 5000);
  EXPECT_GT(count(0x03), 5000);
  // The last block holds one programmed byte, at its very end.
  const auto last = main.subspan(0x7FF00, 256);
  EXPECT_TRUE(std::all_of(last.begin(), last.end() - 1, [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_NE(last.back(), 0xFF);
}

TEST(CarriedImages, CarryAModelNameAndAFourDigitVersion) {
  ASSERT_TRUE(CarriedModelName().has_value());
  EXPECT_FALSE(CarriedModelName()->empty());
  ASSERT_TRUE(CarriedVersion().has_value());
  const std::string version = *CarriedVersion();
  EXPECT_EQ(version.size(), 4U);
  EXPECT_TRUE(std::all_of(version.begin(), version.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

TEST(ImageText, MapsControllerAddressesToImageOffsets) {
  struct Case {
    std::uint32_t pointer;
    std::uint32_t textOffset;
  };
  for (const Case c : {Case{0xFFF80000, 0}, Case{0xFFFFFFF0, 0x7FFF0}, Case{0xFFF81020, 0x1020}}) {
    test::ImageBuilder image(kMainImageSize);
    image.U32le(kVersionPointer, c.pointer).Text(c.textOffset, "0213");
    EXPECT_EQ(ImageText(image.Bytes(), kVersionPointer), "0213") << std::hex << c.pointer;
  }
}

TEST(ImageText, IsAbsentWhenErasedOutsideOrUnterminated) {
  test::ImageBuilder erased(kMainImageSize);
  erased.U32le(kModelNamePointer, 0xFFF82000);  // points at 0xFF
  EXPECT_EQ(ImageText(erased.Bytes(), kModelNamePointer), std::nullopt);

  test::ImageBuilder below(kMainImageSize);
  below.U32le(kModelNamePointer, 0xFFF7FFFF).Text(0x7FFFF, "", true);
  EXPECT_EQ(ImageText(below.Bytes(), kModelNamePointer), std::nullopt);

  // A text that runs to the image's last byte without a NUL: nothing past the end may be read (ASan watches).
  test::ImageBuilder unterminated(kMainImageSize);
  unterminated.U32le(kVersionPointer, 0xFFFFFFFC).Text(0x7FFFC, "1234", false);
  EXPECT_EQ(ImageText(unterminated.Bytes(), kVersionPointer), std::nullopt);

  // A text ending exactly on the last byte is still a text.
  test::ImageBuilder lastByte(kMainImageSize);
  lastByte.U32le(kVersionPointer, 0xFFFFFFFC).Text(0x7FFFC, "123", true);
  EXPECT_EQ(ImageText(lastByte.Bytes(), kVersionPointer), "123");
}

TEST(ImageText, NeverReadsOutsideAShortImage) {
  // An image too short to hold the pointer, and one whose pointer aims past its end.
  const std::vector<std::uint8_t> tiny(0x1012, 0x00);
  EXPECT_EQ(ImageText(tiny, kVersionPointer), std::nullopt);
  test::ImageBuilder shortImage(0x2000);
  shortImage.U32le(kVersionPointer, 0xFFF83000);
  EXPECT_EQ(ImageText(shortImage.Bytes(), kVersionPointer), std::nullopt);
}

}  // namespace
}  // namespace fwu
