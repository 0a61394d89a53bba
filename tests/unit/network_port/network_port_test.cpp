#include "network_port/network_port.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "support/telnet_bytes.h"
#include "support/virtual_clock.h"

namespace fwu::network_port {
namespace {

using namespace test::telnet;  // NOLINT(google-build-using-namespace): the scripted server's vocabulary
using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAreArray;

// A server scripted as the chunks it sends, in order, each as soon as it is asked for; then silence, or the
// connection's end. Waits pass on the virtual clock. The socket may be made to refuse the next few sends.
class ScriptedServer final : public TcpConnection {
 public:
  ScriptedServer(test::VirtualClock& clock, std::deque<Bytes> chunks, bool closesAfter)
      : clock_(clock), chunks_(std::move(chunks)), closesAfter_(closesAfter) {}

  bool Connect(const NetworkUrl& /*server*/, std::uint32_t /*limitMs*/, std::string& /*reason*/) override {
    return true;
  }
  void Close() override { closed = true; }
  std::ptrdiff_t Receive(std::span<std::uint8_t> into, std::uint32_t waitMs) override {
    if (chunks_.empty()) {
      if (closesAfter_) {
        return kGone;
      }
      clock_.Advance(waitMs);
      return 0;
    }
    Bytes& chunk = chunks_.front();
    const std::size_t count = std::min(chunk.size(), into.size());
    std::copy_n(chunk.begin(), count, into.begin());
    chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count));
    if (chunk.empty()) {
      chunks_.pop_front();
    }
    return static_cast<std::ptrdiff_t>(count);
  }
  std::ptrdiff_t Send(std::span<const std::uint8_t> bytes, std::uint32_t /*waitMs*/) override {
    if (closesAfter_ && chunks_.empty()) {
      return kGone;
    }
    if (sendsRefused > 0) {
      --sendsRefused;
      return 0;
    }
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    return static_cast<std::ptrdiff_t>(bytes.size());
  }
  void Queue(Bytes chunk) { chunks_.push_back(std::move(chunk)); }

  Bytes sent;
  bool closed = false;
  int sendsRefused = 0;

 private:
  test::VirtualClock& clock_;
  std::deque<Bytes> chunks_;
  bool closesAfter_;
};

struct Fixture {
  Fixture(std::deque<Bytes> chunks, bool closesAfter) {
    auto clockOwned = std::make_unique<test::VirtualClock>(kStartMs);
    clock = clockOwned.get();
    auto serverOwned = std::make_unique<ScriptedServer>(*clock, std::move(chunks), closesAfter);
    server = serverOwned.get();
    port = std::make_unique<NetworkPort>(std::move(serverOwned), std::move(clockOwned));
  }
  static constexpr std::uint32_t kStartMs = 1000;
  test::VirtualClock* clock = nullptr;
  ScriptedServer* server = nullptr;
  std::unique_ptr<NetworkPort> port;
};

struct OpenCase {
  const char* name;
  std::string url;
  std::deque<Bytes> server;
  bool closesAfter;
  OpenResult result;
  std::string reason;
  std::uint32_t tookMs;
};

// How an open ends against servers that agree, refuse, stay silent or hang up, and how long it waits: the
// negotiation's limit holds at 5000 ms and fails one past it.
TEST(NetworkPortTest, OpenEndsWithTheOperatorsMessageAndItsReason) {
  const std::string waitingForAll =
      "no answer from 10.0.0.7:2217 to COM-PORT-OPTION, BINARY to the server, BINARY from the server within 5 s (no "
      "telnet server there? socket:// reaches a raw TCP port)";
  const std::vector<OpenCase> cases = {
      {"agreeing server", "rfc2217://10.0.0.7:2217", {AgreeingServer()}, false, OpenResult::Ok, "", 0},
      {"raw TCP sets nothing", "socket://10.0.0.7:4001", {}, false, OpenResult::Ok, "", 0},
      {"silent server", "rfc2217://10.0.0.7:2217", {}, false, OpenResult::WriteSettingsFailed, waitingForAll, 5001},
      {"settings left unanswered",
       "rfc2217://10.0.0.7:2217",
       {Verb(kDo, kComPort), Verb(kDo, kBinary), Verb(kWill, kBinary), BaudAck(38400), DataSizeAck(8)},
       false,
       OpenResult::WriteSettingsFailed,
       "no answer from 10.0.0.7:2217 to SET-PARITY NONE, SET-STOPSIZE 1, SET-CONTROL no flow control within 5 s",
       5001},
      {"refused baud rate",
       "rfc2217://10.0.0.7:2217",
       {Verb(kDo, kComPort), BaudAck(9600)},
       false,
       OpenResult::WriteSettingsFailed,
       "the server answered SET-BAUDRATE 38400 with 9600",
       0},
      {"server hangs up",
       "rfc2217://10.0.0.7:2217",
       {Verb(kDo, kComPort)},
       true,
       OpenResult::OpenFailed,
       "10.0.0.7:2217 closed the connection before the line was set",
       0},
      {"not a URL",
       "rfc2217://10.0.0.7",
       {},
       false,
       OpenResult::OpenFailed,
       "rfc2217://10.0.0.7: no port after the host (HOST:PORT)",
       0},
  };
  for (const OpenCase& c : cases) {
    Fixture f(c.server, c.closesAfter);
    EXPECT_EQ(f.port->Open(c.url), c.result) << c.name;
    EXPECT_EQ(f.port->OpenFailureReason(), c.reason) << c.name;
    EXPECT_EQ(f.port->IsOpen(), c.result == OpenResult::Ok) << c.name;
    EXPECT_EQ(f.clock->NowMs() - Fixture::kStartMs, c.tookMs) << c.name;
  }
}

// After the open: the controller's bytes come out unescaped and without the server's notifications, as many as
// the reader takes, the rest on the next read without a wait; a read waits through telnet commands alone for the
// line's bytes, and no longer than it was asked to. Written bytes go out with 0xFF doubled, also when the socket
// has no room at first; a purge drops what has come and asks the server to drop its buffers; a connection that
// goes leaves the port open but mute, every read waiting its whole time.
TEST(NetworkPortTest, CarriesTheLineLikeASerialPort) {
  constexpr std::uint32_t kWaitMs = 50;
  Fixture f({AgreeingServer()}, false);
  ASSERT_EQ(f.port->Open("rfc2217://10.0.0.7:2217"), OpenResult::Ok);
  const std::size_t negotiation = f.server->sent.size();
  const auto read = [&](std::size_t room, std::uint32_t expectedMs) {
    Bytes bytes(room);
    const std::uint32_t before = f.clock->Now();
    bytes.resize(f.port->Read(bytes, kWaitMs));
    EXPECT_EQ(f.clock->Now() - before, expectedMs);
    return bytes;
  };

  f.server->Queue(Join({{0x10, 0xFF, 0xFF}, ComPort(106, {0x10}), {0x03}}));
  EXPECT_THAT(read(2, 0), ElementsAreArray(Bytes{0x10, 0xFF}));
  EXPECT_THAT(read(16, 0), ElementsAreArray(Bytes{0x03}));
  EXPECT_THAT(read(16, kWaitMs), ElementsAreArray(Bytes{}));
  f.server->Queue(ComPort(107, {0x30}));
  f.server->Queue({0x42});
  EXPECT_THAT(read(16, 0), ElementsAreArray(Bytes{0x42}));
  f.server->Queue(ComPort(107, {0x30}));
  EXPECT_THAT(read(16, kWaitMs), ElementsAreArray(Bytes{}));

  const Bytes frame{0x10, 0x02, 0x06, 0x10, 0x03, 0xFF, 0x4B};
  f.server->sendsRefused = 3;
  const WriteOutcome written = f.port->Write(frame);
  EXPECT_TRUE(written.ok);
  EXPECT_EQ(written.written, frame.size());
  EXPECT_EQ(f.server->sent.size(), negotiation);
  EXPECT_THAT(read(16, kWaitMs), ElementsAreArray(Bytes{}));
  EXPECT_EQ(f.server->sent.size(), negotiation + frame.size() + 1);
  f.server->Queue({0x55, 0x66});
  f.port->Purge();
  EXPECT_THAT(read(16, kWaitMs), ElementsAreArray(Bytes{}));
  EXPECT_THAT(Bytes(f.server->sent.begin() + static_cast<std::ptrdiff_t>(negotiation), f.server->sent.end()),
              ElementsAreArray(Join(
                  {{0x10, 0x02, 0x06, 0x10, 0x03, 0xFF, 0xFF, 0x4B}, {0xFF, 0xFA, 0x2C, 0x0C, 0x03, 0xFF, 0xF0}})));

  Fixture gone({AgreeingServer()}, true);
  ASSERT_EQ(gone.port->Open("rfc2217://10.0.0.7:2217"), OpenResult::Ok);
  Bytes room(16);
  const std::uint32_t lostAt = gone.clock->Now();
  EXPECT_EQ(gone.port->Read(room, kWaitMs), 0U);
  EXPECT_EQ(gone.clock->Now() - lostAt, kWaitMs);
  EXPECT_FALSE(gone.port->Write(frame).ok);
  EXPECT_TRUE(gone.port->IsOpen());
  gone.port->Close();
  EXPECT_TRUE(gone.server->closed);
}

}  // namespace
}  // namespace fwu::network_port
