#include "cli/image_set.h"

#include "firmware_files/firmware_file.h"

namespace fwu::cli {

bool ImageSet::Load(const ImageFiles& given, std::FILE* err) {
  if (!given.Given()) {
    images_ = CarriedImages();
    return true;
  }
  files::LoadedImage main = files::LoadFirmwareFile(given.main, files::ImageKind::Main);
  files::LoadedImage second = files::LoadFirmwareFile(given.second, files::ImageKind::Second);
  for (const auto* loaded : {&main, &second}) {
    for (const auto& error : loaded->errors) {
      static_cast<void>(std::fputs(("fwupdate-cli: " + error + "\n").c_str(), err));
    }
  }
  if (!main.errors.empty() || !second.errors.empty()) {
    return false;
  }
  main_ = std::move(main.bytes);
  second_ = std::move(second.bytes);
  images_ = {main_, second_};
  return true;
}

std::string ImageSet::CarriedVersion() const {
  return ImageText(images_.main, kVersionPointer).value_or(std::string());
}

}  // namespace fwu::cli
