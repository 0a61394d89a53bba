// Whole updates through the watched port against the simulated controller: where each run stops, and a trace
// that accounts for every byte of a healthy run.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_adapter.h"
#include "support/recording_window.h"
#include "support/scripted_port.h"
#include "support/shaped_images.h"
#include "support/sim_peer.h"
#include "support/virtual_clock.h"
#include "trace/watched_port.h"
#include "update/update_sequence.h"

namespace fwu::trace {
namespace {

// Keeps the trace in memory, as its lines.
class LineTrace : public TraceSink {
 public:
  void Event(const WireEvent& event) override {
    lines.push_back(FormatTraceLine(event));
    (event.direction == Direction::Sent ? sentBytes : receivedBytes) += event.wire.size();
  }
  void Note(std::uint64_t atUs, std::string_view text) override { lines.push_back(FormatTraceNote(atUs, text)); }
  bool Finish(std::string* /*error*/) override { return true; }

  std::vector<std::string> lines;
  std::size_t sentBytes = 0;
  std::size_t receivedBytes = 0;
};

struct Case {
  const char* name;
  std::uint8_t programKind;
  sim::Faults faults;
  std::string where;
  std::optional<std::uint32_t> address;
};

sim::Faults StatusFor(std::uint8_t command, std::uint8_t qualifier) {
  sim::Faults faults;
  faults.statusFor.push_back({{command, qualifier}, 0x0012});
  return faults;
}

sim::Faults StopAfterBlocks(int blocks) {
  sim::Faults faults;
  faults.stopAfterBlockWrites = blocks;
  return faults;
}

sim::Faults Silent() {
  sim::Faults faults;
  faults.silent = true;
  return faults;
}

// The shaped images' non-blank blocks: second image 0 and 2, main image 0, 3, 16, 17 and 19.
const std::vector<Case> kCases = {
    {"healthy", 0x10, {}, "update done (07 00)", std::nullopt},
    {"no controller", 0x10, Silent(), "boot-mode entry", std::nullopt},
    {"device status on 03 20", 0x10, StatusFor(0x03, 0x20), "second-image preparation (03 20)", std::nullopt},
    {"silent after one block", 0x10, StopAfterBlocks(1), "block write, second image, address 0x30200", 0x30200},
    {"silent after two main blocks", 0x20, StopAfterBlocks(2), "block write, main image, address 0x01000", 0x1000},
    {"device status on commit", 0x10, StatusFor(0x08, 0x00), "commit (08 00)", std::nullopt},
};

TEST(WatchedPort, SaysWhereTheUpdateStopped) {
  const test::ShapedImages images = test::SmallShapedImages();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    test::VirtualClock clock;
    test::ScriptedPort port(clock);
    sim::BootLoaderConfig config;
    config.programKind = c.programKind;
    config.faults = c.faults;
    test::SimPeer peer(port, config);
    LineTrace trace;
    WatchedPort watched(port, &trace);
    EXPECT_EQ(watched.Where(), "");

    Link link{watched, clock};
    test::RecordingWindow window;
    Progress progress;
    RunUpdate(link, window, progress, FirmwareImages{images.main, images.second});
    watched.Close();

    EXPECT_EQ(watched.Where(), c.where);
    EXPECT_EQ(watched.Last().address, c.address);
    EXPECT_EQ(trace.sentBytes, port.WrittenBytes().size()) << "every byte written is traced once";
  }
}

TEST(WatchedPort, TracesAHealthyRunWithoutAnUnknownByte) {
  const test::ShapedImages images = test::SmallShapedImages();
  test::VirtualClock clock;
  test::ScriptedPort port(clock);
  test::SimPeer peer(port);
  LineTrace trace;
  WatchedPort watched(port, &trace);
  Link link{watched, clock};
  test::RecordingWindow window;
  Progress progress;
  RunUpdate(link, window, progress, FirmwareImages{images.main, images.second});
  watched.Close();

  ASSERT_EQ(window.Boxes().back().text, "Finished");
  EXPECT_EQ(watched.Last().command, 0x07);
  EXPECT_TRUE(watched.Last().sent);
  std::size_t blockWrites = 0;
  for (const std::string& line : trace.lines) {
    EXPECT_EQ(line.find("noise"), std::string::npos) << line;
    EXPECT_EQ(line.find("truncated"), std::string::npos) << line;
    EXPECT_EQ(line.find("bad"), std::string::npos) << line;
    blockWrites += line.find("-> Frame STX, command 03 ") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(blockWrites, 2U + 5U + 1U) << "seven block writes and the 03 20";
  EXPECT_GT(trace.receivedBytes, 0U);
}

}  // namespace
}  // namespace fwu::trace
