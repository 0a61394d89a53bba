// The program's own link code against the simulated controller: both sides were written apart from each other,
// so a misreading of the protocol on either side shows up here.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "app/dialog_adapter.h"
#include "protocol/boot_entry.h"
#include "protocol/command_call.h"
#include "protocol/transaction.h"
#include "support/recording_window.h"
#include "support/sim_peer.h"
#include "support/wire.h"
#include "update/images.h"

namespace fwu::test {
namespace {

constexpr std::int16_t kCapacity = 280;
constexpr std::int16_t kBlockCapacity = 50;

struct Bench {
  explicit Bench(sim::BootLoaderConfig config = {}) : peer(port, std::move(config)) {}

  std::int16_t EnterBootMode() {
    if (SendBootId(link, window) < 0) {
      return -1;
    }
    std::array<std::uint8_t, 100> reply{};
    ReceiveBootReply(link, window, reply);
    return ConfirmBootLoader(link, window);
  }

  std::int16_t Transact(const Bytes& command, std::int16_t capacity = kCapacity) {
    response.assign(static_cast<std::size_t>(capacity) - 2, 0);
    return TransactCommand(link, command, response, capacity);
  }

  // How many Frames with this control byte (and, for STX, this payload) the program wrote.
  int Written(std::uint8_t control, const Bytes& payload = {}) const {
    int count = 0;
    for (const auto& frame : ParseFrames(port.WrittenBytes())) {
      count += frame.control == control && (control != 0x02 || frame.payload == payload) ? 1 : 0;
    }
    return count;
  }

  VirtualClock clock;
  ScriptedPort port{clock};
  Link link{port, clock};
  RecordingWindow window;
  SimPeer peer;
  Bytes response;
};

Bytes BlockWrite(std::uint32_t address, std::uint8_t fill) {
  return BlockWritePayload(0x00, address, fill);
}

TEST(ProgramAgainstSim, EntersBootModeTwiceAndReadsVersionAndKind) {
  sim::BootLoaderConfig config;
  config.version = "V1.23";
  Bench bench(config);
  EXPECT_EQ(bench.EnterBootMode(), 0);
  EXPECT_EQ(bench.EnterBootMode(), 0);
  std::array<std::uint8_t, 278> answer{};
  ASSERT_EQ(CallCommand(bench.link, bench.window, Bytes{0xF0, 0x10}, answer, kCapacity), 8);
  EXPECT_EQ(std::string(answer.begin() + 3, answer.begin() + 8), "V1.23");
  ASSERT_EQ(CallCommand(bench.link, bench.window, Bytes{0x0A, 0x00}, answer, kCapacity), 4);
  EXPECT_EQ(answer[3], 0x10);
  EXPECT_TRUE(bench.window.Boxes().empty());
}

TEST(ProgramAgainstSim, WritesABlockAtLineSpeed) {
  Bench bench;
  ASSERT_EQ(bench.EnterBootMode(), 0);
  const Bytes command = BlockWrite(0x7FF00, 0x10);  // every data byte doubled on the wire
  const std::uint32_t start = bench.clock.NowMs();
  ASSERT_EQ(bench.Transact(command, kBlockCapacity), 3);
  const std::uint32_t took = bench.clock.NowMs() - start;
  // 10 ms before the write, then the 529-byte command Frame and the 7-byte ACK cross the line (139.6 ms); 10 ms
  // before the EOT, whose crossing and the answer's fall inside the 50 ms turn; 10 ms before the program's ACK,
  // then it and the closing EOT cross (3.6 ms): 223.2 ms in all, rounded up to the tick.
  EXPECT_GE(took, 224U);
  EXPECT_LE(took, 226U);
  const auto main = bench.peer.Memory().Bytes(sim::DeviceMemory::Region::Main);
  EXPECT_EQ(main[0x7FF00], 0x10);
  EXPECT_EQ(main[0x7FFFF], 0x10);
  EXPECT_EQ(main[0x7FEFF], 0xFF);
}

// Every non-blank block of both carried images, DLE-heavy as they are, lands byte for byte; the line time
// adds up as a 38400-baud line would make it.
TEST(ProgramAgainstSim, TakesBothCarriedImagesWhole) {
  Bench bench;
  ASSERT_EQ(bench.EnterBootMode(), 0);
  ASSERT_EQ(bench.Transact({0x03, 0x20}), 3);
  const auto writeAll = [&](std::span<const std::uint8_t> image, std::uint8_t qualifier, std::uint32_t base) {
    for (std::size_t at = 0; at < image.size(); at += 256) {
      const auto block = image.subspan(at, 256);
      if (std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0xFF; })) {
        continue;
      }
      const auto address = static_cast<std::uint32_t>(base + at);
      const Bytes command = BlockWritePayload(qualifier, address, block);
      ASSERT_EQ(bench.Transact(command, kBlockCapacity), 3) << "block at " << address;
    }
  };
  writeAll(SecondImage(), 0x10, 0x30000);
  ASSERT_EQ(bench.Transact({0x02, 0x00}), 3);
  writeAll(MainImage(), 0x00, 0);
  const auto& memory = bench.peer.Memory();
  EXPECT_TRUE(std::ranges::equal(memory.Bytes(sim::DeviceMemory::Region::Second), SecondImage()));
  EXPECT_TRUE(std::ranges::equal(memory.Bytes(sim::DeviceMemory::Region::Main), MainImage()));
  EXPECT_EQ(bench.peer.Loader().Commands().size(), 2U + (256U - 177U) + (2048U - 1641U));
}

TEST(ProgramAgainstSim, MeetsEachInjectedFaultWithItsResultCode) {
  const auto config = [](auto change) {
    sim::BootLoaderConfig c;
    change(c);
    return c;
  };
  const struct {
    const char* name;
    sim::BootLoaderConfig config;
    Bytes command;
    std::int16_t result;
    int commandFrames;  // how often the program wrote the command
    int naksSent;       // NAKs the program sent for damaged answers
  } cases[] = {
      {"two NAKs", config([](auto& c) { c.faults.nakCommands = 2; }), {0x05, 0x00}, 3, 3, 0},
      {"three NAKs", config([](auto& c) { c.faults.nakCommands = 3; }), {0x05, 0x00}, kAckRetryOver, 3, 0},
      {"two damaged", config([](auto& c) { c.faults.damageResponses = 2; }), {0x05, 0x00}, 3, 1, 2},
      {"three damaged", config([](auto& c) { c.faults.damageResponses = 3; }), {0x05, 0x00}, kResponseRetryOver, 1, 2},
      {"longest answer",
       config([](auto& c) {
         c.faults.lengthFor = {{{0x05, 0x00}, 278}};
       }),
       {0x05, 0x00},
       278,
       1,
       0},
      {"answer too long",
       config([](auto& c) {
         c.faults.lengthFor = {{{0x05, 0x00}, 279}};
       }),
       {0x05, 0x00},
       kResponseOverrun,
       1,
       0},
      {"status",
       config([](auto& c) {
         c.faults.statusFor = {{{0x05, 0x00}, 0x0102}};
       }),
       {0x05, 0x00},
       3,
       1,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench(c.config);
    ASSERT_EQ(bench.EnterBootMode(), 0);
    EXPECT_EQ(bench.Transact(c.command), c.result);
    EXPECT_EQ(bench.Written(0x02, c.command), c.commandFrames);
    EXPECT_EQ(bench.Written(0x15), c.naksSent);
  }
}

TEST(ProgramAgainstSim, ReportsADeviceStatusToTheOperator) {
  sim::BootLoaderConfig config;
  config.faults.statusFor = {{{0x03, 0x20}, 0x0102}};
  Bench bench(config);
  ASSERT_EQ(bench.EnterBootMode(), 0);
  std::array<std::uint8_t, 278> answer{};
  EXPECT_EQ(CallCommand(bench.link, bench.window, Bytes{0x03, 0x20}, answer, kCapacity), kDeviceError);
  ASSERT_EQ(bench.window.Boxes().size(), 1U);
  EXPECT_EQ(bench.window.Boxes()[0].text, DeviceStatusText(0x0102));
}

TEST(ProgramAgainstSim, TimesOutOnASilentOrFallenSilentController) {
  sim::BootLoaderConfig silent;
  silent.faults.silent = true;
  Bench quiet(silent);
  EXPECT_EQ(quiet.EnterBootMode(), -1);
  ASSERT_EQ(quiet.window.Boxes().size(), 1U);
  EXPECT_EQ(quiet.window.Boxes()[0].text, "ACK receive timeout");

  sim::BootLoaderConfig stops;
  stops.faults.stopAfterBlockWrites = 1;
  Bench bench(stops);
  ASSERT_EQ(bench.EnterBootMode(), 0);
  EXPECT_EQ(bench.Transact(BlockWrite(0x000, 0x11), kBlockCapacity), 3);
  const std::uint32_t start = bench.clock.NowMs();
  EXPECT_EQ(bench.Transact(BlockWrite(0x100, 0x22), kBlockCapacity), kAckTimeout);
  EXPECT_GE(bench.clock.NowMs() - start, 1000U);
}

TEST(ProgramAgainstSim, HearsNakForTheEnquiry) {
  sim::BootLoaderConfig config;
  config.faults.nakEnquiry = true;
  Bench bench(config);
  EXPECT_EQ(bench.EnterBootMode(), -1);
  ASSERT_EQ(bench.window.Boxes().size(), 1U);
  EXPECT_EQ(bench.window.Boxes()[0].text, "Receive except ACK");
}

}  // namespace
}  // namespace fwu::test
