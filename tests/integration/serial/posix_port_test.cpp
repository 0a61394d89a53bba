#include "serial/posix_port.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "pseudo_terminal.h"

namespace fwu {
namespace {

using test::Bytes;
using test::kGenerousMs;
using test::Measure;
using test::PseudoTerminal;
using test::WallMs;
using ::testing::ElementsAreArray;

Bytes EveryByteValue() {
  Bytes bytes(256);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

// Reads until count bytes have come or the generous limit has passed, the way the protocol waits for an answer.
Bytes ReadFromPort(SerialPort& port, std::size_t count) {
  constexpr std::uint32_t kWaitMs = 100;
  const double deadline = WallMs() + kGenerousMs;
  Bytes received;
  std::array<std::uint8_t, 1024> taken{};
  while (received.size() < count && WallMs() < deadline) {
    const std::size_t got = port.Read(std::span(taken).first(count - received.size()), kWaitMs);
    received.insert(received.end(), taken.begin(), taken.begin() + static_cast<std::ptrdiff_t>(got));
  }
  return received;
}

std::optional<std::uint8_t> NextByteFromPort(SerialPort& port) {
  const Bytes one = ReadFromPort(port, 1);
  return one.empty() ? std::nullopt : std::optional<std::uint8_t>(one[0]);
}

// A read of waitMs with nothing arriving: it takes nothing, never returns sooner than asked (the protocol's limits
// are built on that) nor anywhere near a hang, and sleeps rather than spins meanwhile.
void ExpectAQuietWait(SerialPort& port, std::uint32_t waitMs) {
  std::array<std::uint8_t, 16> taken{};
  std::size_t got = 1;
  const auto usage = Measure([&] { got = port.Read(taken, waitMs); });
  EXPECT_EQ(got, 0U);
  EXPECT_GE(usage.wallMs, waitMs);
  EXPECT_LT(usage.wallMs, kGenerousMs);
  EXPECT_LT(usage.cpuMs, usage.wallMs / 4);
}

class PosixSerialPortTest : public ::testing::Test {
 protected:
  void OpenPortOnSlave() { ASSERT_EQ(port.Open(terminal.SlavePath()), OpenResult::Ok); }

  PseudoTerminal terminal;
  PosixSerialPort port;
};

TEST_F(PosixSerialPortTest, OpensTheLineRawAt38400Baud8N1) {
  OpenPortOnSlave();
  EXPECT_TRUE(port.IsOpen());

  // A pseudo-terminal's master reports the line settings of its slave.
  termios settings{};
  ASSERT_EQ(tcgetattr(terminal.Master(), &settings), 0);
  EXPECT_EQ(cfgetospeed(&settings), B38400);
  EXPECT_EQ(cfgetispeed(&settings), B38400);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0U);
  EXPECT_EQ(settings.c_cflag & CREAD, static_cast<tcflag_t>(CREAD));
  // No line editing, echo, signals, flow control or translation: every byte value is data to the boot loader.
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0U);
  EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT), 0U);
  EXPECT_EQ(settings.c_oflag & OPOST, 0U);
  EXPECT_EQ(settings.c_cc[VMIN], 0);
  EXPECT_EQ(settings.c_cc[VTIME], 0);
}

TEST_F(PosixSerialPortTest, ASecondOpenOfTheSameLineFailsUntilTheFirstCloses) {
  OpenPortOnSlave();
  PosixSerialPort second;

  EXPECT_EQ(second.Open(terminal.SlavePath()), OpenResult::OpenFailed);
  EXPECT_FALSE(second.IsOpen());

  // The refused open did not disturb the first.
  const Bytes probe = {0x5A};
  terminal.Send(probe);
  EXPECT_EQ(NextByteFromPort(port), 0x5A);

  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(second.Open(terminal.SlavePath()), OpenResult::Ok);
}

TEST_F(PosixSerialPortTest, OpeningAgainClosesTheLineFirst) {
  OpenPortOnSlave();
  // Holding the line itself would make this open fail.
  EXPECT_EQ(port.Open(terminal.SlavePath()), OpenResult::Ok);
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(PosixSerialPortTest, EveryByteValueCrossesUnchangedBothWays) {
  OpenPortOnSlave();
  const Bytes all = EveryByteValue();

  terminal.Send(all);
  EXPECT_THAT(ReadFromPort(port, all.size()), ElementsAreArray(all));

  const WriteOutcome outcome = port.Write(all);
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.written, all.size());
  // Echoed input would have reached the far end before these bytes.
  EXPECT_THAT(terminal.Receive(all.size()), ElementsAreArray(all));
}

TEST_F(PosixSerialPortTest, AReadWithNothingArrivingWaitsItsWholeWaitInPoll) {
  OpenPortOnSlave();
  ExpectAQuietWait(port, 400);
}

TEST_F(PosixSerialPortTest, AByteThatArrivesEndsTheWaitAndWhatCameWithItIsTakenToo) {
  OpenPortOnSlave();
  const Bytes answer = {0x10, 0x02, 0x06, 0x10, 0x03, 0x4B, 0x66};
  std::thread farEnd([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    terminal.Send(answer);
  });
  std::array<std::uint8_t, 64> taken{};
  std::size_t got = 0;

  // A wait far beyond the generous limit: only the byte can end it in time.
  const auto usage = Measure([&] { got = port.Read(taken, 60'000); });
  farEnd.join();

  EXPECT_LT(usage.wallMs, kGenerousMs);
  // One write from the far end arrives as a whole: its first byte wakes the port, and the rest is taken with it.
  ASSERT_GE(got, 1U);
  Bytes all(taken.begin(), taken.begin() + static_cast<std::ptrdiff_t>(got));
  const Bytes rest = ReadFromPort(port, answer.size() - got);
  all.insert(all.end(), rest.begin(), rest.end());
  EXPECT_THAT(all, ElementsAreArray(answer));
}

TEST_F(PosixSerialPortTest, ABytePendingWhileTheLineIsIdleIsReadAtOnce) {
  OpenPortOnSlave();
  const Bytes byte = {0x06};
  terminal.Send(byte);
  EXPECT_EQ(NextByteFromPort(port), 0x06);
}

TEST_F(PosixSerialPortTest, PurgeDiscardsPendingInput) {
  OpenPortOnSlave();
  // One write from the far end arrives as a whole: once its first byte can be read, the rest waits in the queue.
  const Bytes stale = {'x', 'a', 'b', 'c'};
  terminal.Send(stale);
  ASSERT_EQ(NextByteFromPort(port), 'x');

  port.Purge();

  const Bytes fresh = {'z'};
  terminal.Send(fresh);
  EXPECT_EQ(NextByteFromPort(port), 'z');
}

TEST_F(PosixSerialPortTest, AVanishedPeerReadsNothingWithoutSpinningAndWritesFail) {
  OpenPortOnSlave();
  terminal.CloseMaster();
  // poll reports the hang-up at once; the read still lets its wait pass, so a caller's deadline loop cannot spin.
  ExpectAQuietWait(port, 200);

  const Bytes frame = {0x10, 0x02, 0x00, 0x10, 0x03};
  const WriteOutcome outcome = port.Write(frame);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.written, 0U);
  port.Purge();
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(PosixSerialPortTest, AFullLineTakesNothingMoreAndSaysSoHonestly) {
  OpenPortOnSlave();
  constexpr std::size_t kChunk = 256;
  constexpr int kMostChunks = 4096;  // far more than any pseudo-terminal buffers
  constexpr std::uint8_t kPatternLength = 251;
  constexpr std::uint8_t kMarker = 0xFE;  // outside the pattern
  Bytes sent;
  std::uint32_t lastWritten = kChunk;
  double lastCallMs = 0;

  for (int i = 0; i < kMostChunks && lastWritten > 0; ++i) {
    Bytes chunk(kChunk);
    for (std::size_t k = 0; k < kChunk; ++k) {
      chunk[k] = static_cast<std::uint8_t>((sent.size() + k) % kPatternLength);
    }
    WriteOutcome outcome{};
    lastCallMs = Measure([&] { outcome = port.Write(chunk); }).wallMs;
    ASSERT_TRUE(outcome.ok);
    ASSERT_LE(outcome.written, kChunk);
    sent.insert(sent.end(), chunk.begin(), chunk.begin() + outcome.written);
    lastWritten = outcome.written;
  }

  ASSERT_EQ(lastWritten, 0U) << "the line never filled up";
  // The call that found no room waited for some as long as a write of 256 bytes may take (257 ms).
  EXPECT_GE(lastCallMs, 200);
  // Exactly the bytes reported as written reach the far end, and nothing after them but the next write.
  EXPECT_THAT(terminal.Receive(sent.size()), ElementsAreArray(sent));
  const Bytes marker = {kMarker};
  EXPECT_EQ(port.Write(marker).written, 1U);
  EXPECT_THAT(terminal.Receive(1), ElementsAreArray(marker));
}

TEST(PosixSerialPort, APathThatDoesNotExistFailsToOpen) {
  PosixSerialPort port;
  EXPECT_EQ(port.Open("/dev/no-such-serial-port"), OpenResult::OpenFailed);
  EXPECT_FALSE(port.IsOpen());
}

TEST(PosixSerialPort, AFileThatIsNoTerminalHasNoLineSettingsToRead) {
  std::string path = ::testing::TempDir() + "fwu_not_a_terminal_XXXXXX";
  FileDescriptor file(mkstemp(path.data()));
  ASSERT_TRUE(file.IsValid());
  PosixSerialPort port;

  EXPECT_EQ(port.Open(path), OpenResult::ReadSettingsFailed);

  EXPECT_FALSE(port.IsOpen());
  static_cast<void>(unlink(path.c_str()));
}

TEST(PosixSerialPort, AClosedPortReadsNothingAfterItsWaitAndCannotWrite) {
  PosixSerialPort port;
  const Bytes frame = {0x10, 0x02};

  ExpectAQuietWait(port, 20);
  const WriteOutcome outcome = port.Write(frame);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.written, 0U);
  port.Purge();
  port.Close();
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
}  // namespace fwu
