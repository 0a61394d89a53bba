#include "sim/boot_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sim_test_host.h"
#include "support/wire.h"

namespace fwu::sim {
namespace {

using test::Bytes;
using test::WireFrame;

const Bytes kEnqFrame{0x10, 0x02, 0x05, 0x10, 0x03, 0x23, 0x4C};
const Bytes kAckFrame{0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x66};
const Bytes kEotFrame{0x10, 0x02, 0x04, 0x10, 0x03, 0xFB, 0x55};
const Bytes kNakFrame{0x10, 0x02, 0x15, 0x10, 0x03, 0xB2, 0xD9};
const Bytes kKindQuery{0x10, 0x02, 0x02, 0x0A, 0x00, 0x10, 0x03, 0x97, 0x78};
// 0A 00 00 10: the payload's DLE goes out doubled.
const Bytes kKindAnswer{0x10, 0x02, 0x02, 0x0A, 0x00, 0x00, 0x10, 0x10, 0x10, 0x03, 0xF4, 0xE3};
// STX "BOOT" ETX, then the XOR of BOOT and ETX.
const Bytes kBootReply{0x02, 'B', 'O', 'O', 'T', 0x03, 0x15};

TEST(SimBootLoader, AnswersTheHandshakeTwiceInARow) {
  TestHost host;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(host.Send({0x02}, 10'000), Bytes{});
    EXPECT_EQ(host.Send({'k', 'z', 'k', 'z', '4', '2'}, 10'000), Bytes{});
    EXPECT_EQ(host.Send({0x03, 0x05}), kBootReply);
    EXPECT_EQ(host.Send(kEnqFrame), kAckFrame);
    EXPECT_EQ(host.Send(kEotFrame), Bytes{});
    EXPECT_TRUE(host.loader.Programming());
  }
}

TEST(SimBootLoader, RefusesAWrongIdentificationAndWaitsForTheRightOne) {
  const Bytes wrongCode{0x02, 'k', 'z', 'k', 'z', '4', '3', 0x03, 0x04};
  const Bytes wrongBcc{0x02, 'k', 'z', 'k', 'z', '4', '2', 0x03, 0x06};
  const Bytes noise{0x55, 0x02, 0x02, 0xAA};
  TestHost host;
  EXPECT_EQ(host.Send(wrongCode), Bytes{});
  EXPECT_EQ(host.Send(wrongBcc), Bytes{});
  EXPECT_EQ(host.Send(kEnqFrame), Bytes{}) << "no enquiry is answered before the identification";
  EXPECT_EQ(host.Send(kKindQuery), Bytes{}) << "no command is taken before boot mode";
  // Noise, then a good message right behind it (its STX follows a stray STX).
  EXPECT_EQ(host.Send(test::Concat({noise, {0x02, 'k', 'z', 'k', 'z', '4', '2', 0x03, 0x05}})), kBootReply);
  ASSERT_FALSE(host.loader.Line().empty());
  const auto skipped = std::find_if(host.loader.Line().begin(), host.loader.Line().end(),
                                    [](const LineRecord& r) { return r.kind == LineRecord::Kind::Skipped; });
  ASSERT_NE(skipped, host.loader.Line().end());
  EXPECT_EQ(skipped->wireLength, wrongCode.size() + wrongBcc.size());
}

TEST(SimBootLoader, IdentificationSpreadOverMoreThanASecondIsNotTaken) {
  TestHost host;
  host.Send({0x02, 'k', 'z', 'k'}, 1'000'001);
  EXPECT_EQ(host.Send({'z', '4', '2', 0x03, 0x05}), Bytes{});
  host.Send({0x02, 'k', 'z', 'k'}, 1'000'000);  // exactly the limit: still one message
  EXPECT_EQ(host.Send({'z', '4', '2', 0x03, 0x05}), kBootReply);
}

TEST(SimBootLoader, RunsACommandExchangeWithAResendAfterNak) {
  TestHost host;
  host.EnterBootMode();
  EXPECT_EQ(host.Send(kKindQuery), kAckFrame);
  EXPECT_EQ(host.Send(kEotFrame), kKindAnswer);
  EXPECT_EQ(host.Send(kNakFrame), kKindAnswer) << "a NAK has the answer sent again";
  EXPECT_EQ(host.Send(kAckFrame), kEotFrame);
  EXPECT_EQ(host.Send(kAckFrame), Bytes{}) << "a stray ACK after the close is ignored";

  ASSERT_EQ(host.loader.Commands().size(), 1U);
  const CommandRecord& record = host.loader.Commands().front();
  EXPECT_EQ(record.code, (CommandCode{0x0A, 0x00}));
  EXPECT_EQ(record.length, 2U);
  EXPECT_EQ(record.status, std::optional<std::uint16_t>(0));
  EXPECT_FALSE(record.refused);
}

TEST(SimBootLoader, AnswersWithProgramKindAndVersion) {
  BootLoaderConfig config;
  config.programKind = 0x20;
  config.version = "V2.13 build 7";
  TestHost host(config);
  host.EnterBootMode();
  EXPECT_EQ(host.Call({0x0A, 0x00}), (Bytes{0x0A, 0x00, 0x00, 0x20}));
  Bytes version{0xF0, 0x00, 0x00};
  version.insert(version.end(), config.version.begin(), config.version.end());
  EXPECT_EQ(host.Call({0xF0, 0x10}), version);
}

TEST(SimBootLoader, NaksADamagedCommandAndTakesItsRepeat) {
  TestHost host;
  host.EnterBootMode();
  const Bytes command{0x0A, 0x00};
  EXPECT_EQ(host.Send(test::DamagedFrame(0x02, command)), kNakFrame);
  EXPECT_EQ(host.Send(kKindQuery), kAckFrame);
  EXPECT_EQ(host.Send(kEotFrame), kKindAnswer);
}

TEST(SimBootLoader, TakesFramesWithEscapedBytesAndADleCrcByte) {
  TestHost host;
  host.EnterBootMode();
  // A block full of DLE, STX and ETX: every DLE doubled on the wire, the others single.
  Bytes command = BlockWrite(0x00, 0x1000, 0x10);
  std::fill(command.begin() + 100, command.begin() + 150, 0x03);
  std::fill(command.begin() + 150, command.begin() + 200, 0x02);
  EXPECT_EQ(host.Call(command), (Bytes{0x03, 0x00, 0x00}));
  const auto memory = host.loader.Memory().Bytes(DeviceMemory::Region::Main);
  EXPECT_TRUE(std::equal(command.begin() + 10, command.end(), memory.begin() + 0x1000));
  // STX Frame with payload 20: its CRC's low byte is 0x10 and goes out single (10 02 02 20 10 03 10 A4).
  EXPECT_EQ(host.Send({0x10, 0x02, 0x02, 0x20, 0x10, 0x03, 0x10, 0xA4}), kAckFrame);
}

// Each malformed command gets its status and changes nothing.
TEST(SimBootLoader, AnswersMalformedCommandsWithANonzeroStatus) {
  Bytes shortBlock = BlockWrite(0x00, 0, 0x11);
  shortBlock.pop_back();
  Bytes badLengthField = BlockWrite(0x00, 0, 0x11);
  badLengthField[8] = 0x02;
  const struct {
    const char* name;
    Bytes command;
    std::uint16_t status;
  } cases[] = {
      {"empty", {}, kStatusBadLength},
      {"one byte", {0x0A}, kStatusBadLength},
      {"unknown", {0x42, 0x00}, kStatusUnknownCommand},
      {"unknown qualifier", {0x0A, 0x01}, kStatusUnknownCommand},
      {"query with argument", {0x0A, 0x00, 0x00}, kStatusBadLength},
      {"erase with argument", {0x02, 0x00, 0x00}, kStatusBadLength},
      {"short block", shortBlock, kStatusBadLength},
      {"block length field", badLengthField, kStatusBadDataLength},
      {"main past the end", BlockWrite(0x00, 0x80000, 0x11), kStatusOutOfRange},
      {"main far out", BlockWrite(0x00, 0xFFFFFF00, 0x11), kStatusOutOfRange},
      {"main unaligned", BlockWrite(0x00, 0x180, 0x11), kStatusUnaligned},
      {"main straddles end", BlockWrite(0x00, 0x7FF80, 0x11), kStatusOutOfRange},
      {"second below", BlockWrite(0x10, 0x2FF00, 0x11), kStatusOutOfRange},
      {"second past the end", BlockWrite(0x10, 0x40000, 0x11), kStatusOutOfRange},
      {"second unaligned", BlockWrite(0x10, 0x30001, 0x11), kStatusUnaligned},
      {"07 10 other address", {0x07, 0x10, 0x00, 0x04, 0x00, 0x00}, kStatusOutOfRange},
      {"08 00 short", {0x08, 0x00, 0x00, 0x03, 0x00}, kStatusBadLength},
      {"07 00 without argument", {0x07, 0x00}, kStatusBadLength},
      {"07 00 nonzero argument", {0x07, 0x00, 0x01}, kStatusBadArgument},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host;
    host.EnterBootMode();
    const Bytes answer = host.Call(c.command);
    ASSERT_EQ(answer.size(), 3U);
    EXPECT_EQ(answer[0], c.command.empty() ? 0 : c.command[0]);
    EXPECT_EQ(answer[1] << 8U | answer[2], c.status);
    for (const auto region : {DeviceMemory::Region::Main, DeviceMemory::Region::Second}) {
      const auto bytes = host.loader.Memory().Bytes(region);
      EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; }));
    }
  }
}

TEST(SimBootLoader, WritesBothRegionsUpToTheirLastBlock) {
  TestHost host;
  host.EnterBootMode();
  const Bytes ok3{0x03, 0x00, 0x00};
  EXPECT_EQ(host.Call({0x03, 0x20}), ok3);
  EXPECT_EQ(host.Call(BlockWrite(0x10, 0x30000, 0xA1)), ok3);
  EXPECT_EQ(host.Call(BlockWrite(0x10, 0x3FF00, 0xA2)), ok3);
  EXPECT_EQ(host.Call({0x07, 0x10, 0x00, 0x03, 0x00, 0x00}), (Bytes{0x07, 0x00, 0x00}));
  EXPECT_EQ(host.Call({0x08, 0x00, 0x00, 0x03, 0x00, 0x00}), (Bytes{0x08, 0x00, 0x00}));
  EXPECT_EQ(host.Call({0x02, 0x00}), (Bytes{0x02, 0x00, 0x00}));
  EXPECT_EQ(host.Call(BlockWrite(0x00, 0x00000, 0xB1)), ok3);
  EXPECT_EQ(host.Call(BlockWrite(0x00, 0x7FF00, 0xB2)), ok3);
  EXPECT_EQ(host.Call({0x05, 0x00}), (Bytes{0x05, 0x00, 0x00}));
  EXPECT_EQ(host.loader.UpdatesFinished(), 0);
  EXPECT_EQ(host.Call({0x07, 0x00, 0x00}), (Bytes{0x07, 0x00, 0x00}));
  EXPECT_EQ(host.loader.UpdatesFinished(), 1);

  const auto second = host.loader.Memory().Bytes(DeviceMemory::Region::Second);
  const auto main = host.loader.Memory().Bytes(DeviceMemory::Region::Main);
  ASSERT_EQ(second.size(), 65536U);
  ASSERT_EQ(main.size(), 524288U);
  EXPECT_EQ(second[0x00000], 0xA1);
  EXPECT_EQ(second[0x000FF], 0xA1);
  EXPECT_EQ(second[0x00100], 0xFF);
  EXPECT_EQ(second[0x0FEFF], 0xFF);
  EXPECT_EQ(second[0x0FF00], 0xA2);
  EXPECT_EQ(second[0x0FFFF], 0xA2);
  EXPECT_EQ(main[0x00000], 0xB1);
  EXPECT_EQ(main[0x000FF], 0xB1);
  EXPECT_EQ(main[0x00100], 0xFF);
  EXPECT_EQ(main[0x7FEFF], 0xFF);
  EXPECT_EQ(main[0x7FF00], 0xB2);
  EXPECT_EQ(main[0x7FFFF], 0xB2);

  const auto& commands = host.loader.Commands();
  ASSERT_EQ(commands.size(), 10U);
  EXPECT_EQ(commands[2].address, std::optional<std::uint32_t>(0x3FF00));
  EXPECT_EQ(commands[7].address, std::optional<std::uint32_t>(0x7FF00));
}

TEST(SimBootLoader, ErasesBeforeItCanOverwrite) {
  TestHost host;
  host.EnterBootMode();
  EXPECT_EQ(host.Call(BlockWrite(0x00, 0x100, 0x0F)), (Bytes{0x03, 0x00, 0x00}));
  // Flash only clears bits: F0 over 0F cannot be programmed without an erase.
  EXPECT_EQ(host.Call(BlockWrite(0x00, 0x100, 0xF0)), (Bytes{0x03, 0x00, 0x07}));
  EXPECT_EQ(host.Call({0x02, 0x00}), (Bytes{0x02, 0x00, 0x00}));
  EXPECT_EQ(host.Call(BlockWrite(0x00, 0x100, 0xF0)), (Bytes{0x03, 0x00, 0x00}));
  EXPECT_EQ(host.loader.Memory().Bytes(DeviceMemory::Region::Main)[0x1FF], 0xF0);
}

// --- injected faults ---

TEST(SimBootLoaderFaults, NaksTheFirstCommandFrames) {
  BootLoaderConfig config;
  config.faults.nakCommands = 2;
  TestHost host(config);
  host.EnterBootMode();
  EXPECT_EQ(host.Send(kKindQuery), kNakFrame);
  EXPECT_EQ(host.Send(kKindQuery), kNakFrame);
  EXPECT_EQ(host.Send(kKindQuery), kAckFrame);
  EXPECT_EQ(host.Send(kEotFrame), kKindAnswer);
  EXPECT_EQ(host.Send(kAckFrame), kEotFrame);
  EXPECT_EQ(host.Call({0x0A, 0x00}), (Bytes{0x0A, 0x00, 0x00, 0x10})) << "later commands are taken at once";
  ASSERT_EQ(host.loader.Commands().size(), 4U);
  EXPECT_TRUE(host.loader.Commands()[0].refused);
  EXPECT_TRUE(host.loader.Commands()[1].refused);
  EXPECT_FALSE(host.loader.Commands()[1].status);
  EXPECT_FALSE(host.loader.Commands()[2].refused);
}

TEST(SimBootLoaderFaults, DamagesTheFirstAnswers) {
  BootLoaderConfig config;
  config.faults.damageResponses = 2;
  TestHost host(config);
  host.EnterBootMode();
  EXPECT_EQ(host.Send(kKindQuery), kAckFrame);
  const Bytes damaged = host.Send(kEotFrame);
  ASSERT_EQ(damaged.size(), kKindAnswer.size());
  EXPECT_TRUE(std::equal(damaged.begin(), damaged.end() - 2, kKindAnswer.begin()));
  EXPECT_NE(damaged, kKindAnswer);
  EXPECT_NE(host.Send(kNakFrame), kKindAnswer);
  EXPECT_EQ(host.Send(kNakFrame), kKindAnswer);
  EXPECT_EQ(host.Send(kAckFrame), kEotFrame);
  const auto& line = host.loader.Line();
  const auto damagedOut = std::count_if(line.begin(), line.end(), [](const LineRecord& r) {
    return r.direction == Direction::Out && r.outcome == ReceivedFrame::Outcome::BadCrc;
  });
  EXPECT_EQ(damagedOut, 2);
}

TEST(SimBootLoaderFaults, StaysSilent) {
  BootLoaderConfig config;
  config.faults.silent = true;
  TestHost host(config);
  EXPECT_EQ(host.Identify(), Bytes{});
  EXPECT_EQ(host.Send(kEnqFrame), Bytes{});
  EXPECT_EQ(host.Send(kKindQuery), Bytes{});
  EXPECT_EQ(host.Send(kEotFrame), Bytes{});
  EXPECT_EQ(host.loader.Commands().size(), 1U) << "it still listens";
}

TEST(SimBootLoaderFaults, AnswersTheEnquiryWithNak) {
  BootLoaderConfig config;
  config.faults.nakEnquiry = true;
  TestHost host(config);
  EXPECT_EQ(host.Identify(), kBootReply);
  EXPECT_EQ(host.Send(kEnqFrame), kNakFrame);
  EXPECT_FALSE(host.loader.Programming());
}

TEST(SimBootLoaderFaults, AnswersAChosenCommandWithAChosenStatus) {
  BootLoaderConfig config;
  config.faults.statusFor = {{{0x03, 0x20}, 0x0102}, {{0x02, 0x00}, 0xFFFF}};
  TestHost host(config);
  host.EnterBootMode();
  EXPECT_EQ(host.Call(BlockWrite(0x10, 0x30000, 0x00)), (Bytes{0x03, 0x00, 0x00}));
  EXPECT_EQ(host.Call({0x03, 0x20}), (Bytes{0x03, 0x01, 0x02}));
  EXPECT_EQ(host.Call({0x02, 0x00}), (Bytes{0x02, 0xFF, 0xFF}));
  EXPECT_EQ(host.Call({0x0A, 0x00}), (Bytes{0x0A, 0x00, 0x00, 0x10}));
  EXPECT_EQ(host.loader.Memory().Bytes(DeviceMemory::Region::Second)[0], 0x00) << "a refused erase erases nothing";
  EXPECT_EQ(host.loader.Commands()[1].status, std::optional<std::uint16_t>(0x0102));
}

TEST(SimBootLoaderFaults, FallsSilentAfterTheNthBlockWrite) {
  BootLoaderConfig config;
  config.faults.stopAfterBlockWrites = 2;
  TestHost host(config);
  host.EnterBootMode();
  EXPECT_EQ(host.Call({0x02, 0x00}).size(), 3U);
  EXPECT_EQ(host.Call(BlockWrite(0x00, 0x000, 0x01)).size(), 3U);
  EXPECT_EQ(host.Send(WireFrame(0x02, BlockWrite(0x00, 0x100, 0x02))), kAckFrame);
  EXPECT_EQ(test::ParseFrames(host.Send(kEotFrame)).size(), 1U);
  EXPECT_EQ(host.Send(kAckFrame), kEotFrame) << "the n-th block write is still closed";
  EXPECT_EQ(host.Send(WireFrame(0x02, BlockWrite(0x00, 0x200, 0x03))), Bytes{});
  EXPECT_EQ(host.Identify(), Bytes{});
}

TEST(SimBootLoaderFaults, StopAfterNoBlockWriteHearsNoBlockWrite) {
  BootLoaderConfig config;
  config.faults.stopAfterBlockWrites = 0;
  TestHost host(config);
  host.EnterBootMode();
  EXPECT_EQ(host.Call({0x02, 0x00}).size(), 3U) << "other commands before the first block are answered";
  EXPECT_EQ(host.Send(WireFrame(0x02, BlockWrite(0x00, 0x000, 0x01))), Bytes{});
}

TEST(SimBootLoaderFaults, AnswersWithAChosenPayloadLength) {
  BootLoaderConfig config;
  config.faults.lengthFor = {{{0x0A, 0x00}, 5}, {{0x05, 0x00}, 279}, {{0xF0, 0x10}, 2}};
  TestHost host(config);
  host.EnterBootMode();
  EXPECT_EQ(host.Call({0x0A, 0x00}), (Bytes{0x0A, 0x00, 0x00, 0x10, 0x00}));
  const Bytes longAnswer = host.Call({0x05, 0x00});
  ASSERT_EQ(longAnswer.size(), 279U);
  EXPECT_EQ(longAnswer[0], 0x05);
  EXPECT_TRUE(std::all_of(longAnswer.begin() + 1, longAnswer.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(host.Call({0xF0, 0x10}), (Bytes{0xF0, 0x00}));
}

TEST(SimBootLoaderFaults, DelaysEveryReply) {
  BootLoaderConfig config;
  config.replyDelayUs = 40'000;
  BootLoader loader(config);
  loader.Feed(test::Bytes{0x02, 'k', 'z', 'k', 'z', '4', '2', 0x03, 0x05}, 1'000);
  loader.Feed(kEnqFrame, 2'000);
  const auto output = loader.TakeOutput();
  ASSERT_EQ(output.size(), 2U);
  EXPECT_EQ(output[0].notBeforeUs, 41'000U);
  EXPECT_EQ(output[1].notBeforeUs, 42'000U);
  EXPECT_EQ(output[1].bytes, kAckFrame);
}

TEST(SimBootLoaderConfig, RefusesUnusableSettings) {
  const auto problem = [](auto change) {
    BootLoaderConfig config;
    change(config);
    return CheckConfig(config);
  };
  EXPECT_EQ(problem([](BootLoaderConfig&) {}), "");
  EXPECT_NE(problem([](BootLoaderConfig& c) { c.version = std::string(276, 'x'); }), "");
  EXPECT_EQ(problem([](BootLoaderConfig& c) { c.version = std::string(275, 'x'); }), "");
  EXPECT_NE(problem([](BootLoaderConfig& c) { c.bootReplyBody = "A\x03"; }), "");
  EXPECT_NE(problem([](BootLoaderConfig& c) { c.faults.statusFor = {{{0x02, 0x00}, 0}}; }), "");
  EXPECT_NE(problem([](BootLoaderConfig& c) { c.faults.lengthFor = {{{0x02, 0x00}, 601}}; }), "");
  EXPECT_NE(problem([](BootLoaderConfig& c) { c.faults.nakCommands = -1; }), "");
}

// --- the line ---

TEST(SimBootLoaderLine, ToleratesNoiseTruncatedAndOversizedFrames) {
  TestHost host;
  host.EnterBootMode();
  // Noise between Frames, a DLE followed by noise, a Frame cut off and left for more than a second.
  EXPECT_EQ(host.Send({0x00, 0xFF, 0x03, 0x10, 0x41, 0x06}), Bytes{});
  EXPECT_EQ(host.Send({0x10, 0x02, 0x02, 0x0A}, 1'000'001), Bytes{});
  EXPECT_EQ(host.Send(kKindQuery), kAckFrame);
  EXPECT_EQ(host.Send(kEotFrame), kKindAnswer);
  EXPECT_EQ(host.Send(kAckFrame), kEotFrame);
  // A Frame far longer than any command is dropped without growing the buffer, and the next one is taken.
  Bytes flood{0x10, 0x02, 0x02};
  flood.resize(5'000, 0x41);
  EXPECT_EQ(host.Send(flood), Bytes{});
  EXPECT_EQ(host.Send(kKindQuery), kAckFrame);

  const auto& line = host.loader.Line();
  const auto has = [&](ReceivedFrame::Outcome outcome) {
    return std::any_of(line.begin(), line.end(), [&](const LineRecord& r) { return r.outcome == outcome; });
  };
  EXPECT_TRUE(has(ReceivedFrame::Outcome::Truncated));
  EXPECT_TRUE(has(ReceivedFrame::Outcome::Overrun));

  // Noise is counted, not kept.
  host.loader.ClearLogs();
  host.Send(Bytes(100'000, 0x55));
  EXPECT_EQ(host.Send(kKindQuery), kAckFrame);
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.front().kind, LineRecord::Kind::Skipped);
  EXPECT_EQ(line.front().wireLength, 100'000U);
  EXPECT_EQ(line.front().payload.size(), 64U);
}

TEST(SimBootLoaderLine, AClockSteppingBackIsNoSilence) {
  TestHost host;
  host.Send({0x02, 'k', 'z', 'k'});
  host.nowUs -= 3'000'000;
  EXPECT_EQ(host.Send({'z', '4', '2', 0x03, 0x05}), kBootReply);
}

TEST(SimBootLoaderLine, LogsEveryFrameWithDirectionAndTime) {
  TestHost host;
  host.nowUs = 100;
  host.Identify();
  host.Send(kEnqFrame, 500);
  host.Send(kEotFrame, 500);
  const auto& line = host.loader.Line();
  ASSERT_EQ(line.size(), 5U);
  EXPECT_EQ(line[0].kind, LineRecord::Kind::Identification);
  EXPECT_EQ(line[0].atUs, 20'100U);
  EXPECT_EQ(line[0].wireLength, 9U);
  EXPECT_EQ(line[1].kind, LineRecord::Kind::BootReply);
  EXPECT_EQ(line[1].direction, Direction::Out);
  EXPECT_EQ(line[1].payload, kBootReply);
  EXPECT_EQ(line[2].control, 0x05);
  EXPECT_EQ(line[2].direction, Direction::In);
  EXPECT_EQ(line[2].atUs, 30'100U);
  EXPECT_EQ(line[2].wireLength, 7U);
  EXPECT_EQ(line[3].control, 0x06);
  EXPECT_EQ(line[3].direction, Direction::Out);
  EXPECT_EQ(line[4].control, 0x04);
  EXPECT_EQ(line[4].atUs, 30'600U);
  host.loader.ClearLogs();
  EXPECT_TRUE(host.loader.Line().empty());
}

}  // namespace
}  // namespace fwu::sim
