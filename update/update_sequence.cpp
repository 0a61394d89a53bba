#include "update/update_sequence.h"

#include <algorithm>
#include <array>

#include "update/run_session.h"
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
  Image name;
};

// Response capacities count the control byte and the ETX besides the payload. A block write's answer is short.
constexpr std::int16_t kCommandAnswerCapacity = 280;
constexpr std::int16_t kBlockAnswerCapacity = 50;

// Smaller than the version read's: the reply is read and dropped, and its store is bounded by this buffer.
constexpr std::size_t kBootReplySize = 64;

// The buffers of one run, owned by it; nothing is allocated per block.
class UpdateRun {
 public:
  UpdateRun(Link& link, RunObserver& observer, const FirmwareImages& images)
      : session_(link, observer, result_), observer_(observer), link_(link), images_(images) {}

  RunResult Run() {
    session_.EnterPhase(Phase::BootEntry);
    if (!session_.EnterBootMode(bootReply_)) {
      session_.Fail();
      return result_;
    }
    // Whatever the version read meets, the query decides.
    result_.versions = ReadVersionsIn(session_, images_.main);

    session_.EnterPhase(Phase::ProgramKindQuery);
    const std::int16_t kind = QueryProgramKind();
    if (kind != kKindTwoImages && kind != kKindMainOnly) {
      return result_;
    }
    // The last moment at which stopping leaves the controller's memory as it was.
    if (observer_.StopRequested()) {
      result_.outcome = Outcome::Interrupted;
      return result_;
    }
    if (kind == kKindTwoImages) {
      if (!WriteSecondImage() || !WriteMainImage()) {
        return result_;
      }
    } else {
      StartTransfer(kMainBlocks);
      if (!WriteMainImage()) {
        return result_;
      }
    }
    session_.EnterPhase(Phase::Done);
    return result_;
  }

 private:
  // The program kind, or -1 when the query failed or its answer is not exactly header and kind; the result says
  // which.
  std::int16_t QueryProgramKind() {
    const std::int16_t length = session_.Call(kProgramKindQuery, answer_, kCommandAnswerCapacity);
    if (length == kProgramKindAnswerLength) {
      result_.programKind = answer_[kProgramKindByte];
      if (*result_.programKind == kKindTwoImages || *result_.programKind == kKindMainOnly) {
        return *result_.programKind;
      }
    }
    // A link failure or a device status says why; a closed port, a short or long answer, or a kind the update
    // does not know leaves the kind unknown.
    if (length < 0) {
      session_.Fail();
    }
    if (length >= 0 || result_.outcome == Outcome::OpenFailed) {
      result_.outcome = Outcome::ProgramUnknown;
    }
    return -1;
  }

  void StartTransfer(std::uint32_t positions) { observer_.OnTransferStart(*result_.programKind, positions); }

  bool WriteSecondImage() {
    session_.EnterPhase(Phase::SecondImage, Image::Second);
    if (!Send(kPrepareSecond)) {
      return false;
    }
    StartTransfer(kSecondBlocks + kMainBlocks);
    if (!WriteRegion({images_.second, kSecondQualifier, kSecondAddress, kSecondBlocks, Image::Second})) {
      return false;
    }
    if (!Send(kSecondWritten) || !Send(kSecondCommit)) {
      return false;
    }
    link_.clock.SleepMs(kSecondCommitPauseMs);
    return true;
  }

  bool WriteMainImage() {
    session_.EnterPhase(Phase::MainImage, Image::Main);
    return Send(kPrepareMain) && WriteRegion({images_.main, kMainQualifier, 0, kMainBlocks, Image::Main}) &&
           Send(kMainWritten) && Send(kUpdateDone);
  }

  bool Send(std::span<const std::uint8_t> command) {
    if (session_.Call(command, answer_, kCommandAnswerCapacity) < 0) {
      session_.Fail();
      return false;
    }
    return true;
  }

  bool WriteRegion(const Region& region) {
    for (std::uint32_t k = 0; k < region.blocks; ++k) {
      const bool sent = TakeBlock(region, k);
      if (sent && !WriteBlock()) {
        // The failure has been told; the transfer stays where it is.
        return false;
      }
      ++(sent ? result_.blocksWritten : result_.blocksSkipped);
      observer_.OnBlock({region.name, region.firstAddress + k * static_cast<std::uint32_t>(kBlockSize), sent,
                         result_.blocksWritten + result_.blocksSkipped, result_.blocksWritten});
      if (observer_.StopRequested()) {
        // Ended at a block boundary: the controller is partly written.
        result_.outcome = Outcome::Interrupted;
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
    if (session_.Call(blockPayload_, blockAnswer_, kBlockAnswerCapacity) < 0) {
      session_.Fail();
      return false;
    }
    return true;
  }

  RunResult result_;
  RunSession session_;
  RunObserver& observer_;
  Link& link_;
  const FirmwareImages& images_;
  std::array<std::uint8_t, kBootReplySize> bootReply_{};
  std::array<std::uint8_t, kCommandAnswerCapacity - 2> answer_{};
  BlockPayload blockPayload_{};
  std::array<std::uint8_t, kBlockAnswerCapacity - 2> blockAnswer_{};
};

}  // namespace

RunResult RunUpdate(Link& link, RunObserver& observer, const FirmwareImages& images) {
  return UpdateRun(link, observer, images).Run();
}

}  // namespace fwu
