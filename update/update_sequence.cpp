#include "update/update_sequence.h"

#include <algorithm>
#include <array>

#include "protocol/boot_entry.h"
#include "protocol/command_call.h"
#include "update/update_commands.h"
#include "update/versions.h"

namespace fwu {

namespace {

// The program-kind answer: header (device status in bytes 1-2), then the kind, and nothing more.
constexpr std::int16_t kProgramKindAnswerLength = 4;
constexpr std::size_t kProgramKindByte = 3;

struct Region {
  std::span<const std::uint8_t> image;
  std::uint8_t qualifier;
  std::uint32_t firstAddress;
  std::uint32_t blocks;
};

// Response capacities count the control byte and the ETX besides the payload. A block write's answer is short.
constexpr std::int16_t kCommandAnswerCapacity = 280;
constexpr std::int16_t kBlockAnswerCapacity = 50;

constexpr char kProgramUnknown[] = "Program unknown";
constexpr char kFinished[] = "Finished";
// Smaller than the version read's: the reply is read and dropped, and its store is bounded by this buffer.
constexpr std::size_t kBootReplySize = 64;

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
    if (kind != kKindTwoImages && kind != kKindMainOnly) {
      Show(kProgramUnknown);
      return;
    }
    // The last moment at which stopping leaves the controller's memory as it was: nothing is shown.
    if (window_.StopRequested()) {
      return;
    }
    if (kind == kKindTwoImages) {
      if (!WriteSecondImage() || !WriteMainImage()) {
        return;
      }
    } else {
      ProgressStart(window_, progress_, kMainBlocks);
      if (!WriteMainImage()) {
        return;
      }
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
      if (TakeBlock(region, k) && !WriteBlock()) {
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

  bool TakeBlock(const Region& region, std::uint32_t k) {
    return FillBlockWrite(blockPayload_, region.image, region.qualifier, region.firstAddress, k);
  }

  bool WriteBlock() {
    // Drops whatever the controller sent out of turn before the block goes out.
    PurgeLine(link_);
    return CallCommand(link_, window_, blockPayload_, blockAnswer_, kBlockAnswerCapacity) >= 0;
  }

  void Show(const char* outcome) { window_.ShowMessage(outcome, "", BoxStyle::Plain); }

  Link& link_;
  DialogWindow& window_;
  Progress& progress_;
  const FirmwareImages& images_;
  std::array<std::uint8_t, kBootReplySize> bootReply_{};
  std::array<std::uint8_t, kCommandAnswerCapacity - 2> answer_{};
  BlockPayload blockPayload_{};
  std::array<std::uint8_t, kBlockAnswerCapacity - 2> blockAnswer_{};
};

}  // namespace

void RunUpdate(Link& link, DialogWindow& window, Progress& progress, const FirmwareImages& images) {
  UpdateRun(link, window, progress, images).Run();
}

}  // namespace fwu
