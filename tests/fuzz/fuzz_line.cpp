#include "fuzz_line.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "support/wire.h"

namespace fwu::test {

namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kEscape = 0xFE;
constexpr std::uint32_t kCoarseDelayMs = 10;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kEot = 0x04;

enum Command : std::uint8_t {
  kLiteral = 0,
  kAfterWrite = 1,
  kCoarseDelay = 2,
  kFineDelay = 3,
  kGoodFrame = 4,
  kDamagedFrame = 5,
  kAckFrame = 6,
  kNakFrame = 7,
  kEotFrame = 8,
};

class Decoder {
 public:
  explicit Decoder(std::span<const std::uint8_t> data) : data_(data) { segments_.emplace_back(); }

  std::vector<Segment> Run() {
    while (!AtEnd()) {
      const std::uint8_t byte = Next();
      if (byte != kEscape || AtEnd()) {
        Emit({byte});
        continue;
      }
      Command(Next());
    }
    return std::move(segments_);
  }

 private:
  [[nodiscard]] bool AtEnd() const { return at_ >= data_.size(); }
  std::uint8_t Next() { return AtEnd() ? 0 : data_[at_++]; }

  void Emit(std::span<const std::uint8_t> bytes) {
    auto& out = segments_.back().bytes;
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  void Emit(std::initializer_list<std::uint8_t> bytes) {
    Emit(std::span<const std::uint8_t>(bytes.begin(), bytes.size()));
  }

  void Begin(bool afterWrite, std::uint32_t delayMs) { segments_.push_back({afterWrite, delayMs, {}}); }

  Bytes TakePayload() {
    const std::size_t length = std::min<std::size_t>(Next(), data_.size() - at_);
    Bytes payload(data_.begin() + static_cast<std::ptrdiff_t>(at_),
                  data_.begin() + static_cast<std::ptrdiff_t>(at_ + length));
    at_ += length;
    return payload;
  }

  void Command(std::uint8_t command) {
    switch (command) {
      case kLiteral:
        Emit({kEscape});
        return;
      case kAfterWrite:
        Begin(true, 0);
        return;
      case kCoarseDelay:
        Begin(false, Next() * kCoarseDelayMs);
        return;
      case kFineDelay:
        Begin(false, Next());
        return;
      case kGoodFrame:
      case kDamagedFrame: {
        const std::uint8_t control = Next();
        const Bytes payload = TakePayload();
        Emit(command == kGoodFrame ? WireFrame(control, payload) : DamagedFrame(control, payload));
        return;
      }
      case kAckFrame:
        Emit(WireFrame(kAck));
        return;
      case kNakFrame:
        Emit(WireFrame(kNak));
        return;
      case kEotFrame:
        Emit(WireFrame(kEot));
        return;
      default:
        Emit({kEscape, command});
        return;
    }
  }

  std::span<const std::uint8_t> data_;
  std::size_t at_ = 0;
  std::vector<Segment> segments_;
};

}  // namespace

bool Tracing() {
  static const bool tracing = std::getenv("FWU_FUZZ_TRACE") != nullptr;
  return tracing;
}

void Require(bool holds, const char* invariant) {
  if (!holds) {
    static_cast<void>(std::fprintf(stderr, "invariant broken: %s\n", invariant));
    std::abort();
  }
}

void WatchedClock::SleepMs(std::uint32_t ms) {
  if (port_ != nullptr) {
    port_->Settle();
  }
  VirtualClock::SleepMs(ms);
}

WatchedPort::WatchedPort(WatchedClock& clock, std::uint32_t giveUpMs)
    : ScriptedPort(clock),
      watchedClock_(clock),
      startMs_(clock.NowMs()),
      giveUpMs_(giveUpMs),
      lastActivityMs_(startMs_) {
  watchedClock_.Watch(this);
}

WatchedPort::~WatchedPort() {
  watchedClock_.Watch(nullptr);
}

void WatchedPort::Settle() {
  const std::size_t held = reader_ != nullptr ? reader_->Held() : 0U;
  const std::size_t readUpTo = taken_.size() - std::min(held, taken_.size() - settled_);
  if (readUpTo == settled_) {
    return;
  }
  const std::uint32_t now = clock().NowMs();
  for (; settled_ < readUpTo; ++settled_) {
    reads_.push_back({now, taken_[settled_]});
  }
  Activity();
}

std::size_t WatchedPort::Read(std::span<std::uint8_t> into, std::uint32_t waitMs) {
  Require(ElapsedMs() <= giveUpMs_, "the code under test waits on the line past every limit");
  Settle();
  if (cut_) {
    clock().Advance(waitMs);
    return 0;
  }
  const std::size_t count = ScriptedPort::Read(into, waitMs);
  taken_.insert(taken_.end(), into.begin(), into.begin() + static_cast<std::ptrdiff_t>(count));
  if (reader_ == nullptr) {
    Settle();
  }
  return count;
}

WriteOutcome WatchedPort::Write(std::span<const std::uint8_t> bytes) {
  Require(ElapsedMs() <= giveUpMs_, "the code under test keeps writing past every limit");
  Settle();
  Activity();
  if (cut_) {
    ++failedWrites_;
    return {};
  }
  return ScriptedPort::Write(bytes);
}

void WatchedPort::Purge() {
  // The link drops what it holds right after this call: those bytes were never read.
  Settle();
  settled_ = taken_.size();
  ScriptedPort::Purge();
}

void WatchedPort::Activity() {
  const std::uint32_t now = clock().NowMs();
  longestSilenceMs_ = std::max(longestSilenceMs_, now - lastActivityMs_);
  lastActivityMs_ = now;
}

std::uint32_t WatchedPort::LongestSilenceMs() {
  return std::max(longestSilenceMs_, clock().NowMs() - lastActivityMs_);
}

std::vector<std::uint8_t> WatchedPort::ReadBytes() const {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(reads_.size());
  for (const ByteRead& read : reads_) {
    bytes.push_back(read.byte);
  }
  return bytes;
}

bool FrameInProgress(const std::vector<WatchedPort::ByteRead>& reads, std::uint32_t fromMs, std::uint32_t atMs,
                     int capacity) {
  enum class State { Hunt, Marker, Content, Crc };
  constexpr std::uint32_t kGapMs = 1000;
  constexpr int kWorkingContent = 600;
  const int limit = std::clamp(capacity, 0, kWorkingContent);
  State state = State::Hunt;
  std::uint32_t reference = 0;  // the DLE that opened the marker, the last stored byte, the last CRC byte
  int count = 0;
  bool escape = false;
  int crcBytes = 0;
  const auto expireAt = [&](std::uint32_t now) {
    if (state != State::Hunt && now - reference > kGapMs) {
      state = State::Hunt;
    }
  };
  for (const auto& read : reads) {
    if (read.atMs - fromMs > atMs - fromMs) {
      continue;  // before the receiver began afresh, or after the moment asked about
    }
    expireAt(read.atMs);
    switch (state) {
      case State::Hunt:
        if (read.byte == kDle) {
          state = State::Marker;
          reference = read.atMs;
        }
        break;
      case State::Marker:
        if (read.byte == kStx) {
          state = State::Content;
          reference = read.atMs;
          count = 0;
          escape = false;
        } else if (read.byte != kDle) {
          state = State::Hunt;
        }
        break;
      case State::Content:
        if (!escape && read.byte == kDle) {
          escape = true;
          break;
        }
        if (++count > limit) {
          state = State::Hunt;
        } else if (escape && read.byte == kEtx) {
          state = State::Crc;
          crcBytes = 0;
        }
        escape = false;
        reference = read.atMs;
        break;
      case State::Crc:
        reference = read.atMs;
        if (++crcBytes == 2) {
          state = State::Hunt;
        }
        break;
    }
  }
  expireAt(atMs);
  return state != State::Hunt;
}

std::vector<Segment> DecodeTimedStream(std::span<const std::uint8_t> data) {
  return Decoder(data).Run();
}

ScriptPeer::ScriptPeer(ScriptedPort& port, std::vector<Segment> segments)
    : port_(port), segments_(std::move(segments)) {
  // The first segment is never held back: it is what the peer sends before the code under test says anything.
  if (!segments_.empty()) {
    segments_.front().afterHostWrite = false;
  }
  ReleaseGroup();
  port_.OnWrite([this](ScriptedPort&, std::span<const std::uint8_t>) { ReleaseGroup(); });
}

ScriptPeer::~ScriptPeer() {
  port_.OnWrite(nullptr);
}

void ScriptPeer::ReleaseGroup() {
  std::uint32_t delayMs = 0;
  for (bool first = true; next_ < segments_.size(); first = false) {
    const Segment& segment = segments_[next_];
    if (segment.afterHostWrite && !first) {
      break;
    }
    delayMs += segment.delayMs;
    releasedDelayMs_ += segment.delayMs;
    port_.Arrive(segment.bytes, delayMs);
    released_.insert(released_.end(), segment.bytes.begin(), segment.bytes.end());
    ++next_;
  }
}

}  // namespace fwu::test
