#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "app/dialog_adapter.h"
#include "fwsim_process.h"
#include "protocol/boot_entry.h"
#include "protocol/command_call.h"
#include "serial/posix_clock.h"
#include "serial/posix_port.h"
#include "support/recording_window.h"
#include "support/wire.h"

namespace fwu::test {
namespace {

const Bytes kEnqFrame{0x10, 0x02, 0x05, 0x10, 0x03, 0x23, 0x4C};
const Bytes kAckFrame{0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x66};
const Bytes kEotFrame{0x10, 0x02, 0x04, 0x10, 0x03, 0xFB, 0x55};
const Bytes kBootReply{0x02, 'B', 'O', 'O', 'T', 0x03, 0x15};

// The boot-mode entry as the updater performs it, checking every byte the controller sends back.
void EnterBootMode(const Terminal& line) {
  line.Write(Bytes{0x02});
  line.Write(Bytes{'k', 'z', 'k', 'z', '4', '2'});
  line.Write(Bytes{0x03, 0x05});
  EXPECT_EQ(line.Read(kBootReply.size()), kBootReply);
  line.Write(kEnqFrame);
  EXPECT_EQ(line.Read(kAckFrame.size()), kAckFrame);
  line.Write(kEotFrame);
}

// One command exchange; the answer Frame must be exactly expectedAnswer.
void Exchange(const Terminal& line, const Bytes& command, const Bytes& answerPayload) {
  line.Write(WireFrame(0x02, command));
  EXPECT_EQ(line.Read(kAckFrame.size()), kAckFrame);
  line.Write(kEotFrame);
  const Bytes answer = WireFrame(0x02, answerPayload);
  EXPECT_EQ(line.Read(answer.size()), answer);
  line.Write(kAckFrame);
  EXPECT_EQ(line.Read(kEotFrame.size()), kEotFrame);
}

Bytes TestBlock() {
  Bytes block(256);
  for (std::size_t i = 0; i < block.size(); ++i) {
    block[i] = static_cast<std::uint8_t>(i * 7U);  // every value once: one DLE, doubled on the wire
  }
  return block;
}

TEST(Fwsim, AnswersTheHandshakeAndACommandOnItsTerminal) {
  FwsimProcess sim({"--version", "V9.9", "--program-kind", "20"});
  const std::string path = sim.ReadLine();
  ASSERT_FALSE(path.empty()) << sim.ErrorOutput();
  const Terminal line(path);
  ASSERT_TRUE(line.IsOpen());
  EnterBootMode(line);
  EnterBootMode(line);
  Exchange(line, {0xF0, 0x10}, {0xF0, 0x00, 0x00, 'V', '9', '.', '9'});
  Exchange(line, {0x0A, 0x00}, {0x0A, 0x00, 0x00, 0x20});
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), std::optional<int>(0));
  EXPECT_EQ(sim.RestOfOutput(), "") << "no verdict without --expect";
}

TEST(Fwsim, ExitsAfterTheUpdateWithAVerdictAndALog) {
  TempDir dir;
  Bytes main(524288, 0xFF);
  const Bytes block = TestBlock();
  std::copy(block.begin(), block.end(), main.begin() + 0x7FF00);
  const Bytes second(65536, 0xFF);
  WriteFile(dir.Path("main.bin"), main);
  WriteFile(dir.Path("second.bin"), second);
  // The controller held other firmware before: the erase must clear it.
  WriteFile(dir.Path("old.bin"), Bytes(4096, 0x00));

  FwsimProcess sim({"--pace", "--exit-after-update", "--load-main", dir.Path("old.bin"), "--expect-main",
                    dir.Path("main.bin"), "--expect-second", dir.Path("second.bin"), "--log", dir.Path("log.txt"),
                    "--dump-main", dir.Path("dump.bin")});
  const std::string path = sim.ReadLine();
  ASSERT_FALSE(path.empty()) << sim.ErrorOutput();
  {
    const Terminal line(path);
    EnterBootMode(line);
    Exchange(line, {0x02, 0x00}, {0x02, 0x00, 0x00});
    Exchange(line, BlockWritePayload(0x00, 0x7FF00, block), {0x03, 0x00, 0x00});
    Exchange(line, {0x05, 0x00}, {0x05, 0x00, 0x00});
    Exchange(line, {0x07, 0x00, 0x00}, {0x07, 0x00, 0x00});
  }
  EXPECT_EQ(sim.Wait(), std::optional<int>(0));
  EXPECT_EQ(sim.RestOfOutput(), "memory: main equal, second equal\n");
  EXPECT_EQ(ReadFile(dir.Path("dump.bin")), main);

  const std::vector<std::uint8_t> log = ReadFile(dir.Path("log.txt"));
  const std::string text(log.begin(), log.end());
  EXPECT_NE(text.find(" in id - len=9 wire=9 ok\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" in frame STX len=266 wire=274 ok cmd=03:00 addr=0x0007FF00\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" out frame STX len=3 wire=10 ok cmd=07 status=0000\n"), std::string::npos) << text;
}

TEST(Fwsim, ReportsMemoryThatDiffersWithExitStatus1) {
  TempDir dir;
  Bytes main(524288, 0xFF);
  main[0x100] = 0x42;
  WriteFile(dir.Path("main.bin"), main);
  FwsimProcess sim({"--expect-main", dir.Path("main.bin")});
  const std::string path = sim.ReadLine();
  ASSERT_FALSE(path.empty()) << sim.ErrorOutput();
  sim.Signal(SIGINT);
  EXPECT_EQ(sim.Wait(), std::optional<int>(1));
  EXPECT_EQ(sim.RestOfOutput(), "memory: main differs: 1 byte, the first at offset 0x00100 (expected 42, found FF)\n");
}

TEST(Fwsim, KeepsServingWhenTheUpdaterClosesAndReopensItsLink) {
  TempDir dir;
  const std::string link = dir.Path("com7");
  FwsimProcess sim({"--link", link, "--stop-after-blocks", "1", "--status", "05:00=0102"});
  ASSERT_FALSE(sim.ReadLine().empty()) << sim.ErrorOutput();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const Terminal line(link);
    ASSERT_TRUE(line.IsOpen());
    EnterBootMode(line);
    Exchange(line, {0x05, 0x00}, {0x05, 0x01, 0x02});
  }
  {
    const Terminal line(link);
    EnterBootMode(line);
    Exchange(line, BlockWritePayload(0x00, 0x0, TestBlock()), {0x03, 0x00, 0x00});
  }
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), std::optional<int>(0));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link))) << "the link goes at exit";
}

TEST(Fwsim, ExitsWhenTheUpdaterClosesIfAsked) {
  FwsimProcess sim({"--exit-on-close"});
  const std::string path = sim.ReadLine();
  ASSERT_FALSE(path.empty()) << sim.ErrorOutput();
  {
    const Terminal line(path);
    EnterBootMode(line);
  }
  EXPECT_EQ(sim.Wait(), std::optional<int>(0));
}

TEST(Fwsim, RefusesBadArgumentsAndUnreadableFiles) {
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--stop-after-blocks", "many"},
       "fwsim: --stop-after-blocks needs a count from 0 to 1000000, not 'many'\n"
       "Try 'fwsim --help' for more information.\n"},
      {{"--expect-main", "/nonexistent/main.bin"},
       "fwsim: cannot read '/nonexistent/main.bin': No such file or "
       "directory\n"},
  };
  for (const auto& c : cases) {
    FwsimProcess sim(c.args);
    EXPECT_EQ(sim.ReadLine(), "");
    EXPECT_EQ(sim.Wait(), std::optional<int>(2));
    EXPECT_EQ(sim.ErrorOutput(), c.message);
  }
}

// The program's own link code on the POSIX serial backend, against fwsim on a paced line.
TEST(Fwsim, ServesTheProgramsLinkCodeOnTheSerialBackend) {
  TempDir dir;
  Bytes main(524288, 0xFF);
  const Bytes block = TestBlock();
  std::copy(block.begin(), block.end(), main.begin());
  WriteFile(dir.Path("main.bin"), main);
  FwsimProcess sim({"--pace", "--exit-after-update", "--expect-main", dir.Path("main.bin"), "--version", "V3.1"});
  const std::string path = sim.ReadLine();
  ASSERT_FALSE(path.empty()) << sim.ErrorOutput();

  PosixSerialPort port;
  ASSERT_EQ(port.Open(path), OpenResult::Ok);
  PosixClock clock;
  Link link{port, clock};
  RecordingWindow window;
  std::array<std::uint8_t, 278> answer{};
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(SendBootId(link, window), 0);
    std::array<std::uint8_t, 100> reply{};
    EXPECT_EQ(ReceiveBootReply(link, window, reply), 4);
    ASSERT_EQ(ConfirmBootLoader(link, window), 0);
  }
  ASSERT_EQ(CallCommand(link, window, Bytes{0xF0, 0x10}, answer, 280), 7);
  EXPECT_EQ(std::string(answer.begin() + 3, answer.begin() + 7), "V3.1");
  EXPECT_EQ(CallCommand(link, window, Bytes{0x02, 0x00}, answer, 280), 3);
  EXPECT_EQ(CallCommand(link, window, BlockWritePayload(0x00, 0x0, block), std::span(answer).first(48), 50), 3);
  EXPECT_EQ(CallCommand(link, window, Bytes{0x05, 0x00}, answer, 280), 3);
  EXPECT_EQ(CallCommand(link, window, Bytes{0x07, 0x00, 0x00}, answer, 280), 3);
  EXPECT_TRUE(window.Boxes().empty());
  port.Close();
  EXPECT_EQ(sim.Wait(), std::optional<int>(0));
  EXPECT_EQ(sim.RestOfOutput(), "memory: main equal\n");
}

// The handshake and one command on the POSIX backend against a controller with faults: two NAKs are absorbed by
// the repeats, a third ends the exchange with -15, and a silent controller is reported after the boot reply's
// 500 ms and the enquiry's 1000 ms.
TEST(Fwsim, LinkFaultsReachTheOperatorAsTheirMessages) {
  struct Case {
    std::vector<std::string> args;
    std::int16_t handshake;
    std::int16_t command;
    std::vector<std::string> boxes;
    int minMs;
  };
  const std::vector<Case> cases{
      {{"--nak-commands", "2"}, 0, 7, {}, 0},
      {{"--nak-commands", "3"}, 0, -15, {"     -15 : Retry over at command transmission"}, 0},
      {{"--silent"}, -1, 0, {"ACK receive timeout"}, 1500},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--version", "V3.1"});
    FwsimProcess sim(args);
    const std::string path = sim.ReadLine();
    ASSERT_FALSE(path.empty()) << sim.ErrorOutput();
    PosixSerialPort port;
    ASSERT_EQ(port.Open(path), OpenResult::Ok);
    PosixClock clock;
    Link link{port, clock};
    RecordingWindow window;

    const std::uint32_t start = clock.NowMs();
    ASSERT_EQ(SendBootId(link, window), 0);
    std::array<std::uint8_t, 100> reply{};
    ReceiveBootReply(link, window, reply);
    const std::int16_t handshake = ConfirmBootLoader(link, window);
    const std::uint32_t elapsed = clock.NowMs() - start;
    EXPECT_EQ(handshake, c.handshake) << c.args[0];
    if (handshake == 0) {
      std::array<std::uint8_t, 278> answer{};
      EXPECT_EQ(CallCommand(link, window, Bytes{0xF0, 0x10}, answer, 280), c.command) << c.args[0];
    } else {
      // 500 ms for the boot reply, then 1000 ms for the ACK Frame; a generous bound above.
      EXPECT_GE(elapsed, static_cast<std::uint32_t>(c.minMs)) << c.args[0];
      EXPECT_LT(elapsed, 5000U) << c.args[0];
    }
    std::vector<std::string> shown;
    for (const auto& box : window.Boxes()) {
      EXPECT_EQ(box.text, box.caption);
      EXPECT_EQ(box.style, BoxStyle::Error);
      shown.push_back(box.text);
    }
    EXPECT_EQ(shown, c.boxes) << c.args[0];
    port.Close();
  }
}

}  // namespace
}  // namespace fwu::test
