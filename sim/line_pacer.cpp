#include "sim/line_pacer.h"

#include <algorithm>

namespace fwu::sim {

namespace {

constexpr std::uint64_t kNsPerUs = 1'000;

}  // namespace

bool LinePacer::Add(OutChunk chunk) {
  if (chunk.bytes.empty()) {
    return true;
  }
  if (held_ + chunk.bytes.size() > kMaxHeld) {
    return false;
  }
  held_ += chunk.bytes.size();
  queue_.push_back({chunk.notBeforeUs, std::move(chunk.bytes)});
  return true;
}

std::uint64_t LinePacer::DueNs() const {
  return std::max(lineFreeNs_, queue_.front().notBeforeUs * kNsPerUs);
}

std::vector<std::uint8_t> LinePacer::Take(TimeUs nowUs, std::size_t max) {
  const std::uint64_t nowNs = nowUs * kNsPerUs;
  std::vector<std::uint8_t> due;
  while (!queue_.empty() && due.size() < max) {
    const std::uint64_t dueNs = DueNs();
    if (dueNs > nowNs) {
      break;
    }
    const std::uint64_t startNs = std::max(dueNs, nowNs > kCatchUpNs ? nowNs - kCatchUpNs : 0);
    lineFreeNs_ = startNs + byteNs_;
    Held& front = queue_.front();
    due.push_back(front.bytes[front.taken++]);
    --held_;
    if (front.taken == front.bytes.size()) {
      queue_.pop_front();
    }
  }
  return due;
}

std::optional<TimeUs> LinePacer::NextDueUs() const {
  if (queue_.empty()) {
    return std::nullopt;
  }
  return (DueNs() + kNsPerUs - 1) / kNsPerUs;
}

}  // namespace fwu::sim
