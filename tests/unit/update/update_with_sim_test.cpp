// Whole updates of the carried images against the simulated controller, in memory on the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/dialog_adapter.h"
#include "support/recording_window.h"
#include "support/scripted_port.h"
#include "support/sim_peer.h"
#include "support/virtual_clock.h"
#include "update/update_sequence.h"

namespace fwu {
namespace {

using test::RecordingWindow;
using Region = sim::DeviceMemory::Region;
using Boxes = std::vector<RecordingWindow::Box>;

const RecordingWindow::Box kFinished{"Finished", "", BoxStyle::Plain};
const RecordingWindow::Box kProgramUnknown{"Program unknown", "", BoxStyle::Plain};

RecordingWindow::Box ErrorBox(const std::string& text) {
  return {text, text, BoxStyle::Error};
}

bool Equal(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// One update from a controller that holds older firmware: every programmed bit of it is in the way unless the
// region is erased first.
struct SimRun {
  explicit SimRun(sim::BootLoaderConfig config) : peer(port, std::move(config)) {
    const std::vector<std::uint8_t> old(0x8000, 0x5A);
    peer.Loader().Memory().Load(Region::Main, old);
    peer.Loader().Memory().Load(Region::Second, old);
  }
  void Run() { RunUpdate(link, window, progress); }

  test::VirtualClock clock;
  test::ScriptedPort port{clock};
  Link link{port, clock};
  RecordingWindow window;
  Progress progress;
  test::SimPeer peer;
};

sim::BootLoaderConfig Kind(std::uint8_t kind) {
  sim::BootLoaderConfig config;
  config.programKind = kind;
  return config;
}

TEST(UpdateWithSim, WritesTheCarriedImagesForBothProgramKinds) {
  for (const std::uint8_t kind : {std::uint8_t{0x10}, std::uint8_t{0x20}}) {
    SCOPED_TRACE(kind);
    SimRun run(Kind(kind));
    run.Run();
    EXPECT_EQ(run.window.Boxes(), Boxes{kFinished});
    const int steps = kind == 0x10 ? 2304 : 2048;
    EXPECT_EQ(run.window.ProgressMax(), steps);
    EXPECT_EQ(run.window.ProgressPos(), steps);
    EXPECT_EQ(run.window.ControlText(kIdPercentText), "100 %");
    EXPECT_EQ(run.peer.Loader().UpdatesFinished(), 1);
    EXPECT_TRUE(Equal(run.peer.Memory().Bytes(Region::Main), MainImage()));
    if (kind == 0x10) {
      EXPECT_TRUE(Equal(run.peer.Memory().Bytes(Region::Second), SecondImage()));
    } else {
      // The main-only kind leaves the second part as it was.
      EXPECT_EQ(run.peer.Memory().Bytes(Region::Second)[0], 0x5A);
    }
    // The version read at the start showed the controller's version beside the carried one.
    EXPECT_EQ(run.window.ControlText(kIdVersionText),
              "FIRMWARE          :1.00\r\nNEW FIRMWARE  :" + CarriedVersion().value());
  }
}

TEST(UpdateWithSim, RetriesWithinTheBoundsStillFinish) {
  struct Case {
    const char* what;
    sim::Faults faults;
    Boxes boxes;
  };
  sim::Faults naks;
  naks.nakCommands = 2;
  sim::Faults damaged;
  damaged.damageResponses = 2;
  sim::Faults both;
  both.nakCommands = 2;
  both.damageResponses = 2;
  const std::vector<Case> cases = {
      {"two NAKs", naks, {kFinished}},
      {"two damaged answers", damaged, {kFinished}},
      {"both", both, {kFinished}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::BootLoaderConfig config = Kind(0x10);
    config.faults = c.faults;
    SimRun run(config);
    run.Run();
    EXPECT_EQ(run.window.Boxes(), c.boxes);
    EXPECT_EQ(run.window.ProgressPos(), 2304);
    EXPECT_TRUE(Equal(run.peer.Memory().Bytes(Region::Main), MainImage()));
    EXPECT_TRUE(Equal(run.peer.Memory().Bytes(Region::Second), SecondImage()));
  }
}

TEST(UpdateWithSim, AWriteThatFailsOnceIsRepeatedAndTheUpdateFinishes) {
  SimRun run(Kind(0x20));
  // Somewhere among the block writes: one failed write call, one that takes nothing.
  run.port.ScriptWrite(300, WriteOutcome{false, 0});
  run.port.ScriptWrite(600, WriteOutcome{true, 0});
  run.Run();
  EXPECT_EQ(run.window.Boxes(), Boxes{kFinished});
  EXPECT_TRUE(Equal(run.peer.Memory().Bytes(Region::Main), MainImage()));
}

TEST(UpdateWithSim, AFaultPastTheBoundsStopsWithItsMessage) {
  struct Case {
    const char* what;
    sim::Faults faults;
    Boxes boxes;
    int steps;  // where the bar stays
  };
  const auto ackRetry = ErrorBox("     -15 : Retry over at command transmission");
  const auto responseRetry = ErrorBox("     -25 : Retry over at response reception");
  const auto ackTimeout = ErrorBox("     -11 : When sending the command, ACK reception timeout");
  std::vector<Case> cases;
  {
    // The version query takes the first three refusals and fails without ending the run; the program-kind
    // query takes the next three.
    sim::Faults f;
    f.nakCommands = 6;
    cases.push_back({"NAK past the bound", f, {ackRetry, ackRetry, kProgramUnknown}, 0});
  }
  {
    sim::Faults f;
    f.damageResponses = 6;
    cases.push_back({"damaged answers past the bound", f, {responseRetry, responseRetry, kProgramUnknown}, 0});
  }
  {
    sim::Faults f;
    f.stopAfterBlockWrites = 100;
    // The second image has 79 blocks to send; the 21st main-image block is the 101st write.
    cases.push_back({"silence after 100 block writes", f, {ackTimeout}, -1});
  }
  {
    sim::Faults f;
    f.statusFor.push_back({{0x05, 0x00}, 0x0007});
    cases.push_back({"status on 05 00", f, {ErrorBox("0007 : Errors")}, 2304});
  }
  {
    sim::Faults f;
    f.lengthFor.push_back({{0x0A, 0x00}, 5});
    cases.push_back({"five-byte program kind", f, {kProgramUnknown}, 0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::BootLoaderConfig config = Kind(0x10);
    config.faults = c.faults;
    SimRun run(config);
    run.Run();
    EXPECT_EQ(run.window.Boxes(), c.boxes);
    EXPECT_EQ(run.peer.Loader().UpdatesFinished(), 0);
    if (c.steps >= 0) {
      EXPECT_EQ(run.window.ProgressPos(), c.steps);
    } else {
      EXPECT_GT(run.window.ProgressPos(), 256);
      EXPECT_LT(run.window.ProgressPos(), 2304);
    }
  }
}

}  // namespace
}  // namespace fwu
