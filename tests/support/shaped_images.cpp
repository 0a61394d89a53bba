#include "support/shaped_images.h"

#include "support/image_builder.h"

namespace fwu::test {

namespace {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kDle = 0x10;
constexpr std::uint32_t kBlock = 256;
// The main image's text pointers (little-endian controller addresses) and where their texts sit.
constexpr std::uint32_t kModelNamePointer = 0x1010;
constexpr std::uint32_t kVersionPointer = 0x1014;
constexpr std::uint32_t kMainBase = 0xFFF80000;
constexpr std::uint32_t kModelNameAt = 0x1100;
constexpr std::uint32_t kVersionAt = 0x1120;

}  // namespace

ShapedImages SmallShapedImages() {
  ImageBuilder main(std::size_t{20} * kBlock);
  for (std::uint32_t i = 0; i < kBlock; ++i) {
    main.Byte(i, static_cast<std::uint8_t>(i % 5 == 0 ? kDle : i));  // block 0: every fifth byte doubled
  }
  main.Byte(4 * kBlock - 1, 0x00);  // block 3: only its last byte
  main.U32le(kModelNamePointer, kMainBase + kModelNameAt).U32le(kVersionPointer, kMainBase + kVersionAt);
  main.Text(kModelNameAt, "SHAPED-1").Text(kVersionAt, "2.34");  // block 17; the pointers sit in block 16
  main.Byte(20 * kBlock - 1, kStx);                              // block 19, the image's last

  ImageBuilder second(std::size_t{3} * kBlock);
  second.Byte(0, kDle).Byte(1, kDle).Byte(3 * kBlock - 2, kEtx);  // blocks 0 and 2
  return {main.Bytes(), second.Bytes()};
}

}  // namespace fwu::test
