#include "cli/line_model.h"

#include <algorithm>
#include <array>

#include "protocol/control_chars.h"
#include "update/update_commands.h"

namespace fwu::cli {

namespace {

constexpr double kByteSeconds = 10.0 / 38400.0;                 // start bit, 8 data bits, stop bit
constexpr double kWritePause = 0.010;                           // before every write of the updater
constexpr double kExchangePause = 0.050;                        // after the updater's EOT of a command
constexpr double kCommitPause = kSecondCommitPauseMs / 1000.0;  // after 08 00 has been answered and closed

// DLE STX, control byte, DLE ETX and the two CRC bytes around a payload.
constexpr std::size_t kFrameOverhead = 7;
// The identification message leaves in three writes (STX; the code; ETX and the block check), and the boot
// reply is STX, a body ("BOOT" from the controllers we know), ETX and the block check.
constexpr std::array<std::size_t, 3> kIdWrites{1, 6, 2};
constexpr std::size_t kBootReplyWire = 3 + 4;

// An answer's header: the command byte and the device status.
constexpr std::size_t kAnswerHeader = 3;

std::size_t FrameWire(std::span<const std::uint8_t> payload) {
  return kFrameOverhead + payload.size() + static_cast<std::size_t>(std::ranges::count(payload, kDle));
}

// The exchange replayed on an ideal line: the updater's writes go out one after the other, each at the earliest
// moment the protocol allows; the controller's answers follow the last byte that triggered them at once.
class Replay {
 public:
  void Write(std::size_t wire) {
    double at = lastWrite_ + (afterOwnEot_ ? kExchangePause : 0.0);
    if (awaiting_) {
      at = std::max(at, awaited_ + (afterCommit_ ? kCommitPause : 0.0));
    }
    at += kWritePause;
    delivered_ = std::max(hostLineFree_, at) + static_cast<double>(wire) * kByteSeconds;
    hostLineFree_ = delivered_;
    lastWrite_ = at;
    awaiting_ = afterOwnEot_ = afterCommit_ = false;
    bytesIn_ += wire;
  }

  void Answer(std::size_t wire) {
    awaited_ = std::max(delivered_, controllerLineFree_) + static_cast<double>(wire) * kByteSeconds;
    controllerLineFree_ = awaited_;
    awaiting_ = true;
    bytesOut_ += wire;
  }

  void BootEntry() {
    for (const std::size_t part : kIdWrites) {
      Write(part);
    }
    Answer(kBootReplyWire);
    Write(kFrameOverhead);   // ENQ
    Answer(kFrameOverhead);  // ACK
    Write(kFrameOverhead);   // EOT
  }

  // Command Frame, ACK, EOT, the 50 ms pause, the answer, ACK, the closing EOT.
  void Command(std::span<const std::uint8_t> payload, std::span<const std::uint8_t> answer) {
    Write(FrameWire(payload));
    Answer(kFrameOverhead);
    Write(kFrameOverhead);
    afterOwnEot_ = true;
    Answer(FrameWire(answer));
    Write(kFrameOverhead);
    Answer(kFrameOverhead);
  }

  void CommitPause() { afterCommit_ = true; }

  [[nodiscard]] double Now() const { return std::max(awaited_, delivered_); }
  [[nodiscard]] std::uint64_t BytesIn() const { return bytesIn_; }
  [[nodiscard]] std::uint64_t BytesOut() const { return bytesOut_; }

 private:
  double lastWrite_ = -kWritePause;  // so that the first write goes out at 0
  double delivered_ = 0;
  double hostLineFree_ = 0;
  double controllerLineFree_ = 0;
  double awaited_ = 0;
  bool awaiting_ = false;
  bool afterOwnEot_ = false;
  bool afterCommit_ = false;
  std::uint64_t bytesIn_ = 0;
  std::uint64_t bytesOut_ = 0;
};

std::vector<std::uint8_t> Answer(std::uint8_t command, std::size_t dataLength, std::uint8_t fill) {
  std::vector<std::uint8_t> answer(kAnswerHeader + dataLength, fill);
  answer[0] = command;
  answer[1] = answer[2] = 0;
  return answer;
}

}  // namespace

bool IsSentBlock(std::span<const std::uint8_t> image, std::uint32_t block) {
  BlockPayload payload{};
  return FillBlockWrite(payload, image, kMainQualifier, 0, block);
}

LineModel::LineModel(const FirmwareImages& images, std::uint8_t programKind, std::size_t versionLength) {
  Replay line;
  const auto shortAnswer = Answer(0x00, 0, 0);
  line.BootEntry();
  line.BootEntry();
  line.Command(std::array<std::uint8_t, 2>{0xF0, 0x10}, Answer(0xF0, versionLength, '1'));
  line.Command(kProgramKindQuery, Answer(kProgramKindQuery[0], 1, programKind));

  const auto region = [&](std::span<const std::uint8_t> image, std::uint8_t qualifier, std::uint32_t first,
                          std::uint32_t blocks) {
    BlockPayload payload{};
    for (std::uint32_t k = 0; k < blocks; ++k) {
      const bool sent = FillBlockWrite(payload, image, qualifier, first, k);
      if (sent) {
        line.Command(payload, shortAnswer);
      }
      sent_ += sent ? 1U : 0U;
      doneAt_.push_back(line.Now());
    }
  };

  // The bar starts after 03 20 for both images, right after the query for the main image alone.
  if (programKind == kKindTwoImages) {
    line.Command(kPrepareSecond, shortAnswer);
    doneAt_.push_back(line.Now());
    region(images.second, kSecondQualifier, kSecondAddress, kSecondBlocks);
    line.Command(kSecondWritten, shortAnswer);
    line.Command(kSecondCommit, shortAnswer);
    line.CommitPause();
  } else {
    doneAt_.push_back(line.Now());
  }
  line.Command(kPrepareMain, shortAnswer);
  region(images.main, kMainQualifier, 0, kMainBlocks);
  line.Command(kMainWritten, shortAnswer);
  line.Command(kUpdateDone, shortAnswer);
  total_ = line.Now();
  bytesIn_ = line.BytesIn();
  bytesOut_ = line.BytesOut();
}

double LineModel::RemainingSeconds(std::uint32_t stepsDone) const {
  return total_ - doneAt_[std::min<std::size_t>(stepsDone, doneAt_.size() - 1)];
}

}  // namespace fwu::cli
