#include "update/embedded_images.h"
#include "update/images.h"

namespace fwu {

std::span<const std::uint8_t> MainImage() {
  return kEmbeddedMainImage;
}

std::span<const std::uint8_t> SecondImage() {
  return kEmbeddedSecondImage;
}

FirmwareImages CarriedImages() {
  return {MainImage(), SecondImage()};
}

std::optional<std::string> CarriedModelName() {
  return ImageText(MainImage(), kModelNamePointer);
}

std::optional<std::string> CarriedVersion() {
  return ImageText(MainImage(), kVersionPointer);
}

}  // namespace fwu
