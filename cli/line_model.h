#pragma once

#include <cstdint>
#include <vector>

#include "update/images.h"
#include "update/update_commands.h"

namespace fwu::cli {

// How long an update takes at the least on a 38400-baud line: every byte in both directions at 10 bits, every
// write of the updater 10 ms after what it waited for, 50 ms after its EOT of a command, 1000 ms after the
// answer to 08 00, and a controller that answers at once. The same floor the benchmark measures updates against,
// worked out before the update from the images alone, block by block, so that the time left is right from the
// first block on.
class LineModel {
 public:
  // versionLength: the length of the version text the controller is expected to report to F0 10.
  LineModel(const FirmwareImages& images, std::uint8_t programKind, std::size_t versionLength);

  // Progress steps of the update (one per block position, sent or blank): 2304 or 2048.
  [[nodiscard]] std::uint32_t Steps() const { return static_cast<std::uint32_t>(doneAt_.size() - 1); }
  [[nodiscard]] std::uint32_t SentBlocks() const { return sent_; }
  // Seconds from the first byte of the update to the last, and what is left once stepsDone steps are done.
  [[nodiscard]] double TotalSeconds() const { return total_; }
  [[nodiscard]] double RemainingSeconds(std::uint32_t stepsDone) const;
  [[nodiscard]] std::uint64_t BytesToController() const { return bytesIn_; }
  [[nodiscard]] std::uint64_t BytesFromController() const { return bytesOut_; }

 private:
  std::vector<double> doneAt_;  // [s]: seconds from the start when s steps are done
  std::uint32_t sent_ = 0;
  double total_ = 0;
  std::uint64_t bytesIn_ = 0;
  std::uint64_t bytesOut_ = 0;
};

// The models of both program kinds for one pair of images; the kind the controller reported picks a run's.
struct LineModels {
  LineModels(const FirmwareImages& images, std::size_t versionLength)
      : twoImages(images, kKindTwoImages, versionLength), mainOnly(images, kKindMainOnly, versionLength) {}
  [[nodiscard]] const LineModel& ForKind(std::uint8_t programKind) const {
    return programKind == kKindMainOnly ? mainOnly : twoImages;
  }
  LineModel twoImages;
  LineModel mainOnly;
};

// True when a 256-byte block holds anything but erased bytes (0xFF) and is therefore sent.
bool IsSentBlock(std::span<const std::uint8_t> image, std::uint32_t block);

}  // namespace fwu::cli
