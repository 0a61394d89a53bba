// The update sequence on a real pseudo-terminal through the POSIX serial backend, with fwsim as the controller.
// These runs take real time: every write waits 10 ms and every exchange pauses 50 ms, as on the bench.
#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/dialog_adapter.h"
#include "fwsim_process.h"
#include "serial/posix_clock.h"
#include "serial/posix_port.h"
#include "support/image_builder.h"
#include "support/recording_window.h"
#include "support/wire.h"
#include "update/update_sequence.h"

namespace fwu::test {
namespace {

using Boxes = std::vector<RecordingWindow::Box>;

const RecordingWindow::Box kFinished{"Finished", "", BoxStyle::Plain};
const RecordingWindow::Box kProgramUnknown{"Program unknown", "", BoxStyle::Plain};

RecordingWindow::Box ErrorBox(const std::string& text) {
  return {text, text, BoxStyle::Error};
}

Bytes BytesOf(std::span<const std::uint8_t> image) {
  return {image.begin(), image.end()};
}

// What the operator saw and what the controller held at the end of one update.
struct Outcome {
  Boxes boxes;
  int progressPos = 0;
  int progressMax = 0;
  std::string percent;
  std::optional<int> simExit;
  std::string verdict;
  Bytes mainMemory;
  Bytes secondMemory;
};

// Runs one update against a fresh fwsim started with simArgs. When the update is expected to finish, fwsim ends
// by itself once the controller has closed the last command; otherwise it is stopped afterwards.
Outcome UpdateAgainstFwsim(std::vector<std::string> simArgs, const FirmwareImages& images, bool finishes) {
  TempDir dir;
  simArgs.insert(simArgs.end(), {"--dump-main", dir.Path("main.dump"), "--dump-second", dir.Path("second.dump")});
  if (finishes) {
    simArgs.emplace_back("--exit-after-update");
  }
  FwsimProcess sim(simArgs);
  const std::string path = sim.ReadLine();
  EXPECT_FALSE(path.empty()) << sim.ErrorOutput();

  Outcome outcome;
  PosixSerialPort port;
  if (path.empty() || port.Open(path) != OpenResult::Ok) {
    ADD_FAILURE() << "cannot open " << path;
    return outcome;
  }
  PosixClock clock;
  Link link{port, clock};
  RecordingWindow window;
  Progress progress;
  RunUpdate(link, window, progress, images);
  port.Close();
  if (!finishes) {
    sim.Signal(SIGTERM);
  }

  outcome.simExit = sim.Wait();
  outcome.verdict = sim.RestOfOutput();
  outcome.boxes = window.Boxes();
  outcome.progressPos = window.ProgressPos();
  outcome.progressMax = window.ProgressMax();
  outcome.percent = window.ControlText(kIdPercentText);
  outcome.mainMemory = ReadFile(dir.Path("main.dump"));
  outcome.secondMemory = ReadFile(dir.Path("second.dump"));
  return outcome;
}

TEST(UpdateOverPty, WritesTheCarriedImagesForProgramKind20) {
  const Outcome outcome = UpdateAgainstFwsim({"--program-kind", "20"}, CarriedImages(), true);
  EXPECT_EQ(outcome.boxes, Boxes{kFinished});
  EXPECT_EQ(outcome.progressMax, 2048);
  EXPECT_EQ(outcome.progressPos, 2048);
  EXPECT_EQ(outcome.percent, "100 %");
  EXPECT_EQ(outcome.simExit, std::optional<int>(0));
  EXPECT_TRUE(outcome.mainMemory == BytesOf(MainImage())) << "main memory differs";
  EXPECT_EQ(outcome.secondMemory, Bytes(kSecondImageSize, 0xFF)) << "the second part is left erased";
}

TEST(UpdateOverPty, WritesTheCarriedImagesForProgramKind10) {
  const Outcome outcome = UpdateAgainstFwsim({"--program-kind", "10"}, CarriedImages(), true);
  EXPECT_EQ(outcome.boxes, Boxes{kFinished});
  EXPECT_EQ(outcome.progressMax, 2304);
  EXPECT_EQ(outcome.progressPos, 2304);
  EXPECT_EQ(outcome.percent, "100 %");
  EXPECT_EQ(outcome.simExit, std::optional<int>(0));
  EXPECT_TRUE(outcome.mainMemory == BytesOf(MainImage())) << "main memory differs";
  EXPECT_TRUE(outcome.secondMemory == BytesOf(SecondImage())) << "second memory differs";
}

// Small images, so that each faulty run takes seconds: a few blocks in each region, DLE bytes among them.
struct SmallImages {
  SmallImages() {
    for (const std::uint32_t at : {0x00000U, 0x1000U, 0x7FF00U + 255U}) {
      main.Byte(at, 0x10).Byte(at == 0x7FFFFU ? at - 1 : at + 1, 0x5A);
    }
    for (const std::uint32_t at : {0x0000U, 0xFF00U}) {
      second.Byte(at, 0x10).Byte(at + 1, 0xA5);
    }
  }
  [[nodiscard]] FirmwareImages Images() const { return {main.Bytes(), second.Bytes()}; }

  ImageBuilder main{kMainImageSize};
  ImageBuilder second{kSecondImageSize};
};

TEST(UpdateOverPty, FaultsWithinTheRetryBoundsStillFinish) {
  const SmallImages images;
  const std::vector<std::vector<std::string>> cases = {
      {"--pace", "--nak-commands", "2", "--damage-responses", "2"},
      {"--pace", "--reply-delay", "150"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::vector<std::string> simArgs = args;
    simArgs.insert(simArgs.end(), {"--program-kind", "10"});
    const Outcome outcome = UpdateAgainstFwsim(simArgs, images.Images(), true);
    EXPECT_EQ(outcome.boxes, Boxes{kFinished});
    EXPECT_EQ(outcome.progressPos, 2304);
    EXPECT_EQ(outcome.simExit, std::optional<int>(0));
    EXPECT_EQ(outcome.mainMemory, images.main.Bytes());
    EXPECT_EQ(outcome.secondMemory, images.second.Bytes());
  }
}

TEST(UpdateOverPty, AFaultPastTheBoundsStopsWithItsMessageAndNeverFinishes) {
  const SmallImages images;
  struct Case {
    std::vector<std::string> args;
    Boxes boxes;
    int progressPos;  // where the bar stays
  };
  const auto ackRetry = ErrorBox("     -15 : Retry over at command transmission");
  const std::vector<Case> cases = {
      // The version query takes the first three refusals and the run goes on; the program-kind query the next.
      {{"--nak-commands", "6"}, {ackRetry, ackRetry, kProgramUnknown}, 0},
      // The two second-image blocks and main block 0 are written; the block at 0x1000 goes unanswered.
      {{"--stop-after-blocks", "3"}, {ErrorBox("     -11 : When sending the command, ACK reception timeout")}, 272},
      {{"--status", "05:00=0007"}, {ErrorBox("0007 : Errors")}, 2304},
      {{"--status", "03:20=0102"}, {ErrorBox("0102 : Errors")}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::vector<std::string> simArgs = c.args;
    simArgs.insert(simArgs.end(), {"--pace", "--program-kind", "10"});
    const Outcome outcome = UpdateAgainstFwsim(simArgs, images.Images(), false);
    EXPECT_EQ(outcome.boxes, c.boxes);
    EXPECT_EQ(outcome.progressPos, c.progressPos);
    EXPECT_EQ(outcome.simExit, std::optional<int>(0));
  }
}

}  // namespace
}  // namespace fwu::test
