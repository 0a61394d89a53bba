#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fwsim_process.h"
#include "support/image_builder.h"
#include "update/images.h"

namespace fwu::test {

// Image files in a test's folder whose first mainBlocks and secondBlocks blocks are sent, with the texts the
// checks ask for (model "KX-7", version "0213"): small images make a whole update over a terminal take seconds.
struct ImageFiles {
  static constexpr std::uint32_t kBlock = 256;

  ImageFiles(const TempDir& dir, std::uint32_t mainBlocks, std::uint32_t secondBlocks)
      : main(dir.Path("main.bin")), second(dir.Path("second.bin")) {
    ImageBuilder mainImage(kMainImageSize);
    ImageBuilder secondImage(kSecondImageSize);
    mainImage.U32le(kModelNamePointer, 0xFFF81020).Text(0x1020, "KX-7").U32le(kVersionPointer, 0xFFF81030);
    mainImage.Text(0x1030, "0213");
    for (std::uint32_t k = 0; k < mainBlocks; ++k) {
      mainImage.Byte(k * kBlock + 7, static_cast<std::uint8_t>(k));
    }
    for (std::uint32_t k = 0; k < secondBlocks; ++k) {
      secondImage.Byte(k * kBlock, static_cast<std::uint8_t>(k));
    }
    WriteFile(main, mainImage.Bytes());
    WriteFile(second, secondImage.Bytes());
  }
  [[nodiscard]] std::vector<std::string> Args() const { return {"--main", main, "--second", second}; }
  std::string main;
  std::string second;
};

}  // namespace fwu::test
