#include "cli/image_set.h"

#include <cstdio>

#include "firmware_files/firmware_file.h"
#include "firmware_files/sha256.h"

namespace fwu::cli {

namespace {

void Fail(const std::string& message) {
  static_cast<void>(std::fputs(("fwupdate-cli: " + message + "\n").c_str(), stderr));
}

}  // namespace

bool ImageSet::Load(const ImageFiles& given) {
  if (!given.Given()) {
    images_ = CarriedImages();
    sources_ = {"carried", "carried"};
    return true;
  }
  firmware_files::LoadedImage main = firmware_files::LoadFirmwareFile(given.main, firmware_files::ImageKind::Main);
  firmware_files::LoadedImage second =
      firmware_files::LoadFirmwareFile(given.second, firmware_files::ImageKind::Second);
  for (const auto* loaded : {&main, &second}) {
    for (const auto& warning : loaded->warnings) {
      Fail("warning: " + warning);
    }
    for (const auto& error : loaded->errors) {
      Fail(error);
    }
  }
  if (!main.errors.empty() || !second.errors.empty()) {
    return false;
  }
  main_ = std::move(main.bytes);
  second_ = std::move(second.bytes);
  images_ = {main_, second_};
  sources_ = {given.main, given.second};
  return true;
}

std::string ImageSet::CarriedVersion() const {
  return ImageText(images_.main, kVersionPointer).value_or(std::string());
}

std::vector<ImageSource> ImageSet::Sources() const {
  return {{"main", sources_[0], firmware_files::Sha256Hex(images_.main)},
          {"second", sources_[1], firmware_files::Sha256Hex(images_.second)}};
}

}  // namespace fwu::cli
