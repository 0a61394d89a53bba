#include "support/sim_peer.h"

#include <algorithm>
#include <array>

namespace fwu::test {

namespace {

constexpr std::uint64_t kNsPerUs = 1'000;
constexpr std::uint64_t kNsPerMs = 1'000'000;

}  // namespace

SimPeer::SimPeer(ScriptedPort& port, sim::BootLoaderConfig config, std::uint64_t byteNs)
    : port_(port), loader_(std::move(config)), byteNs_(byteNs), lastMs_(port.clock().NowMs()) {
  port_.OnWrite([this](ScriptedPort&, std::span<const std::uint8_t> written) { OnWrite(written); });
}

SimPeer::~SimPeer() {
  port_.OnWrite(nullptr);
}

sim::TimeUs SimPeer::NowUs() {
  FollowClock();
  return nowNs_ / kNsPerUs;
}

void SimPeer::FollowClock() {
  const std::uint32_t nowMs = port_.clock().NowMs();
  nowNs_ += static_cast<std::uint32_t>(nowMs - lastMs_) * kNsPerMs;  // the 32-bit tick may wrap
  lastMs_ = nowMs;
}

void SimPeer::OnWrite(std::span<const std::uint8_t> written) {
  FollowClock();
  // The controller sees each byte once it has crossed the line, so a long Frame is answered after its last byte.
  std::uint64_t at = std::max(inFreeNs_, nowNs_);
  for (const std::uint8_t byte : written) {
    at += byteNs_;
    loader_.FeedByte(byte, (at + kNsPerUs - 1) / kNsPerUs);
  }
  inFreeNs_ = at;
  Deliver(nowNs_);
}

void SimPeer::Deliver(std::uint64_t nowNs) {
  for (const auto& chunk : loader_.TakeOutput()) {
    std::uint64_t at = std::max(outFreeNs_, chunk.notBeforeUs * kNsPerUs);
    for (const std::uint8_t byte : chunk.bytes) {
      at += byteNs_;
      // A byte is readable from the first tick at or after its stop bit.
      const std::uint64_t delayNs = at > nowNs ? at - nowNs : 0;
      const auto delayMs = static_cast<std::uint32_t>((delayNs + kNsPerMs - 1) / kNsPerMs);
      const std::array<std::uint8_t, 1> one{byte};
      port_.Arrive(one, delayMs);
    }
    outFreeNs_ = at;
  }
}

}  // namespace fwu::test
