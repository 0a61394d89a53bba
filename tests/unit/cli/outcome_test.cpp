#include "cli/outcome.h"

#include <gtest/gtest.h>

#include "cli/terminal_window.h"

namespace fwu::cli {
namespace {

// Every box text the core can end a run with, and what the command line makes of it.
TEST(JudgeTest, EachEndingBoxGivesItsOutcomeCodeAndStatus) {
  struct Case {
    std::vector<std::string> boxes;
    Outcome outcome;
    int exitStatus;
    std::optional<int> resultCode;
    std::optional<int> deviceStatus;
    std::string message;
  };
  const std::string timeout = "     -11 : When sending the command, ACK reception timeout";
  const std::string other = "     -28 : Other errors";
  const std::vector<Case> cases = {
      {{"Finished"}, Outcome::Finished, 0, {}, {}, "Finished"},
      {{"ACK receive timeout", "Finished"}, Outcome::Finished, 0, {}, {}, "Finished"},
      {{"Open Err1"}, Outcome::OpenFailed, 3, {}, {}, "Open Err1"},
      {{"Open Err5"}, Outcome::OpenFailed, 3, {}, {}, "Open Err5"},
      {{"Open Err10"}, Outcome::OpenFailed, 3, {}, {}, "Open Err10"},
      {{"ACK receive timeout"}, Outcome::NoBootLoader, 4, {}, {}, "ACK receive timeout"},
      {{"Receive except ACK"}, Outcome::NoBootLoader, 4, {}, {}, "Receive except ACK"},
      {{"Program unknown"}, Outcome::ProgramUnknown, 5, {}, {}, "Program unknown"},
      {{"0012 : Errors"}, Outcome::DeviceError, 6, {}, 0x12, "0012 : Errors"},
      {{"ABCD : Errors"}, Outcome::DeviceError, 6, {}, 0xABCD, "ABCD : Errors"},
      {{timeout}, Outcome::LinkFailure, 7, -11, {}, timeout},
      {{other}, Outcome::LinkFailure, 7, -28, {}, other},
      // The query's own failure, then "Program unknown": the failure decides, both texts are kept.
      {{timeout, "Program unknown"}, Outcome::LinkFailure, 7, -11, {}, timeout + " / Program unknown"},
      {{"0012 : Errors", "Program unknown"}, Outcome::DeviceError, 6, {}, 0x12, "0012 : Errors / Program unknown"},
      // Text the core never composes is no outcome the command line claims to know.
      {{"-11 : When sending the command, ACK reception timeout"}, Outcome::Internal, 1, {}, {}, ""},
      {{"12 : Errors"}, Outcome::Internal, 1, {}, {}, ""},
      {{}, Outcome::Internal, 1, {}, {}, ""},
  };
  for (const Case& c : cases) {
    std::vector<Box> boxes;
    for (const auto& text : c.boxes) {
      boxes.push_back({text, "program kind query (0A 00)"});
    }
    const RunVerdict verdict = Judge(boxes, std::nullopt);
    const std::string label = c.boxes.empty() ? "no box" : c.boxes.back();
    EXPECT_EQ(verdict.outcome, c.outcome) << label;
    EXPECT_EQ(ExitStatus(verdict.outcome), c.exitStatus) << label;
    EXPECT_EQ(verdict.resultCode, c.resultCode) << label;
    EXPECT_EQ(verdict.deviceStatus, c.deviceStatus) << label;
    if (!c.message.empty()) {
      EXPECT_EQ(verdict.message, c.message) << label;
    }
    EXPECT_EQ(verdict.where.empty(), c.outcome == Outcome::Finished || c.boxes.empty()) << label;
  }
}

TEST(JudgeTest, AStopIsAnInterruptionWhateverBoxesCameBefore) {
  struct Case {
    StopPoint stop;
    const char* message = nullptr;
  };
  for (const Case& c : {Case{{"block write, main image, address 0x00100", false}, kInterruptedText},
                        Case{{"program kind query (0A 00)", true}, kInterruptedBeforeWritingText}}) {
    const RunVerdict verdict = Judge({{"ACK receive timeout", "boot-mode entry"}}, c.stop);
    EXPECT_EQ(verdict.outcome, Outcome::Interrupted);
    EXPECT_EQ(ExitStatus(verdict.outcome), 130);
    EXPECT_EQ(verdict.message, c.message);
    EXPECT_EQ(verdict.where, c.stop.where);
  }
}

TEST(JudgeTest, ProgramUnknownAfterAnEarlierCommandsFailureIsProgramUnknown) {
  // The version query failed inside the update, then the program-kind answer had the wrong length.
  const RunVerdict verdict =
      Judge({{"     -20 : Response reception timeout in response reception", "version query (F0 10)"},
             {"Program unknown", "program kind query (0A 00)"}},
            std::nullopt);
  EXPECT_EQ(verdict.outcome, Outcome::ProgramUnknown);
  EXPECT_EQ(verdict.message, "Program unknown");
}

TEST(ControllerVersionTest, ReadsTheControllersTextBackFromTheVersionDisplay) {
  EXPECT_EQ(ControllerVersion("FIRMWARE          :1.00\r\nNEW FIRMWARE  :0213", "0213"), "1.00");
  EXPECT_EQ(ControllerVersion("FIRMWARE          :\r\nNEW FIRMWARE  :0213", "0213"), "");
  // A failed query leaves both values empty.
  EXPECT_EQ(ControllerVersion("FIRMWARE          :\r\nNEW FIRMWARE  :", "0213"), std::nullopt);
  EXPECT_EQ(ControllerVersion("FIRMWARE          :a\r\nb\r\nNEW FIRMWARE  :0213", "0213"), "a\r\nb");
}

}  // namespace
}  // namespace fwu::cli
