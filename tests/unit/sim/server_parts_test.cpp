#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "sim/line_log.h"
#include "sim/line_pacer.h"
#include "sim/memory_check.h"
#include "sim/server_options.h"

namespace fwu::sim {
namespace {

ParsedOptions Parse(std::vector<std::string_view> args) {
  return ParseServerOptions(args);
}

TEST(SimServerOptions, TakesEverySettingAndFault) {
  const auto parsed = Parse({"--link",
                             "/tmp/com7",
                             "--pace",
                             "--log=-",
                             "--program-kind",
                             "0x20",
                             "--version",
                             "V 2.00",
                             "--boot-reply",
                             "BL",
                             "--no-boot-entry",
                             "--reply-delay",
                             "15",
                             "--load-main",
                             "old.bin",
                             "--load-second=old2.bin",
                             "--dump-main",
                             "m.bin",
                             "--dump-second",
                             "s.bin",
                             "--expect-main",
                             "main.bin",
                             "--expect-second",
                             "second.bin",
                             "--exit-after-update",
                             "--exit-on-close",
                             "--nak-commands",
                             "2",
                             "--damage-responses=3",
                             "--silent",
                             "--nak-enq",
                             "--status",
                             "03:20=0102",
                             "--status",
                             "0200=ffff",
                             "--stop-after-blocks",
                             "100",
                             "--response-length",
                             "0A-00=5"});
  ASSERT_EQ(parsed.error, "");
  const ServerOptions& o = parsed.options;
  EXPECT_EQ(o.linkPath, "/tmp/com7");
  EXPECT_TRUE(o.pace);
  EXPECT_EQ(o.logPath, "-");
  EXPECT_EQ(o.loader.programKind, 0x20);
  EXPECT_EQ(o.loader.version, "V 2.00");
  EXPECT_EQ(o.loader.bootReplyBody, "BL");
  EXPECT_FALSE(o.loader.needsIdentification);
  EXPECT_EQ(o.loader.replyDelayUs, 15'000U);
  EXPECT_EQ(o.loadMain, "old.bin");
  EXPECT_EQ(o.loadSecond, "old2.bin");
  EXPECT_EQ(o.dumpMain, "m.bin");
  EXPECT_EQ(o.dumpSecond, "s.bin");
  EXPECT_EQ(o.expectMain, "main.bin");
  EXPECT_EQ(o.expectSecond, "second.bin");
  EXPECT_TRUE(o.exitAfterUpdate);
  EXPECT_TRUE(o.exitOnClose);
  const Faults& f = o.loader.faults;
  EXPECT_EQ(f.nakCommands, 2);
  EXPECT_EQ(f.damageResponses, 3);
  EXPECT_TRUE(f.silent);
  EXPECT_TRUE(f.nakEnquiry);
  ASSERT_EQ(f.statusFor.size(), 2U);
  EXPECT_EQ(f.statusFor[0].code, (CommandCode{0x03, 0x20}));
  EXPECT_EQ(f.statusFor[0].status, 0x0102);
  EXPECT_EQ(f.statusFor[1].code, (CommandCode{0x02, 0x00}));
  EXPECT_EQ(f.statusFor[1].status, 0xFFFF);
  EXPECT_EQ(f.stopAfterBlockWrites, std::optional<int>(100));
  ASSERT_EQ(f.lengthFor.size(), 1U);
  EXPECT_EQ(f.lengthFor[0].code, (CommandCode{0x0A, 0x00}));
  EXPECT_EQ(f.lengthFor[0].length, 5U);
}

TEST(SimServerOptions, DefaultsServeAnUpdateOfProgramKind10) {
  const auto parsed = Parse({});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.loader.programKind, 0x10);
  EXPECT_TRUE(parsed.options.loader.needsIdentification);
  EXPECT_FALSE(parsed.options.pace);
  EXPECT_FALSE(parsed.options.exitAfterUpdate);
  EXPECT_TRUE(Parse({"-h"}).options.help);
  EXPECT_NE(ServerUsage().find("--response-length CODE=N"), std::string::npos);
}

TEST(SimServerOptions, RefusesBadArgumentsWithAClearMessage) {
  const struct {
    std::vector<std::string_view> args;
    std::string error;
  } cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"extra"}, "unknown option 'extra'"},
      {{"--link"}, "--link needs a value"},
      {{"--link="}, "--link needs a non-empty value, not ''"},
      {{"--pace=1"}, "--pace takes no value"},
      {{"--program-kind", "100"}, "--program-kind needs a hex byte, such as 10 or 0x20, not '100'"},
      {{"--program-kind", "zz"}, "--program-kind needs a hex byte, such as 10 or 0x20, not 'zz'"},
      {{"--nak-commands", "-1"}, "--nak-commands needs a count from 0 to 1000000, not '-1'"},
      {{"--damage-responses", "3x"}, "--damage-responses needs a count from 0 to 1000000, not '3x'"},
      {{"--reply-delay", "60001"}, "--reply-delay needs milliseconds from 0 to 60000, not '60001'"},
      {{"--status", "03:20=0"},
       "--status needs CODE=STATUS, such as 03:20=0102 (code bytes and a nonzero status, in hex), not '03:20=0'"},
      {{"--status", "0320"},
       "--status needs CODE=STATUS, such as 03:20=0102 (code bytes and a nonzero status, in hex), not '0320'"},
      {{"--status", "3:20=1"},
       "--status needs CODE=STATUS, such as 03:20=0102 (code bytes and a nonzero status, in hex), not '3:20=1'"},
      {{"--response-length", "0A:00=601"},
       "--response-length needs CODE=LENGTH, such as 0A:00=5 (code bytes in hex, a length from 0 to 600), not "
       "'0A:00=601'"},
      {{"--version", std::string_view("0123456789012345678901234567890123456789012345678901234567890123456789"
                                      "0123456789012345678901234567890123456789012345678901234567890123456789"
                                      "0123456789012345678901234567890123456789012345678901234567890123456789"
                                      "0123456789012345678901234567890123456789012345678901234567890123456")},
       "version text is longer than 275 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(Parse(c.args).error, c.error);
  }
}

TEST(SimLinePacer, SendsAtLineSpeedFromEachChunksTime) {
  LinePacer pacer(LinePacer::kByteNsAt38400);
  EXPECT_FALSE(pacer.NextDueUs());
  ASSERT_TRUE(pacer.Add({10'000, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}));
  EXPECT_EQ(pacer.NextDueUs(), std::optional<TimeUs>(10'000));
  EXPECT_TRUE(pacer.Take(9'999, 100).empty());
  EXPECT_EQ(pacer.Take(10'000, 100), (std::vector<std::uint8_t>{1}));
  EXPECT_EQ(pacer.NextDueUs(), std::optional<TimeUs>(10'261));  // 10'260.417 rounded up
  EXPECT_EQ(pacer.Take(10'520, 100), (std::vector<std::uint8_t>{2}));
  EXPECT_EQ(pacer.Take(10'521, 100), (std::vector<std::uint8_t>{3}));
  // A late turn catches up the line time it missed, up to a limit, and never more than max at once.
  EXPECT_EQ(pacer.Take(11'600, 2), (std::vector<std::uint8_t>{4, 5}));
  EXPECT_EQ(pacer.Take(11'600, 100), (std::vector<std::uint8_t>{6, 7}));  // byte 7 was due at 11'562.5
  // After a long stall, only 2 ms of line time are made up: bytes start at 28'000, 28'260.4 ... 29'822.9.
  ASSERT_TRUE(pacer.Add({0, std::vector<std::uint8_t>(20, 0xEE)}));
  EXPECT_EQ(pacer.Take(30'000, 100), (std::vector<std::uint8_t>{8, 9, 10, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(pacer.NextDueUs(), std::optional<TimeUs>(30'084));
  EXPECT_EQ(pacer.Take(40'000, 100).size(), 8U);
  EXPECT_EQ(pacer.Take(50'000, 100).size(), 7U);
  EXPECT_TRUE(pacer.Empty());
  EXPECT_FALSE(pacer.NextDueUs());
}

TEST(SimLinePacer, UnpacedLineSendsEverythingDueAtOnceAndBoundsWhatItHolds) {
  LinePacer pacer(0);
  ASSERT_TRUE(pacer.Add({5, {1, 2}}));
  ASSERT_TRUE(pacer.Add({7, {3}}));
  EXPECT_EQ(pacer.Take(6, 100), (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(pacer.NextDueUs(), std::optional<TimeUs>(7));
  EXPECT_EQ(pacer.Take(7, 100), (std::vector<std::uint8_t>{3}));
  EXPECT_TRUE(pacer.Add({0, std::vector<std::uint8_t>(LinePacer::kMaxHeld, 0x55)}));
  EXPECT_FALSE(pacer.Add({0, {1}}));
}

TEST(SimLineLog, FormatsOneMachineReadableLinePerRecord) {
  std::vector<std::uint8_t> blockWrite{0x03, 0x00, 0x00, 0x07, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x00};
  blockWrite.resize(266, 0x10);
  const struct {
    LineRecord record;
    std::string line;
  } cases[] = {
      {{1234, Direction::In, LineRecord::Kind::Identification, ReceivedFrame::Outcome::Good, 0, {2, 'k'}, 9},
       "1234 in id - len=2 wire=9 ok"},
      {{5, Direction::Out, LineRecord::Kind::BootReply, ReceivedFrame::Outcome::Good, 0, {2, 3, 1}, 3},
       "5 out boot-reply - len=3 wire=3 ok"},
      {{7, Direction::In, LineRecord::Kind::Frame, ReceivedFrame::Outcome::Good, 0x05, {}, 7},
       "7 in frame ENQ len=0 wire=7 ok"},
      {{8, Direction::In, LineRecord::Kind::Frame, ReceivedFrame::Outcome::Good, 0x02, blockWrite, 300},
       "8 in frame STX len=266 wire=300 ok cmd=03:00 addr=0x0007FF00"},
      {{9, Direction::Out, LineRecord::Kind::Frame, ReceivedFrame::Outcome::BadCrc, 0x02, {0x0A, 0x01, 0x02, 0x10}, 12},
       "9 out frame STX len=4 wire=12 bad-crc cmd=0A status=0102"},
      {{10, Direction::In, LineRecord::Kind::Frame, ReceivedFrame::Outcome::Truncated, 0x41, {}, 4},
       "10 in frame 0x41 len=0 wire=4 truncated"},
      {{11, Direction::In, LineRecord::Kind::Skipped, ReceivedFrame::Outcome::Good, 0, {1, 2, 3}, 3},
       "11 in skipped - len=3 wire=3 ok"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatLineRecord(c.record), c.line);
  }
}

TEST(SimMemoryCheck, NamesTheFirstDifference) {
  const std::vector<std::uint8_t> expected{1, 2, 3, 4};
  EXPECT_EQ(CompareRegion("main", expected, std::vector<std::uint8_t>{1, 2, 3, 4}).text, "main equal");
  const auto differs = CompareRegion("second", expected, std::vector<std::uint8_t>{1, 0xFF, 3, 0xFF});
  EXPECT_FALSE(differs.equal);
  EXPECT_EQ(differs.text, "second differs: 2 bytes, the first at offset 0x00001 (expected 02, found FF)");
  EXPECT_EQ(CompareRegion("main", expected, std::vector<std::uint8_t>{1, 2}).text,
            "main differs: the expected image has 4 bytes, the region 2");
  EXPECT_EQ(VerdictLine({{true, "main equal"}, {true, "second equal"}}), "memory: main equal, second equal");
  EXPECT_EQ(VerdictLine({{true, "second equal"}}), "memory: second equal");
}

}  // namespace
}  // namespace fwu::sim
