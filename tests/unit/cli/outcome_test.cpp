#include "cli/outcome.h"

#include <gtest/gtest.h>

#include "update/update_commands.h"

namespace fwu::cli {
namespace {

// Where a run was when the given command had gone out last.
Where After(std::uint8_t command, std::uint8_t qualifier, Phase phase,
            std::optional<std::uint32_t> blockAddress = std::nullopt) {
  Where where;
  where.phase = phase;
  where.last = LastSent::Command;
  where.command = command;
  where.qualifier = qualifier;
  where.blockAddress = blockAddress;
  return where;
}

RunResult Ended(Outcome outcome, const Where& where, std::optional<Failure> failure = std::nullopt) {
  RunResult result;
  result.outcome = outcome;
  result.where = where;
  result.failure = failure;
  if (failure) {
    result.resultCode = failure->code;
    result.deviceStatus = failure->kind == FailureKind::DeviceStatus ? failure->status : 0;
  }
  return result;
}

// Every way a run can end, and what the command line makes of its result: outcome, exit status, the numbers,
// the dialog's text(s) and where it stopped.
TEST(VerdictTest, EachResultGivesItsOutcomeCodeStatusMessageAndPlace) {
  struct Case {
    const char* what;
    RunResult result;
    int exitStatus;
    std::optional<int> resultCode;
    std::optional<int> deviceStatus;
    std::string message;
    std::string where;
  };
  const std::string timeout = "     -11 : When sending the command, ACK reception timeout";
  Where bootEntry;
  bootEntry.phase = Phase::BootEntry;
  bootEntry.last = LastSent::BootEntry;
  const Where query = After(0x0A, 0x00, Phase::ProgramKindQuery);
  const Where prepareSecond = After(0x03, 0x20, Phase::SecondImage);
  const Where secondBlock = After(kBlockWrite, kSecondQualifier, Phase::SecondImage, 0x30500);
  const Where mainBlock = After(kBlockWrite, kMainQualifier, Phase::MainImage, 0x00100);
  const Failure timedOut{FailureKind::Exchange, -11, 0};
  const Failure status12{FailureKind::DeviceStatus, -1, 0x12};
  const Failure closed{FailureKind::PortClosed, -1, 0};
  const Failure noAnswer{FailureKind::NoAnswer, -1, 0};
  const Failure notAck{FailureKind::NotAck, -1, 0};
  const std::string atQuery = "program kind query (0A 00)";
  const std::string atBootEntry = "boot-mode entry";
  const std::string atPrepare = "second-image preparation (03 20)";
  const std::string atSecondBlock = "block write, second image, address 0x30500";
  const std::string atMainBlock = "block write, main image, address 0x00100";
  const std::string toUnknown = " / Program unknown";
  const std::string status12Text = "0012 : Errors";
  const std::vector<Case> cases = {
      {"finished", Ended(Outcome::Finished, After(0x07, 0x00, Phase::Done)), 0, {}, {}, "Finished", ""},
      {"port found closed", Ended(Outcome::OpenFailed, prepareSecond, closed), 3, {}, {}, "Open Err10", atPrepare},
      {"no answer", Ended(Outcome::NoBootLoader, bootEntry, noAnswer), 4, {}, {}, "ACK receive timeout", atBootEntry},
      {"not ACK", Ended(Outcome::NoBootLoader, bootEntry, notAck), 4, {}, {}, "Receive except ACK", atBootEntry},
      {"unknown kind", Ended(Outcome::ProgramUnknown, query), 5, {}, {}, "Program unknown", atQuery},
      {"port closed, query", Ended(Outcome::ProgramUnknown, query, closed), 5, {}, {}, "Program unknown", atQuery},
      {"status", Ended(Outcome::DeviceError, prepareSecond, status12), 6, {}, 0x12, status12Text, atPrepare},
      {"silent", Ended(Outcome::LinkFailure, secondBlock, timedOut), 7, -11, {}, timeout, atSecondBlock},
      // The query's own failure, then "Program unknown": the failure decides, both texts are kept.
      {"time-out, query", Ended(Outcome::LinkFailure, query, timedOut), 7, -11, {}, timeout + toUnknown, atQuery},
      {"status, query", Ended(Outcome::DeviceError, query, status12), 6, {}, 0x12, status12Text + toUnknown, atQuery},
      {"stop, no write", Ended(Outcome::Interrupted, query), 130, {}, {}, kInterruptedBeforeWritingText, atQuery},
      {"stop", Ended(Outcome::Interrupted, mainBlock), 130, {}, {}, kInterruptedText, atMainBlock},
  };
  for (const Case& c : cases) {
    const RunVerdict verdict = VerdictOf(c.result);
    EXPECT_EQ(verdict.outcome, c.result.outcome) << c.what;
    EXPECT_EQ(ExitStatus(verdict.outcome), c.exitStatus) << c.what;
    EXPECT_EQ(verdict.resultCode, c.resultCode) << c.what;
    EXPECT_EQ(verdict.deviceStatus, c.deviceStatus) << c.what;
    EXPECT_EQ(verdict.message, c.message) << c.what;
    EXPECT_EQ(verdict.where, c.where) << c.what;
    const bool finished = c.result.outcome == Outcome::Finished;
    EXPECT_EQ(verdict.blockAddress, finished ? std::nullopt : c.result.where.blockAddress) << c.what;
  }
}

}  // namespace
}  // namespace fwu::cli
