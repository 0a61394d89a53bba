#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "update/images.h"

namespace fwu::cli {

// The images an update writes: the carried ones, or the files given, read and checked before any port opens.
class ImageSet {
 public:
  // False, with one message per fault on err, when a file cannot be used.
  bool Load(const ImageFiles& given, std::FILE* err);
  [[nodiscard]] const FirmwareImages& Images() const { return images_; }
  [[nodiscard]] std::string CarriedVersion() const;

 private:
  std::vector<std::uint8_t> main_;
  std::vector<std::uint8_t> second_;
  FirmwareImages images_{};
};

}  // namespace fwu::cli
