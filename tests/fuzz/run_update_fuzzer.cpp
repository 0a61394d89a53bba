// A whole RunUpdate against the simulated controller, on a line the fuzzer steers: its bytes pick the controller's
// program kind and misbehaviour, then drop, damage, delay, split, repeat or surround with noise the traffic in
// both directions, or pull the cable. Small shaped images keep one run short. Beyond "no crash":
// - "Finished" is shown at most once, as the last message, with the bar at its end, and only when the controller's
//   memory equals the images and it has closed the update (unless the line could have made up a good Frame);
// - every run ends with a message, and nothing is sent after it;
// - no command Frame goes out more than three times in a row, no more than two NAKs in a row, none with a bad CRC;
// - the host never waits longer than the longest limit without a byte or a write, and the whole run stays within
//   the limits of the exchanges it started.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "app/dialog_adapter.h"
#include "app/progress.h"
#include "fuzz_line.h"
#include "sim/device_memory.h"
#include "steered_peer.h"
#include "support/recording_window.h"
#include "support/shaped_images.h"
#include "support/wire.h"
#include "update/images.h"
#include "update/update_sequence.h"

namespace {

using fwu::sim::DeviceMemory;
using fwu::test::Require;

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kNak = 0x15;

// The longest any exchange with the boot loader may take: ACK, pause, response and closing phases, each phase
// allowed one Frame still arriving when its limit passes (at most one byte gap past it).
constexpr std::uint32_t kExchangeMs = 1000 + 50 + 3000 + 1000 + 3 * 1001;
// The boot-mode entry: the boot reply's three waits, then the enquiry with one Frame arriving late.
constexpr std::uint32_t kHandshakeMs = 500 + 1000 + 1000 + 1000 + 1001;
// The longest silence the host may keep: the pause after handing the line over, the response limit, and the
// settling wait before the write that follows a failure it carries on from (in the version read).
constexpr std::uint32_t kLongestSilenceMs = 50 + 3000 + 1 + 10;
constexpr std::uint32_t kGiveUpMs = 3'600'000;

// The controller's program kind, version answer and misbehaviour, from the first two steering bytes; zeros make a
// healthy controller with two images.
fwu::sim::BootLoaderConfig Controller(fwu::test::Steering& steering) {
  fwu::sim::BootLoaderConfig config;
  const std::uint8_t kind = steering.Next();
  config.programKind = kind < 0xC0 ? 0x10 : kind < 0xF8 ? 0x20 : static_cast<std::uint8_t>(0x30 + (kind & 0x07U));
  // Its version answer, from the same byte: the usual text, the longest text the host's buffer takes, an answer
  // cut short before any text, or one longer than the host's capacity.
  switch (kind & 0x03U) {
    case 1:
      config.version.assign(fwu::sim::kMaxVersionLength, 'V');
      break;
    case 2:
      config.faults.lengthFor.push_back({{0xF0, 0x10}, 2});
      break;
    case 3:
      config.faults.lengthFor.push_back({{0xF0, 0x10}, fwu::sim::kMaxFaultLength});
      break;
    default:
      break;
  }
  const std::uint8_t faults = steering.Next();
  auto& f = config.faults;
  f.nakCommands = (faults & 0x01U) != 0 ? 2 : 0;
  f.damageResponses = (faults & 0x02U) != 0 ? 2 : 0;
  if ((faults & 0x04U) != 0) {
    f.statusFor.push_back({{0x03, 0x00}, 0x0007});
  }
  if ((faults & 0x08U) != 0) {
    f.stopAfterBlockWrites = 1;
  }
  if ((faults & 0x10U) != 0) {
    f.lengthFor.push_back({{0x0A, 0x00}, 5});
  }
  f.nakEnquiry = (faults & 0x20U) != 0;
  config.replyDelayUs = (faults & 0x40U) != 0 ? 950'000 : 0;
  f.silent = (faults & 0x80U) != 0;
  return config;
}

bool RegionHolds(std::span<const std::uint8_t> memory, const std::vector<std::uint8_t>& image) {
  return std::equal(image.begin(), image.end(), memory.begin()) &&
         std::all_of(memory.begin() + static_cast<std::ptrdiff_t>(image.size()), memory.end(),
                     [](std::uint8_t b) { return b == DeviceMemory::kErased; });
}

void CheckHostFrames(const fwu::test::WatchedPort& port) {
  const auto frames = fwu::test::ParseFrames(port.WrittenBytes());
  int sameCommand = 0;
  int naks = 0;
  const fwu::test::ParsedFrame* previous = nullptr;
  for (const auto& frame : frames) {
    Require(frame.crcOk, "the host sends a Frame with a wrong CRC");
    const bool repeat =
        previous != nullptr && frame.control == kStx && previous->control == kStx && frame.payload == previous->payload;
    sameCommand = frame.control == kStx ? (repeat ? sameCommand + 1 : 1) : 0;
    naks = frame.control == kNak ? naks + 1 : 0;
    Require(sameCommand <= 3, "a command Frame goes out more than three times");
    Require(naks <= 2, "more than two NAKs in a row");
    previous = &frame;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fwu::test::ShapedImages kImages = fwu::test::SmallShapedImages();
  const fwu::FirmwareImages images{kImages.main, kImages.second};

  fwu::test::Steering steering(std::span(data, size));
  fwu::test::WatchedClock clock;
  fwu::test::WatchedPort port(clock, kGiveUpMs);
  const fwu::sim::BootLoaderConfig config = Controller(steering);
  fwu::test::SteeredPeer peer(port, config, steering);
  fwu::test::RecordingWindow window;
  std::vector<int> writesAtBox;
  window.OnMessageBox([&](const auto&) { writesAtBox.push_back(port.WriteAttempts()); });
  fwu::Progress progress;
  fwu::Link link{port, clock};
  port.WatchLink(link.reader);

  fwu::RunUpdate(link, window, progress, images);
  port.Settle();

  const auto& boxes = window.Boxes();
  if (fwu::test::Tracing()) {
    for (const auto& box : boxes) {
      static_cast<void>(std::fprintf(stderr, "message \"%s\"\n", box.text.c_str()));
    }
    static_cast<void>(std::fprintf(stderr, "%u ms, longest silence %u ms, %d writes, %zu purges, forged: %s\n",
                                   port.ElapsedMs(), port.LongestSilenceMs(), port.WriteAttempts(),
                                   port.Purges().size(), peer.MayHaveForged() ? "maybe" : "no"));
  }

  // Every run ends with a message, and the line stays quiet after it.
  Require(!boxes.empty(), "an update ends without a message");
  Require(port.WriteAttempts() == writesAtBox.back(), "something is sent after the update's last message");

  const auto finished =
      std::count_if(boxes.begin(), boxes.end(), [](const auto& box) { return box.text == "Finished"; });
  Require(finished <= 1, "\"Finished\" is shown twice");
  if (finished == 1) {
    Require(
        boxes.back().text == "Finished" && boxes.back().caption.empty() && boxes.back().style == fwu::BoxStyle::Plain,
        "\"Finished\" is not the last message, or not a plain box");
    Require(window.ProgressPos() == window.ProgressMax(), "\"Finished\" with the bar short of its end");
    if (!peer.MayHaveForged()) {
      const auto& loader = peer.Loader();
      Require(RegionHolds(loader.Memory().Bytes(DeviceMemory::Region::Main), kImages.main),
              "\"Finished\" but the controller's main memory differs from the image");
      Require(config.programKind != 0x10 ||
                  RegionHolds(loader.Memory().Bytes(DeviceMemory::Region::Second), kImages.second),
              "\"Finished\" but the controller's second memory differs from the image");
      Require(loader.UpdatesFinished() == 1, "\"Finished\" but the controller never closed the update");
    }
  }

  CheckHostFrames(port);

  const auto& sleeps = clock.Sleeps();
  const std::uint64_t slept = std::accumulate(sleeps.begin(), sleeps.end(), std::uint64_t{0});
  const std::uint64_t allowed = port.Purges().size() * std::uint64_t{std::max(kExchangeMs, kHandshakeMs)} + slept +
                                peer.InjectedDelayMs() + peer.BytesTowardsHost() + 1;
  Require(port.ElapsedMs() <= allowed, "the update outlasts the limits of the exchanges it started");
  Require(port.LongestSilenceMs() <= kLongestSilenceMs, "the host waits in silence longer than the longest limit");
  return 0;
}
