#include "steered_peer.h"

#include <algorithm>
#include <array>
#include <utility>

namespace fwu::test {

namespace {

constexpr std::uint64_t kNsPerUs = 1'000;
constexpr std::uint64_t kNsPerMs = 1'000'000;
constexpr std::uint64_t kCoarseStepNs = 10 * kNsPerMs;

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kDle = 0x10;

// Noise between events: a few bytes from the steering, or a flood of up to 4 KiB.
constexpr std::size_t kMaxNoise = 32;
constexpr std::size_t kFloodStep = 16;

enum Action : std::uint8_t {
  // Nothing the line does here can make a good Frame that was not sent.
  kPass,
  kDropEvent,
  kFlipByte,
  kDelayCoarse,
  kDelayFine,
  kSplit,
  kNoiseBefore,
  kNoiseAfter,
  kFloodBefore,
  kCut,
  // These may: a Frame's content shifts under its CRC, or an old Frame comes again.
  kDropByte,
  kTruncate,
  kNoiseInside,
  kRepeat,
  kActionCount,
};

// The bytes where a changed value must show as a CRC error: the control byte, payload bytes that are no DLE and
// the CRC bytes. A DLE, or a byte turned into one, would move the Frame's end instead of spoiling its check;
// outside Frames (the unframed messages) any byte but a DLE.
std::vector<bool> FlipSafe(std::span<const std::uint8_t> bytes) {
  std::vector<bool> safe(bytes.size(), false);
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] != kDle) {
      safe[i] = true;
      ++i;
      continue;
    }
    if (i + 1 >= bytes.size() || bytes[i + 1] != kStx) {
      ++i;
      continue;
    }
    // DLE STX, control, payload with DLE doubled, DLE ETX, two raw CRC bytes.
    i += 2;
    bool first = true;
    while (i < bytes.size()) {
      if (bytes[i] == kDle && i + 1 < bytes.size() && bytes[i + 1] == kEtx && !first) {
        for (std::size_t crc = i + 2; crc < std::min(i + 4, bytes.size()); ++crc) {
          safe[crc] = true;
        }
        i += 4;
        break;
      }
      if (bytes[i] == kDle) {
        i += 2;  // a doubled DLE: neither half may change
      } else {
        safe[i] = true;
        ++i;
      }
      first = false;
    }
  }
  return safe;
}

std::size_t Position(Steering& steering, std::size_t size) {
  const auto wide = static_cast<std::size_t>((steering.Next() << 8U) | steering.Next());
  return size == 0 ? 0 : wide % size;
}

// Noise never holds an STX, so it can neither open a Frame nor pass for an unframed message, and it never ends in
// a DLE, which with an STX after it would open a Frame.
void Sanitize(std::vector<std::uint8_t>& noise) {
  std::replace(noise.begin(), noise.end(), kStx, std::uint8_t{0x00});
  if (!noise.empty() && noise.back() == kDle) {
    noise.back() = 0x00;
  }
}

}  // namespace

SteeredPeer::SteeredPeer(WatchedPort& port, sim::BootLoaderConfig config, Steering& steering)
    : port_(port), loader_(std::move(config)), steering_(steering), lastMs_(port.clock().NowMs()) {
  port_.OnWrite([this](ScriptedPort&, std::span<const std::uint8_t> written) { OnWrite(written); });
}

SteeredPeer::~SteeredPeer() {
  port_.OnWrite(nullptr);
}

void SteeredPeer::FollowClock() {
  const std::uint32_t nowMs = port_.clock().NowMs();
  nowNs_ += static_cast<std::uint32_t>(nowMs - lastMs_) * kNsPerMs;
  lastMs_ = nowMs;
}

void SteeredPeer::OnWrite(std::span<const std::uint8_t> written) {
  FollowClock();
  Event event{{written.begin(), written.end()}};
  if (!port_.IsCut() && Tamper(event)) {
    std::uint64_t at = std::max(inFreeNs_, nowNs_) + event.extraDelayNs;
    for (std::size_t i = 0; i < event.bytes.size(); ++i) {
      at += (i == event.splitAt ? event.splitDelayNs : 0) + kLineByteNs;
      loader_.FeedByte(event.bytes[i], (at + kNsPerUs - 1) / kNsPerUs);
    }
    inFreeNs_ = at;
  }
  DeliverOutput();
}

void SteeredPeer::DeliverOutput() {
  for (auto& chunk : loader_.TakeOutput()) {
    Event event{std::move(chunk.bytes)};
    if (port_.IsCut() || !Tamper(event)) {
      continue;
    }
    std::uint64_t at = std::max(outFreeNs_, chunk.notBeforeUs * kNsPerUs) + event.extraDelayNs;
    for (std::size_t i = 0; i < event.bytes.size(); ++i) {
      at += (i == event.splitAt ? event.splitDelayNs : 0) + kLineByteNs;
      // A byte is readable from the first tick at or after its stop bit.
      const std::uint64_t delayNs = at > nowNs_ ? at - nowNs_ : 0;
      const std::array<std::uint8_t, 1> one{event.bytes[i]};
      port_.Arrive(one, static_cast<std::uint32_t>((delayNs + kNsPerMs - 1) / kNsPerMs));
    }
    outFreeNs_ = at;
    bytesTowardsHost_ += event.bytes.size();
  }
}

void SteeredPeer::Noise(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t count, bool asFlood) {
  std::vector<std::uint8_t> noise(count);
  for (auto& byte : noise) {
    if (asFlood) {
      noiseState_ = noiseState_ * 1'103'515'245U + 12'345U;
      byte = static_cast<std::uint8_t>(noiseState_ >> 16U);
    } else {
      byte = steering_.Next();
    }
  }
  Sanitize(noise);
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at, bytes.size())), noise.begin(), noise.end());
}

bool SteeredPeer::Tamper(Event& event) {
  if (passLeft_ > 0 || steering_.Empty()) {
    passLeft_ = std::max(passLeft_ - 1, 0);
    return true;
  }
  auto& bytes = event.bytes;
  const auto action = static_cast<Action>(steering_.Next() % kActionCount);
  bool kept = true;
  switch (action) {
    case kPass:
      break;
    case kDropEvent:
      kept = false;
      break;
    case kFlipByte: {
      const std::vector<bool> safe = FlipSafe(bytes);
      const std::size_t from = Position(steering_, bytes.size());
      const std::uint8_t mask = std::max<std::uint8_t>(steering_.Next(), 1);
      for (std::size_t n = 0; n < bytes.size(); ++n) {
        const std::size_t at = (from + n) % bytes.size();
        if (safe[at]) {
          bytes[at] ^= mask;
          if (bytes[at] == kDle) {
            bytes[at] ^= 0x80U;  // still changed, and still no DLE
          }
          break;
        }
      }
      break;
    }
    case kDelayCoarse:
      event.extraDelayNs = steering_.Next() * kCoarseStepNs;
      break;
    case kDelayFine:
      event.extraDelayNs = steering_.Next() * kNsPerMs;
      break;
    case kSplit:
      event.splitAt = Position(steering_, bytes.size());
      event.splitDelayNs = steering_.Next() * kCoarseStepNs;
      break;
    case kNoiseBefore:
      Noise(bytes, 0, steering_.Next() % kMaxNoise + 1, false);
      break;
    case kNoiseAfter:
      Noise(bytes, bytes.size(), steering_.Next() % kMaxNoise + 1, false);
      break;
    case kFloodBefore:
      Noise(bytes, 0, (steering_.Next() + std::size_t{1}) * kFloodStep, true);
      break;
    case kCut:
      port_.Cut();
      kept = false;
      break;
    case kDropByte:
      mayHaveForged_ = true;
      if (!bytes.empty()) {
        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(Position(steering_, bytes.size())));
      }
      break;
    case kTruncate:
      mayHaveForged_ = true;
      bytes.resize(Position(steering_, bytes.size()));
      break;
    case kNoiseInside: {
      mayHaveForged_ = true;
      const std::size_t at = Position(steering_, bytes.size());
      const std::size_t count = steering_.Next() % kMaxNoise + 1;
      for (std::size_t n = 0; n < count; ++n) {
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at + n), steering_.Next());
      }
      break;
    }
    case kRepeat: {
      mayHaveForged_ = true;
      const std::vector<std::uint8_t> again = bytes;
      bytes.insert(bytes.end(), again.begin(), again.end());
      break;
    }
    case kActionCount:
      break;
  }
  injectedDelayNs_ += event.extraDelayNs + event.splitDelayNs;
  passLeft_ = steering_.Next();
  return kept;
}

}  // namespace fwu::test
