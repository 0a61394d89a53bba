#include "update/update_sequence.h"

#include <algorithm>
#include <array>

#include "protocol/boot_entry.h"
#include "protocol/command_call.h"
#include "update/versions.h"

namespace fwu {

namespace {

constexpr std::size_t kBlockSize = 256;
// Erased controller memory; a block of nothing else is not sent.
constexpr std::uint8_t kErased = 0xFF;

// Command and qualifier bytes of the boot loader's command set.
constexpr std::uint8_t kBlockWrite = 0x03;
constexpr std::uint8_t kMainQualifier = 0x00;
constexpr std::uint8_t kSecondQualifier = 0x10;
constexpr std::array<std::uint8_t, 2> kProgramKindQuery{0x0A, 0x00};
constexpr std::array<std::uint8_t, 2> kPrepareSecond{0x03, 0x20};
constexpr std::array<std::uint8_t, 2> kPrepareMain{0x02, 0x00};
constexpr std::array<std::uint8_t, 2> kMainWritten{0x05, 0x00};
constexpr std::array<std::uint8_t, 3> kUpdateDone{0x07, 0x00, 0x00};
// 07 10 and 08 00 name the start of the second image's region, 0x30000, big-endian.
constexpr std::array<std::uint8_t, 6> kSecondWritten{0x07, 0x10, 0x00, 0x03, 0x00, 0x00};
constexpr std::array<std::uint8_t, 6> kSecondCommit{0x08, 0x00, 0x00, 0x03, 0x00, 0x00};

// The program-kind answer: header (device status in bytes 1-2), then the kind, and nothing more.
constexpr std::int16_t kProgramKindAnswerLength = 4;
constexpr std::size_t kProgramKindByte = 3;
constexpr std::uint8_t kKindTwoImages = 0x10;  // second image, then main image
constexpr std::uint8_t kKindMainOnly = 0x20;

struct Region {
  std::span<const std::uint8_t> image;
  std::uint8_t qualifier;
  std::uint32_t firstAddress;
  std::uint32_t blocks;
};
constexpr std::uint32_t kSecondAddress = 0x30000;
constexpr std::uint32_t kSecondBlocks = 256;
constexpr std::uint32_t kMainBlocks = 2048;

// After 08 00 the boot loader is left alone for a second before the main image's phase begins.
constexpr std::uint32_t kSecondCommitPauseMs = 1000;

// Block-write payload: 03, qualifier, address (big-endian), length 00 00 01 00, the block.
constexpr std::size_t kAddressOffset = 2;
constexpr std::size_t kLengthOffset = 6;
constexpr std::size_t kDataOffset = 10;
constexpr std::size_t kBlockPayloadSize = kDataOffset + kBlockSize;

// Response capacities count the control byte and the ETX besides the payload. A block write's answer is short.
constexpr std::int16_t kCommandAnswerCapacity = 280;
constexpr std::int16_t kBlockAnswerCapacity = 50;

constexpr char kProgramUnknown[] = "Program unknown";
constexpr char kFinished[] = "Finished";
// Smaller than the version read's: the reply is read and dropped, and its store is bounded by this buffer.
constexpr std::size_t kBootReplySize = 64;

void PutU32be(std::span<std::uint8_t> at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24U);
  at[1] = static_cast<std::uint8_t>(value >> 16U);
  at[2] = static_cast<std::uint8_t>(value >> 8U);
  at[3] = static_cast<std::uint8_t>(value);
}

// The buffers of one run, owned by it; nothing is allocated per block.
class UpdateRun {
 public:
  UpdateRun(Link& link, DialogWindow& window, Progress& progress, const FirmwareImages& images)
      : link_(link), window_(window), progress_(progress), images_(images) {}

  void Run() {
    if (!EnterBootMode()) {
      return;
    }
    ReadVersions(link_, window_, images_.main);

    const std::int16_t kind = QueryProgramKind();
    if (kind == kKindTwoImages) {
      if (!WriteSecondImage() || !WriteMainImage()) {
        return;
      }
    } else if (kind == kKindMainOnly) {
      ProgressStart(window_, progress_, kMainBlocks);
      if (!WriteMainImage()) {
        return;
      }
    } else {
      Show(kProgramUnknown);
      return;
    }
    Show(kFinished);
  }

 private:
  bool EnterBootMode() {
    if (SendBootId(link_, window_) == -1) {
      return false;
    }
    // Whatever the reply says, the enquiry decides.
    ReceiveBootReply(link_, window_, bootReply_);
    return ConfirmBootLoader(link_, window_) >= 0;
  }

  // The program kind, or -1 when the query failed or its answer is not exactly header and kind.
  std::int16_t QueryProgramKind() {
    if (CallCommand(link_, window_, kProgramKindQuery, answer_, kCommandAnswerCapacity) != kProgramKindAnswerLength) {
      return -1;
    }
    return answer_[kProgramKindByte];
  }

  bool WriteSecondImage() {
    if (!Send(kPrepareSecond)) {
      return false;
    }
    ProgressStart(window_, progress_, kSecondBlocks + kMainBlocks);
    if (!WriteRegion({images_.second, kSecondQualifier, kSecondAddress, kSecondBlocks})) {
      return false;
    }
    if (!Send(kSecondWritten) || !Send(kSecondCommit)) {
      return false;
    }
    link_.clock.SleepMs(kSecondCommitPauseMs);
    return true;
  }

  bool WriteMainImage() {
    return Send(kPrepareMain) && WriteRegion({images_.main, kMainQualifier, 0, kMainBlocks}) && Send(kMainWritten) &&
           Send(kUpdateDone);
  }

  bool Send(std::span<const std::uint8_t> command) {
    return CallCommand(link_, window_, command, answer_, kCommandAnswerCapacity) >= 0;
  }

  bool WriteRegion(const Region& region) {
    for (std::uint32_t k = 0; k < region.blocks; ++k) {
      if (TakeBlock(region.image, k) && !WriteBlock(region, k)) {
        // The failure has been shown; the bar stays where it is.
        return false;
      }
      ProgressStep(window_, progress_);
      window_.PumpMessages();
      if (window_.StopRequested()) {
        // Ended at a block boundary: the controller is partly written, and nothing is shown.
        return false;
      }
    }
    return true;
  }

  // Copies block k into the payload; true when it holds anything but erased bytes. Bytes beyond the end of an
  // image count as erased, so an image shorter than its region is never read past its end.
  bool TakeBlock(std::span<const std::uint8_t> image, std::uint32_t k) {
    const std::size_t start = std::size_t{k} * kBlockSize;
    const auto data = std::span(blockPayload_).subspan(kDataOffset);
    const auto source = start < image.size() ? image.subspan(start, std::min(kBlockSize, image.size() - start))
                                             : std::span<const std::uint8_t>();
    const auto copied = std::copy(source.begin(), source.end(), data.begin());
    std::fill(copied, data.end(), kErased);
    return std::any_of(data.begin(), data.end(), [](std::uint8_t b) { return b != kErased; });
  }

  bool WriteBlock(const Region& region, std::uint32_t k) {
    // Drops whatever the controller sent out of turn before the block goes out.
    link_.port.Purge();
    blockPayload_[0] = kBlockWrite;
    blockPayload_[1] = region.qualifier;
    PutU32be(std::span(blockPayload_).subspan(kAddressOffset, 4),
             region.firstAddress + k * static_cast<std::uint32_t>(kBlockSize));
    PutU32be(std::span(blockPayload_).subspan(kLengthOffset, 4), static_cast<std::uint32_t>(kBlockSize));
    return CallCommand(link_, window_, blockPayload_, blockAnswer_, kBlockAnswerCapacity) >= 0;
  }

  void Show(const char* outcome) { window_.ShowMessage(outcome, "", BoxStyle::Plain); }

  Link& link_;
  DialogWindow& window_;
  Progress& progress_;
  const FirmwareImages& images_;
  std::array<std::uint8_t, kBootReplySize> bootReply_{};
  std::array<std::uint8_t, kCommandAnswerCapacity - 2> answer_{};
  std::array<std::uint8_t, kBlockPayloadSize> blockPayload_{};
  std::array<std::uint8_t, kBlockAnswerCapacity - 2> blockAnswer_{};
};

}  // namespace

void RunUpdate(Link& link, DialogWindow& window, Progress& progress, const FirmwareImages& images) {
  UpdateRun(link, window, progress, images).Run();
}

}  // namespace fwu
