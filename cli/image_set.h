#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/port_job.h"
#include "update/images.h"

namespace fwu::cli {

// The images an update writes: the carried ones, or the files given, read and checked before any port opens.
class ImageSet {
 public:
  // False, with one message per fault on standard error, when a file cannot be used. Warnings go there too.
  bool Load(const ImageFiles& given);
  [[nodiscard]] const FirmwareImages& Images() const { return images_; }
  [[nodiscard]] std::string CarriedVersion() const;
  // Each image, where it came from and its SHA-256, for the JSON records.
  [[nodiscard]] std::vector<ImageSource> Sources() const;

 private:
  std::vector<std::uint8_t> main_;
  std::vector<std::uint8_t> second_;
  FirmwareImages images_{};
  std::array<std::string, 2> sources_;
};

}  // namespace fwu::cli
