// The fault matrix: whole updates on the POSIX serial backend over a real pseudo-terminal, with the simulated
// controller served from a thread of the test and a fault on the line or in the controller. Each row asserts the
// messages the operator sees, that nothing went out after the failure, how long after its last write the updater
// gave up (within the limit that applies, never a hang), and that a second update against a healthy controller,
// which takes over the memory the failed one left behind, then completes with memory equal to the images. The
// run ends with a table of the rows and their outcomes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iomanip>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog_adapter.h"
#include "app/progress.h"
#include "controller_on_pty.h"
#include "serial/port_connection.h"
#include "serial/posix_clock.h"
#include "serial/posix_port.h"
#include "sim/device_memory.h"
#include "support/recording_window.h"
#include "support/shaped_images.h"
#include "support/wire.h"
#include "update/update_sequence.h"
#include "watched_port.h"

namespace fwu::test {
namespace {

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kDle = 0x10;

// The messages, exactly as the operator sees them.
constexpr char kFinished[] = "Finished";
constexpr char kAckTimeout[] = "     -11 : When sending the command, ACK reception timeout";
constexpr char kAckCrcError[] = "     -13 : CRC error when sending command";
constexpr char kAckOverrun[] = "     -17 : Buffer overrun on reception of ACK upon command transmission";
constexpr char kResponseTimeout[] = "     -20 : Response reception timeout in response reception";
constexpr char kResponseRetryOver[] = "     -25 : Retry over at response reception";
constexpr char kResponseOverrun[] = "     -28 : Other errors";
constexpr char kEnquiryTimeout[] = "ACK receive timeout";

// The limits the updater gives up by, counted from its last write: the ACK of a command or of the enquiry, and
// the response after the 50 ms pause that follows the EOT.
constexpr double kAckLimitMs = 1000;
constexpr double kResponseLimitMs = 50 + 3000;
// What a loaded machine running the sanitizers may add to a limit; only a hang comes near it.
constexpr double kGenerousMs = 2000;
// A failure that needs no waiting is reported well before any limit could have passed.
constexpr double kAtOnceMs = 1000;
// No update of the shaped images comes near this, healthy or not; beyond it the updater counts as hung.
constexpr auto kHangLimit = std::chrono::seconds(60);

constexpr std::uint8_t kTwoImages = 0x10;
constexpr std::uint8_t kMainOnly = 0x20;

// How long after its last write the updater may show its failure.
struct Window {
  double minMs;
  double maxMs;
};
constexpr Window kAfterAckLimit{kAckLimitMs, kAckLimitMs + kGenerousMs};
constexpr Window kAfterResponseLimit{kResponseLimitMs, kResponseLimitMs + kGenerousMs};
constexpr Window kAtOnce{0, kAtOnceMs};

struct Row {
  const char* name;
  std::uint8_t programKind;
  sim::Faults controllerFaults;
  LineFault line;
  bool cablePulled;
  std::vector<std::string> messages;
  Window afterLastWrite;  // for a failed update
};

// --- what the line does -------------------------------------------------------------------------------------

bool IsBlockWrite(const sim::CommandCode& code) {
  return code.command == 0x03 && (code.qualifier == 0x00 || code.qualifier == 0x10);
}

// Applies change once, to the first Frame with the given control byte while the controller works on its
// block-write number block (counted from 1 over both images).
template <typename Change>
LineFault OnceAtBlock(int block, std::uint8_t control, Change change) {
  // Each copy of the fault keeps its own record of having struck.
  return [=, done = false](const Outgoing& out) mutable {
    if (done || out.control != control || !IsBlockWrite(out.command) || out.blockWrites != block) {
      return Unchanged(out);
    }
    done = true;
    return change(out);
  };
}

// Applies change to every Frame with the given control byte during block-write number block.
template <typename Change>
LineFault EveryAtBlock(int block, std::uint8_t control, Change change) {
  return [=](const Outgoing& out) {
    if (out.control != control || !IsBlockWrite(out.command) || out.blockWrites != block) {
      return Unchanged(out);
    }
    return change(out);
  };
}

Delivery Erase(const Outgoing& out, std::size_t from, std::size_t count) {
  Bytes bytes = out.bytes;
  bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(from),
              bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
  return {bytes};
}

Delivery Flip(const Outgoing& out, std::size_t at) {
  Bytes bytes = out.bytes;
  bytes.at(at) ^= 0x01U;
  return {bytes};
}

Delivery Later(const Outgoing& out, std::uint32_t delayMs) {
  return {out.bytes, delayMs};
}

// Bytes of every value but DLE, so that none of them can begin a Frame.
Bytes Garbage(std::size_t count) {
  Bytes bytes(count);
  std::uint32_t state = 0x2545F491U;
  for (auto& byte : bytes) {
    state = state * 1'103'515'245U + 12'345U;
    byte = static_cast<std::uint8_t>(state >> 16U);
    if (byte == kDle) {
      byte = 0x55;
    }
  }
  return bytes;
}

LineFault GarbageBeforeBootReply(std::size_t count) {
  // Each copy of the fault keeps its own record of having struck.
  return [=, done = false](const Outgoing& out) mutable {
    if (done || out.control.has_value()) {
      return Unchanged(out);
    }
    done = true;
    Bytes bytes = Garbage(count);
    bytes.insert(bytes.end(), out.bytes.begin(), out.bytes.end());
    return Delivery{bytes};
  };
}

LineFault GarbageInsteadOfFirstAck(std::size_t count) {
  // Each copy of the fault keeps its own record of having struck.
  return [=, done = false](const Outgoing& out) mutable {
    if (done || out.control != kAck) {
      return Unchanged(out);
    }
    done = true;
    return Delivery{Garbage(count)};
  };
}

// The answers of one block write, each just inside its limit.
LineFault JustInTime(int block) {
  return [=](const Outgoing& out) {
    if (!IsBlockWrite(out.command) || out.blockWrites != block) {
      return Unchanged(out);
    }
    // A fifth of each limit to spare, for a machine under load.
    constexpr std::uint32_t kAckMs = 800;
    constexpr std::uint32_t kResponseMs = 2450;  // from the EOT: the updater's limit starts 50 ms later
    constexpr std::uint32_t kClosingMs = 800;
    return Later(out, out.control == kAck ? kAckMs : out.control == kStx ? kResponseMs : kClosingMs);
  };
}

std::vector<Row> Rows() {
  const auto frameWithLongPayload = [](std::uint8_t control) {
    return [=](const Outgoing&) { return Delivery{WireFrame(control, Bytes(60, 0x5A))}; };
  };
  sim::Faults longAnswer;
  longAnswer.lengthFor.push_back({{0x03, 0x00}, 60});
  sim::Faults fallsSilent;
  fallsSilent.stopAfterBlockWrites = 2;

  return {
      {"bytes dropped inside a Frame: an ACK loses its DLE ETX",
       kMainOnly,
       {},
       OnceAtBlock(2, kAck, [](const Outgoing& out) { return Erase(out, 3, 2); }),
       false,
       {kAckTimeout},
       kAfterAckLimit},
      {"bytes dropped inside a Frame: an answer loses two bytes (NAK, sent again)",
       kMainOnly,
       {},
       OnceAtBlock(2, kStx, [](const Outgoing& out) { return Erase(out, 4, 2); }),
       false,
       {kFinished},
       kAtOnce},
      {"a byte flipped inside a Frame: an ACK's control byte",
       kMainOnly,
       {},
       OnceAtBlock(2, kAck, [](const Outgoing& out) { return Flip(out, 2); }),
       false,
       {kAckCrcError},
       kAtOnce},
      {"a byte flipped inside every answer to a block write",
       kMainOnly,
       {},
       EveryAtBlock(2, kStx, [](const Outgoing& out) { return Flip(out, 4); }),
       false,
       {kResponseRetryOver},
       kAtOnce},
      {"a flood of garbage (3 KiB) before the first Frame",
       kTwoImages,
       {},
       GarbageBeforeBootReply(3072),
       false,
       {kFinished},
       kAtOnce},
      {"garbage (8 KiB) instead of the answer to the enquiry",
       kMainOnly,
       {},
       GarbageInsteadOfFirstAck(8192),
       false,
       {kEnquiryTimeout},
       kAfterAckLimit},
      {"a Frame longer than its capacity: an answer of 60 bytes for 48",
       kMainOnly,
       longAnswer,
       Unchanged,
       false,
       {kResponseOverrun},
       kAtOnce},
      {"a Frame longer than its capacity: an ACK with 60 bytes",
       kMainOnly,
       {},
       OnceAtBlock(1, kAck, frameWithLongPayload(kAck)),
       false,
       {kAckOverrun},
       kAtOnce},
      {"ACK, answer and EOT each just under their limits", kMainOnly, {}, JustInTime(2), false, {kFinished}, kAtOnce},
      {"an ACK later than its limit (1300 ms)",
       kMainOnly,
       {},
       OnceAtBlock(2, kAck, [](const Outgoing& out) { return Later(out, 1300); }),
       false,
       {kAckTimeout},
       kAfterAckLimit},
      {"an answer later than its limit (3400 ms)",
       kMainOnly,
       {},
       OnceAtBlock(2, kStx, [](const Outgoing& out) { return Later(out, 3400); }),
       false,
       {kResponseTimeout},
       kAfterResponseLimit},
      {"the controller stops answering after the second block write",
       kMainOnly,
       fallsSilent,
       Unchanged,
       false,
       {kAckTimeout},
       kAfterAckLimit},
      {"the cable is pulled while the updater waits for an ACK",
       kTwoImages,
       {},
       OnceAtBlock(4, kAck,
                   [](const Outgoing&) {
                     return Delivery{{}, 0, true};
                   }),
       true,
       {kAckTimeout},
       kAfterAckLimit},
      {"the cable is pulled while the updater hands the line over",
       kTwoImages,
       {},
       OnceAtBlock(3, kAck,
                   [](const Outgoing& out) {
                     return Delivery{out.bytes, 0, true, 5, true};
                   }),
       true,
       {kResponseTimeout},
       kAfterResponseLimit},
  };
}

// --- the updater --------------------------------------------------------------------------------------------

struct UpdateOutcome {
  std::vector<std::string> messages;
  int writesAtLastMessage = 0;
  double lastMessageMs = 0;
  double tookMs = 0;
};

// One update on the open port; a run that outlasts every limit aborts the whole test run as hung, since the
// updater cannot be taken back from inside RunUpdate.
UpdateOutcome Update(WatchedPort& port, const ShapedImages& images) {
  PosixClock clock;
  Link link{port, clock};
  RecordingWindow window;
  UpdateOutcome outcome;
  window.OnMessageBox([&](const RecordingWindow::Box& box) {
    outcome.messages.push_back(box.text);
    outcome.writesAtLastMessage = port.WriteCalls();
    outcome.lastMessageMs = SteadyMs();
  });
  Progress progress;
  const double start = SteadyMs();
  auto run = std::async(std::launch::async, [&] { RunUpdate(link, window, progress, {images.main, images.second}); });
  if (run.wait_for(kHangLimit) != std::future_status::ready) {
    static_cast<void>(std::fprintf(stderr, "the update hangs: still running after %lld s\n",
                                   static_cast<long long>(kHangLimit.count())));
    std::abort();
  }
  outcome.tookMs = SteadyMs() - start;
  return outcome;
}

bool RegionHolds(const std::vector<std::uint8_t>& memory, const std::vector<std::uint8_t>& image) {
  return std::equal(image.begin(), image.end(), memory.begin()) &&
         std::all_of(memory.begin() + static_cast<std::ptrdiff_t>(image.size()), memory.end(),
                     [](std::uint8_t b) { return b == sim::DeviceMemory::kErased; });
}

// --- the table ----------------------------------------------------------------------------------------------

struct Outcome {
  std::string row;
  std::string messages;
  std::string afterLastWrite;
  int failedWrites = 0;
  std::string secondUpdate;
  bool passed = false;
};

std::vector<Outcome>& Table() {
  static std::vector<Outcome> table;
  return table;
}

std::string Joined(const std::vector<std::string>& messages) {
  std::string joined;
  for (const auto& message : messages) {
    joined += (joined.empty() ? "\"" : ", \"") + message + "\"";
  }
  return joined.empty() ? "(none)" : joined;
}

std::string Milliseconds(double ms) {
  return std::to_string(static_cast<long long>(ms)) + " ms";
}

// --- the rows -----------------------------------------------------------------------------------------------

class FaultMatrix : public ::testing::TestWithParam<Row> {
 protected:
  // Once every row has run: the table of rows and their outcomes.
  static void TearDownTestSuite() {
    std::size_t width = 0;
    for (const auto& outcome : Table()) {
      width = std::max(width, outcome.row.size());
    }
    const auto line = [&](const std::string& row, const std::string& pass, const std::string& after,
                          const std::string& failed, const std::string& second, const std::string& messages) {
      std::cout << std::left << std::setw(static_cast<int>(width)) << row << " | " << std::setw(4) << pass << " | "
                << std::setw(11) << after << " | " << std::setw(13) << failed << " | " << std::setw(16) << second
                << " | " << messages << "\n";
    };
    std::cout << "\nFault matrix: " << Table().size() << " rows\n";
    line("row", "pass", "after write", "failed writes", "second update", "messages shown");
    for (const auto& outcome : Table()) {
      line(outcome.row, outcome.passed ? "ok" : "FAIL", outcome.afterLastWrite, std::to_string(outcome.failedWrites),
           outcome.secondUpdate, outcome.messages);
    }
    std::cout << std::flush;
  }
};

TEST_P(FaultMatrix, EndsWithItsMessageAndLeavesAControllerThatASecondUpdateWrites) {
  const Row& row = GetParam();
  const ShapedImages images = SmallShapedImages();
  Outcome outcome;
  outcome.row = row.name;

  sim::BootLoaderConfig config;
  config.programKind = row.programKind;
  auto line = std::make_unique<PtyLine>();
  PosixSerialPort serial;
  WatchedPort port(serial);
  RecordingWindow openWindow;
  ASSERT_TRUE(OpenPort(port, openWindow, line->SlavePath()));

  // The failing update.
  ControllerOnPty::Memory left;
  {
    sim::BootLoaderConfig faulty = config;
    faulty.faults = row.controllerFaults;
    ControllerOnPty controller(*line, faulty, row.line);
    const UpdateOutcome first = Update(port, images);
    controller.Stop();
    left = controller.MemoryNow();

    outcome.messages = Joined(first.messages);
    outcome.failedWrites = port.FailedWrites();
    EXPECT_EQ(first.messages, row.messages);
    EXPECT_EQ(port.WriteCalls(), first.writesAtLastMessage) << "something was sent after the last message";
    if (row.messages.back() != kFinished) {
      const double afterLastWrite = first.lastMessageMs - port.LastWriteMs();
      outcome.afterLastWrite = Milliseconds(afterLastWrite);
      EXPECT_GE(afterLastWrite, row.afterLastWrite.minMs);
      EXPECT_LE(afterLastWrite, row.afterLastWrite.maxMs);
    } else {
      outcome.afterLastWrite = "-";
      EXPECT_TRUE(RegionHolds(left.main, images.main));
    }
  }

  // A pulled cable leaves a dead line: the operator closes the port and opens the new one.
  if (row.cablePulled) {
    ClosePort(port);
    EXPECT_FALSE(port.IsOpen());
    line = std::make_unique<PtyLine>();
    ASSERT_TRUE(OpenPort(port, openWindow, line->SlavePath()));
  }
  EXPECT_TRUE(openWindow.Boxes().empty());

  ControllerOnPty healthy(*line, config, Unchanged, &left);
  const UpdateOutcome second = Update(port, images);
  healthy.Stop();
  const ControllerOnPty::Memory written = healthy.MemoryNow();
  EXPECT_EQ(second.messages, std::vector<std::string>{kFinished});
  EXPECT_TRUE(RegionHolds(written.main, images.main));
  if (row.programKind == kTwoImages) {
    EXPECT_TRUE(RegionHolds(written.second, images.second));
  }
  outcome.secondUpdate = second.messages == std::vector<std::string>{kFinished}
                             ? "Finished " + Milliseconds(second.tookMs)
                             : Joined(second.messages);
  outcome.passed = !HasFailure();
  Table().push_back(outcome);
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  return "Row" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(Rows()), RowName);

}  // namespace
}  // namespace fwu::test
