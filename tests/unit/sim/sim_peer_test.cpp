#include "support/sim_peer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <vector>

#include "support/wire.h"

namespace fwu::test {
namespace {

struct Arrival {
  std::uint32_t atMs;
  std::uint8_t byte;
  friend bool operator==(const Arrival&, const Arrival&) = default;
};

// Reads until the line has been quiet for quietMs, noting when each byte became readable.
std::vector<Arrival> ReadAll(ScriptedPort& port, std::uint32_t quietMs = 50) {
  std::vector<Arrival> arrivals;
  std::uint32_t lastMs = port.clock().NowMs();
  std::array<std::uint8_t, 64> taken{};
  while (port.clock().NowMs() - lastMs <= quietMs) {
    // Waits of a tick each, so that every byte is noted at the tick it became readable.
    const std::size_t count = port.Read(taken, 1);
    if (count > 0) {
      lastMs = port.clock().NowMs();
    }
    for (std::size_t i = 0; i < count; ++i) {
      arrivals.push_back({lastMs, taken[i]});
    }
  }
  return arrivals;
}

Bytes BytesOf(const std::vector<Arrival>& arrivals) {
  Bytes bytes;
  for (const auto& a : arrivals) {
    bytes.push_back(a.byte);
  }
  return bytes;
}

TEST(SimPeer, DeliversAnswersAtLineSpeedOnTheVirtualClock) {
  VirtualClock clock(1000);
  ScriptedPort port(clock);
  SimPeer peer(port);
  const Bytes id{0x02, 'k', 'z', 'k', 'z', '4', '2', 0x03, 0x05};
  port.Write(id);
  // 9 bytes reach the controller after 2.34 ms; its 7-byte reply then takes 0.26 ms a byte.
  const auto reply = ReadAll(port);
  EXPECT_EQ(BytesOf(reply), (Bytes{0x02, 'B', 'O', 'O', 'T', 0x03, 0x15}));
  ASSERT_EQ(reply.size(), 7U);
  EXPECT_EQ(reply.front().atMs, 1003U);  // stop bit at 1002.604 ms
  EXPECT_EQ(reply.back().atMs, 1005U);   // stop bit at 1004.167 ms

  port.Write(WireFrame(0x05));
  const auto ack = ReadAll(port);
  EXPECT_EQ(BytesOf(ack), WireFrame(0x06));
  port.Write(WireFrame(0x04));
  EXPECT_TRUE(ReadAll(port).empty());
  EXPECT_TRUE(peer.Loader().Programming());
}

TEST(SimPeer, LongFramesTakeTheirLineTimeBothWays) {
  VirtualClock clock(0xFFFFFF00U);  // the tick wraps during the exchange
  ScriptedPort port(clock);
  sim::BootLoaderConfig config;
  config.needsIdentification = false;
  config.version = std::string(200, 'v');
  SimPeer peer(port, config);
  port.Write(WireFrame(0x02, {0xF0, 0x10}));  // 10 bytes: 2.6 ms to the controller
  const std::uint32_t start = clock.NowMs();
  const auto ack = ReadAll(port);
  ASSERT_EQ(ack.size(), 7U);
  EXPECT_EQ(ack.back().atMs - start, 5U);  // (10 + 7) bytes: 4.43 ms
  port.Write(WireFrame(0x04));
  const std::uint32_t turn = clock.NowMs();
  const auto answer = ReadAll(port);
  // 7 bytes in, then 203 payload bytes + 7 bytes of framing out: 210 bytes, 54.7 ms after the EOT left.
  ASSERT_EQ(answer.size(), 217U - 7U);
  EXPECT_EQ(answer.back().atMs - turn, 57U);
  const auto frames = ParseFrames(BytesOf(answer));
  ASSERT_EQ(frames.size(), 1U);
  EXPECT_TRUE(frames[0].crcOk);
  EXPECT_EQ(frames[0].payload.size(), 203U);
}

TEST(SimPeer, InstantLineAnswersAtTheTickOfTheWrite) {
  VirtualClock clock(500);
  ScriptedPort port(clock);
  sim::BootLoaderConfig config;
  config.needsIdentification = false;
  SimPeer peer(port, config, 0);
  port.Write(WireFrame(0x05));
  EXPECT_EQ(port.PendingBytes(), 7U);
  std::array<std::uint8_t, 7> answer{};
  EXPECT_EQ(port.Read(answer, 1000), 7U);
  EXPECT_EQ(Bytes(answer.begin(), answer.end()), WireFrame(0x06));
  EXPECT_EQ(clock.NowMs(), 500U);
}

}  // namespace
}  // namespace fwu::test
