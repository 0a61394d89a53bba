#include "update/update_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/dialog_adapter.h"
#include "support/image_builder.h"
#include "support/recording_window.h"
#include "support/scripted_port.h"
#include "support/virtual_clock.h"
#include "support/wire.h"
#include "unit/update/boot_loader_double.h"

namespace fwu {
namespace {

using test::BootLoaderDouble;
using test::Bytes;
using test::ImageBuilder;
using test::RecordingWindow;
using Strings = std::vector<std::string>;

constexpr std::uint32_t kBlock = 256;
const RecordingWindow::Box kFinishedBox{"Finished", "", BoxStyle::Plain};
const RecordingWindow::Box kProgramUnknownBox{"Program unknown", "", BoxStyle::Plain};
const RecordingWindow::Box kStatus12Box{"0012 : Errors", "0012 : Errors", BoxStyle::Error};
const Bytes kAckFrame{0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x66};

// The ten header bytes of a block write, as the double shows them.
std::string BlockWrite(const char* qualifierAndAddress) {
  return std::string("03 ") + qualifierAndAddress + " 00 00 01 00 +256";
}

class RunUpdateTest : public ::testing::Test, protected test::LoaderRig {
 protected:
  RunUpdateTest() {
    // A model name and version for the title that the version read refreshes, all in the block at 0x1000.
    main.U32le(kModelNamePointer, 0xFFF81020)
        .Text(0x1020, "KX-7")
        .U32le(kVersionPointer, 0xFFF81030)
        .Text(0x1030, "0213");
  }

  void Run() { RunUpdate(link, window, progress, FirmwareImages{main.Bytes(), second.Bytes()}); }

  // The commands after the two handshakes and the version query.
  [[nodiscard]] Strings CommandsAfterVersionRead() const {
    const Strings& events = loader.Events();
    const Strings head{"id", "enq", "id", "enq", "F0 10"};
    EXPECT_TRUE(events.size() >= head.size() && std::equal(head.begin(), head.end(), events.begin()))
        << ::testing::PrintToString(events);
    return events.size() >= head.size() ? Strings(events.begin() + 5, events.end()) : Strings{};
  }

  [[nodiscard]] int LogCount(const std::string& prefix) const {
    return static_cast<int>(std::count_if(window.Log().begin(), window.Log().end(),
                                          [&](const std::string& entry) { return entry.starts_with(prefix); }));
  }

  ImageBuilder main{kMainImageSize};
  ImageBuilder second{kSecondImageSize};
};

TEST_F(RunUpdateTest, TwoImageKindSendsEveryCommandInOrderWithTheRegionEndAddresses) {
  loader.SetProgramKind(0x10);
  second.Byte(0, 0x11).Byte(255 * kBlock + 7, 0x22);
  main.Byte(0, 0x00).Byte(2047 * kBlock + 3, 0x33);
  Run();

  EXPECT_EQ(CommandsAfterVersionRead(), (Strings{
                                            "0A 00",
                                            "03 20",
                                            BlockWrite("10 00 03 00 00"),
                                            BlockWrite("10 00 03 FF 00"),
                                            "07 10 00 03 00 00",
                                            "08 00 00 03 00 00",
                                            "02 00",
                                            BlockWrite("00 00 00 00 00"),
                                            BlockWrite("00 00 00 10 00"),
                                            BlockWrite("00 00 07 FF 00"),
                                            "05 00",
                                            "07 00 00",
                                        }));
  EXPECT_EQ(window.Boxes(), std::vector<RecordingWindow::Box>{kFinishedBox});
  EXPECT_EQ(window.ProgressMax(), 2304);
  EXPECT_EQ(window.ProgressPos(), 2304);
  EXPECT_EQ(window.ControlText(kIdPercentText), "100 %");
  EXPECT_EQ(progress.stepsDone, 2304U);
  // The version read inside the run shows the images it was given.
  EXPECT_EQ(window.Title(), "UPDATE  KX-7  0213");
}

TEST_F(RunUpdateTest, MainOnlyKindSkipsTheSecondImagePhase) {
  loader.SetProgramKind(0x20);
  second.Byte(0, 0x11);  // never sent for this kind
  main.Byte(2047 * kBlock, 0x33);
  Run();

  EXPECT_EQ(CommandsAfterVersionRead(), (Strings{"0A 00", "02 00", BlockWrite("00 00 00 10 00"),
                                                 BlockWrite("00 00 07 FF 00"), "05 00", "07 00 00"}));
  EXPECT_EQ(window.Boxes(), std::vector<RecordingWindow::Box>{kFinishedBox});
  EXPECT_EQ(window.ProgressMax(), 2048);
  EXPECT_EQ(window.ProgressPos(), 2048);
  EXPECT_TRUE(std::find(clock.Sleeps().begin(), clock.Sleeps().end(), 1000U) == clock.Sleeps().end());
}

TEST_F(RunUpdateTest, BlockWritesCarryTheImageBytesUnchanged) {
  loader.SetProgramKind(0x10);
  // A block whose only programmed byte is its last is sent whole; DLE, STX and ETX bytes pass through.
  second.Byte(3 * kBlock + 255, 0x10);
  main.Byte(0x7FF00 + 255, 0x02);
  main.Byte(0x40000, 0x03).Byte(0x40001, 0x10);
  Run();

  std::vector<Bytes> blocks;
  for (const Bytes& command : loader.Commands()) {
    if (command.size() == 266) {
      blocks.push_back(command);
    }
  }
  const std::span<const std::uint8_t> mainBytes = main.Bytes();
  const std::span<const std::uint8_t> secondBytes = second.Bytes();
  ASSERT_EQ(blocks.size(), 4U);
  EXPECT_EQ(blocks[0], test::BlockWritePayload(0x10, 0x30300, secondBytes.subspan(std::size_t{3} * kBlock, kBlock)));
  EXPECT_EQ(blocks[1], test::BlockWritePayload(0x00, 0x01000, mainBytes.subspan(0x1000, kBlock)));
  EXPECT_EQ(blocks[2], test::BlockWritePayload(0x00, 0x40000, mainBytes.subspan(0x40000, kBlock)));
  EXPECT_EQ(blocks[3], test::BlockWritePayload(0x00, 0x7FF00, mainBytes.subspan(0x7FF00, kBlock)));
  EXPECT_EQ(window.Boxes(), std::vector<RecordingWindow::Box>{kFinishedBox});
}

TEST_F(RunUpdateTest, AnAllBlankMainImageStillStepsTheBarToItsEnd) {
  main = ImageBuilder(kMainImageSize);  // not even the texts
  loader.SetProgramKind(0x20);
  Run();

  EXPECT_EQ(CommandsAfterVersionRead(), (Strings{"0A 00", "02 00", "05 00", "07 00 00"}));
  EXPECT_EQ(LogCount("stepit"), 2048);
  EXPECT_EQ(window.Pumps(), 2048);
  EXPECT_EQ(window.ProgressPos(), 2048);
  EXPECT_EQ(window.ProgressMax(), 2048);
  EXPECT_EQ(window.ControlText(kIdPercentText), "100 %");
  EXPECT_EQ(window.Boxes(), std::vector<RecordingWindow::Box>{kFinishedBox});
  // Every block position is one step followed by one pump.
  Strings stepsAndPumps;
  for (const std::string& entry : window.Log()) {
    if (entry == "stepit" || entry == "pump") {
      stepsAndPumps.push_back(entry);
    }
  }
  for (std::size_t i = 0; i < stepsAndPumps.size(); ++i) {
    ASSERT_EQ(stepsAndPumps[i], i % 2 == 0 ? "stepit" : "pump") << i;
  }
}

TEST_F(RunUpdateTest, AnUnacceptableProgramKindAnswerEndsWithProgramUnknown) {
  struct Case {
    const char* what;
    BootLoaderDouble::Answer answer;
  };
  const std::vector<Case> cases = {
      {"five bytes", BootLoaderDouble::Ok({0x20, 0x00})},
      {"five bytes, kind 0x10", BootLoaderDouble::Ok({0x10, 0x00})},
      {"three bytes", BootLoaderDouble::Ok()},
      {"kind 0x30", BootLoaderDouble::Ok({0x30})},
      {"kind 0x00", BootLoaderDouble::Ok({0x00})},
  };
  for (const Case& c : cases) {
    test::LoaderRig rig;
    rig.loader.OnCommand([&](const Bytes& command, int) -> std::optional<BootLoaderDouble::Answer> {
      return command == Bytes{0x0A, 0x00} ? std::optional(c.answer) : std::nullopt;
    });
    RunUpdate(rig.link, rig.window, rig.progress, FirmwareImages{main.Bytes(), second.Bytes()});

    EXPECT_EQ(rig.loader.Events().back(), "0A 00") << c.what;
    EXPECT_EQ(rig.window.Boxes(), std::vector<RecordingWindow::Box>{kProgramUnknownBox}) << c.what;
    // The query's exchange closed with the host's ACK; nothing follows it.
    EXPECT_EQ(rig.port.Writes().back().bytes, kAckFrame) << c.what;
    EXPECT_EQ(rig.window.ProgressMax(), 100) << c.what << ": the bar was never started";
  }
}

TEST_F(RunUpdateTest, AFailedProgramKindQueryShowsItsFailureThenProgramUnknown) {
  loader.OnCommand([](const Bytes& command, int) -> std::optional<BootLoaderDouble::Answer> {
    return command == Bytes{0x0A, 0x00} ? std::optional(BootLoaderDouble::Status(0x0012)) : std::nullopt;
  });
  Run();

  EXPECT_EQ(loader.Events().back(), "0A 00");
  EXPECT_EQ(window.Boxes(), (std::vector<RecordingWindow::Box>{kStatus12Box, kProgramUnknownBox}));
  EXPECT_EQ(LogCount("range:"), 0);
}

TEST_F(RunUpdateTest, AnUnansweredProgramKindQueryShowsTheTimeoutThenProgramUnknown) {
  loader.OnCommand([](const Bytes& command, int) -> std::optional<BootLoaderDouble::Answer> {
    return command == Bytes{0x0A, 0x00} ? std::optional(BootLoaderDouble::Silence()) : std::nullopt;
  });
  Run();

  const std::string timeout = "     -11 : When sending the command, ACK reception timeout";
  EXPECT_EQ(window.Boxes(),
            (std::vector<RecordingWindow::Box>{{timeout, timeout, BoxStyle::Error}, kProgramUnknownBox}));
  EXPECT_EQ(loader.Events().back(), "0A 00");
}

TEST_F(RunUpdateTest, AFailureOn0320StartsNoProgressAndWritesNothing) {
  loader.SetProgramKind(0x10);
  second.Byte(0, 0x11);
  loader.OnCommand([](const Bytes& command, int) -> std::optional<BootLoaderDouble::Answer> {
    return command == Bytes{0x03, 0x20} ? std::optional(BootLoaderDouble::Status(0x0012)) : std::nullopt;
  });
  Run();

  EXPECT_EQ(CommandsAfterVersionRead(), (Strings{"0A 00", "03 20"}));
  EXPECT_EQ(window.Boxes(), std::vector<RecordingWindow::Box>{kStatus12Box});
  EXPECT_EQ(LogCount("range:"), 0);
  EXPECT_EQ(LogCount("stepit"), 0);
  EXPECT_EQ(port.Writes().back().bytes, kAckFrame);
}

TEST_F(RunUpdateTest, AFailureOnThe100thMainBlockLeavesTheBarThereAndSendsNothingMore) {
  struct Case {
    const char* what;
    BootLoaderDouble::Answer answer;
    Bytes lastWrite;  // what the host sent last
    std::vector<RecordingWindow::Box> boxes;
  };
  const std::string timeout = "     -11 : When sending the command, ACK reception timeout";
  const std::vector<Case> cases = {
      {"device status", BootLoaderDouble::Status(0x0012), kAckFrame, {kStatus12Box}},
      {"no answer", BootLoaderDouble::Silence(), {}, {{timeout, timeout, BoxStyle::Error}}},
  };
  for (std::uint32_t k = 0; k < 150; ++k) {
    main.Byte(k * kBlock + 128, static_cast<std::uint8_t>(k));
  }
  for (const Case& c : cases) {
    test::LoaderRig rig;
    int blockWrites = 0;
    rig.loader.OnCommand([&](const Bytes& command, int) -> std::optional<BootLoaderDouble::Answer> {
      if (command.size() == 266 && ++blockWrites == 100) {
        return c.answer;
      }
      return std::nullopt;
    });
    RunUpdate(rig.link, rig.window, rig.progress, FirmwareImages{main.Bytes(), second.Bytes()});

    EXPECT_EQ(blockWrites, 100) << c.what;
    EXPECT_EQ(rig.loader.Events().back(), BlockWrite("00 00 00 63 00")) << c.what;
    EXPECT_EQ(rig.window.Boxes(), c.boxes) << c.what;
    EXPECT_EQ(rig.window.ProgressPos(), 99) << c.what;
    EXPECT_EQ(rig.progress.stepsDone, 99U) << c.what;
    EXPECT_EQ(rig.window.Pumps(), 99) << c.what;
    EXPECT_EQ(rig.window.ControlText(kIdPercentText), "  4 %") << c.what;
    if (!c.lastWrite.empty()) {
      EXPECT_EQ(rig.port.Writes().back().bytes, c.lastWrite) << c.what;
    } else {
      // The block's own Frame was the last thing written.
      const auto frames = test::ParseFrames(rig.port.Writes().back().bytes);
      ASSERT_EQ(frames.size(), 1U) << c.what;
      EXPECT_EQ(frames[0].payload.size(), 266U) << c.what;
    }
  }
}

TEST_F(RunUpdateTest, AnswersAreTakenUpToTheirCapacities) {
  // A block write's answer holds at most 48 payload bytes, every other command's at most 278.
  struct Case {
    const char* what;
    Bytes command;  // the first two bytes of the command answered
    std::size_t answerLength;
    bool finished;
  };
  const std::vector<Case> cases = {
      {"block write, longest", {0x03, 0x00}, 48, true},
      {"block write, one more", {0x03, 0x00}, 49, false},
      {"05 00, longest", {0x05, 0x00}, 278, true},
      {"05 00, one more", {0x05, 0x00}, 279, false},
  };
  const std::string overrun = "     -28 : Other errors";
  for (const Case& c : cases) {
    test::LoaderRig rig;
    rig.loader.OnCommand([&](const Bytes& command, int) -> std::optional<BootLoaderDouble::Answer> {
      if (command.size() >= 2 && command[0] == c.command[0] && command[1] == c.command[1]) {
        return BootLoaderDouble::Ok(Bytes(c.answerLength - 3, 0x10));
      }
      return std::nullopt;
    });
    RunUpdate(rig.link, rig.window, rig.progress, FirmwareImages{main.Bytes(), second.Bytes()});
    const auto expected = c.finished ? std::vector<RecordingWindow::Box>{kFinishedBox}
                                     : std::vector<RecordingWindow::Box>{{overrun, overrun, BoxStyle::Error}};
    EXPECT_EQ(rig.window.Boxes(), expected) << c.what;
  }
}

TEST_F(RunUpdateTest, PausesOneSecondAfter0800AndSleepsNowhereElse) {
  loader.SetProgramKind(0x10);
  second.Byte(0, 0x11);
  main.Byte(0x7FF00, 0x22);
  Run();
  ASSERT_EQ(window.Boxes(), std::vector<RecordingWindow::Box>{kFinishedBox});

  // Only the fixed waits: 10 ms before each write, 50 ms after each EOT, and the one pause.
  const auto& sleeps = clock.Sleeps();
  EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 1000U), 1);
  EXPECT_TRUE(std::all_of(sleeps.begin(), sleeps.end(), [](std::uint32_t ms) {
    return ms == 10 || ms == 50 || ms == 1000;
  })) << ::testing::PrintToString(sleeps);

  // From the ACK that closes 08 00 to the Frame of 02 00: the pause and the 10 ms before the write.
  const auto& commands = loader.Commands();
  const auto at = [&](const Bytes& command) {
    return loader.CommandTimes()[static_cast<std::size_t>(std::find(commands.begin(), commands.end(), command) -
                                                          commands.begin())];
  };
  std::uint32_t closingAck = 0;
  const std::uint32_t commit = at(Bytes{0x08, 0x00, 0x00, 0x03, 0x00, 0x00});
  for (const auto& write : port.Writes()) {
    if (write.bytes == kAckFrame && write.atMs > commit && closingAck == 0) {
      closingAck = write.atMs;
    }
  }
  EXPECT_EQ(at(Bytes{0x02, 0x00}) - closingAck, 1010U);
}

TEST_F(RunUpdateTest, PurgesThePortBeforeEachBlockItSends) {
  loader.SetProgramKind(0x20);
  Run();
  const std::size_t purgesWithoutBlocks = port.Purges().size();

  test::VirtualClock otherClock;
  test::ScriptedPort otherPort{otherClock};
  Link otherLink{otherPort, otherClock};
  RecordingWindow otherWindow;
  Progress otherProgress;
  BootLoaderDouble otherLoader{otherPort};
  main.Byte(0x20000, 0x00).Byte(0x30000, 0x00);
  RunUpdate(otherLink, otherWindow, otherProgress, FirmwareImages{main.Bytes(), second.Bytes()});
  // Two more exchanges, each purging once itself, and the update's own purge before each block.
  EXPECT_EQ(otherPort.Purges().size(), purgesWithoutBlocks + 4);
}

TEST_F(RunUpdateTest, ABootModeFailureEndsTheRunBeforeAnyCommand) {
  loader.RefuseEnquiry();
  Run();
  EXPECT_EQ(loader.Events(), (Strings{"id", "enq"}));
  EXPECT_EQ(window.Boxes(),
            (std::vector<RecordingWindow::Box>{{"ACK receive timeout", "ACK receive timeout", BoxStyle::Error}}));
}

TEST_F(RunUpdateTest, NoPortOpenShowsOpenErr10AndWritesNothing) {
  port.SetOpen(false);
  Run();
  EXPECT_EQ(window.Boxes(), (std::vector<RecordingWindow::Box>{{"Open Err10", "Open Err10", BoxStyle::Error}}));
  EXPECT_EQ(port.WriteCalls(), 0);
  EXPECT_TRUE(port.Purges().empty());
}

TEST_F(RunUpdateTest, ImagesShorterThanTheirRegionsAreTreatedAsErasedBeyondTheirEnd) {
  loader.SetProgramKind(0x10);
  // Half a block of data at the end of a short main image; nothing past it may be read (ASan watches).
  std::vector<std::uint8_t> shortMain(main.Bytes().begin(), main.Bytes().begin() + 0x2080);
  shortMain[0x2000] = 0x44;
  const std::vector<std::uint8_t> noSecond;
  RunUpdate(link, window, progress, FirmwareImages{shortMain, noSecond});

  std::vector<Bytes> blocks;
  for (const Bytes& command : loader.Commands()) {
    if (command.size() == 266) {
      blocks.push_back(command);
    }
  }
  ASSERT_EQ(blocks.size(), 2U);  // the texts' block and the short one
  EXPECT_EQ(blocks[1][10], 0x44);
  EXPECT_EQ(BootLoaderDouble::Describe(blocks[1]), BlockWrite("00 00 00 20 00"));
  EXPECT_TRUE(std::all_of(blocks[1].begin() + 11, blocks[1].end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(window.Boxes(), std::vector<RecordingWindow::Box>{kFinishedBox});
  EXPECT_EQ(window.ProgressPos(), 2304);
}

// The command line's Ctrl-C: an observer that asks to stop ends the run before the first writing command, or
// right after a block position, with that block's exchange closed and nothing more sent.
TEST_F(RunUpdateTest, AStopRequestEndsTheRunBeforeTheFirstWriteOrAtTheNextBlockBoundary) {
  class StopAfterPositions : public RunObserver {
   public:
    explicit StopAfterPositions(std::uint32_t positions) : positions_(positions) {}
    void OnBlock(const BlockStep& step) override { done_ = step.positionsDone; }
    bool StopRequested() override { return done_ >= positions_; }

   private:
    std::uint32_t positions_;
    std::uint32_t done_ = 0;
  };
  struct Case {
    const char* what;
    std::uint32_t afterPositions;
    std::string lastCommand;
    std::uint32_t stepsDone;
  };
  const Case cases[] = {
      {"before the first write", 0, "0A 00", 0},
      // The second image's 256 blank positions, then ten main blocks.
      {"at a block boundary", 256 + 10, BlockWrite("00 00 00 09 00"), 266},
  };
  for (std::uint32_t k = 0; k < 20; ++k) {
    main.Byte(k * kBlock, 0x00);
  }
  for (const Case& c : cases) {
    test::LoaderRig rig;
    rig.loader.SetProgramKind(0x10);
    StopAfterPositions stopping(c.afterPositions);
    const RunResult result = RunUpdate(rig.link, stopping, FirmwareImages{main.Bytes(), second.Bytes()});

    EXPECT_EQ(rig.loader.Events().back(), c.lastCommand) << c.what;
    EXPECT_EQ(rig.port.Writes().back().bytes, kAckFrame) << c.what;
    EXPECT_EQ(result.outcome, Outcome::Interrupted) << c.what;
    EXPECT_EQ(result.blocksWritten + result.blocksSkipped, c.stepsDone) << c.what;
  }
}

}  // namespace
}  // namespace fwu
