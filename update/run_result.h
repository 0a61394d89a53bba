#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/link_observer.h"

namespace fwu {

// How an update or a version read ended.
enum class Outcome : std::uint8_t {
  Finished,        // the update wrote everything; the version read showed the versions
  OpenFailed,      // the port could not be opened, or was found closed
  NoBootLoader,    // the boot-mode entry failed: no ACK to the enquiry
  ProgramUnknown,  // the program-kind answer was not one the update knows
  DeviceError,     // the controller answered with a nonzero device status
  LinkFailure,     // the exchange failed: time-out, retries, CRC, overrun
  Interrupted,     // stopped between two exchanges on request
};

// The steps of a run, in order; a version read has the first two only.
enum class Phase : std::uint8_t {
  NotStarted,
  BootEntry,         // identification message, boot reply, enquiry
  VersionRead,       // the version read's own boot-mode entry and F0 10
  ProgramKindQuery,  // 0A 00
  SecondImage,       // 03 20, the second image's blocks, 07 10, 08 00 and the pause
  MainImage,         // 02 00, the main image's blocks, 05 00, 07 00
  Done,
};

enum class Image : std::uint8_t { None, Second, Main };

// What went out on the line last.
enum class LastSent : std::uint8_t { Nothing, BootEntry, Command };

// Where a run was when it ended.
struct Where {
  Phase phase = Phase::NotStarted;
  Image image = Image::None;  // the image whose blocks the phase writes
  LastSent last = LastSent::Nothing;
  std::uint8_t command = 0;  // the last command's code bytes, when a command went last
  std::uint8_t qualifier = 0;
  std::optional<std::uint32_t> blockAddress;  // its write address, when it was a block write
};

// The versions a version read found, as it shows them: both empty when the query failed.
struct Versions {
  bool answered = false;  // the controller answered the version query
  std::string controller;
  std::string carried;
};

// What an update or a version read came to.
struct RunResult {
  Outcome outcome = Outcome::Finished;
  std::int16_t resultCode = 0;     // the failing operation's negative result; 0 when nothing failed
  std::uint16_t deviceStatus = 0;  // for DeviceError
  Where where;
  std::optional<std::uint8_t> programKind;  // as the controller reported it, known or not
  std::uint32_t blocksWritten = 0;
  std::uint32_t blocksSkipped = 0;   // blank block positions passed over
  std::optional<Versions> versions;  // once a version read got past the boot-mode entry
  std::optional<Failure> failure;    // the failure that ended the run, as it was told; its text is FailureText()
};

// The operator's words for the two outcomes of an update that are not failures of the link.
inline constexpr char kFinishedText[] = "Finished";
inline constexpr char kProgramUnknownText[] = "Program unknown";

// A run whose program kind stayed unknown: the query failed or its answer was not one the update knows.
inline bool ProgramKindUnknown(const RunResult& result) {
  return result.outcome == Outcome::ProgramUnknown ||
         (result.outcome != Outcome::Interrupted && result.outcome != Outcome::Finished &&
          result.where.phase == Phase::ProgramKindQuery);
}

// One block position of the transfer done: written, or skipped as blank.
struct BlockStep {
  Image image = Image::None;
  std::uint32_t address = 0;
  bool written = false;
  std::uint32_t positionsDone = 0;  // including this one
  std::uint32_t blocksWritten = 0;  // including this one
};

// Told what an update or a version read does while it runs, in the controller's and the line's terms. Every
// method does nothing unless overridden.
class RunObserver : public LinkObserver {
 public:
  // A phase begins.
  virtual void OnPhase(Phase /*phase*/) {}
  // A version read got past the boot-mode entry: the versions it found.
  virtual void OnVersions(const Versions& /*versions*/) {}
  // The block writes begin: positions is the number of block positions of the images (2304 or 2048).
  virtual void OnTransferStart(std::uint8_t /*programKind*/, std::uint32_t /*positions*/) {}
  virtual void OnBlock(const BlockStep& /*step*/) {}
  // Asked before the first writing command and after each block: true ends the run there, between two
  // exchanges, as Interrupted.
  virtual bool StopRequested() { return false; }
};

}  // namespace fwu
