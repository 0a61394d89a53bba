#include "bench/usb_adapter.h"

#include <algorithm>

namespace fwu::bench {

void UsbAdapter::Arrive(std::uint64_t nowNs, std::span<const std::uint8_t> bytes) {
  if (!bytes.empty()) {
    waiting_.push_back({nowNs, {bytes.begin(), bytes.end()}});
    waitingBytes_ += bytes.size();
  }
}

std::vector<UsbAdapter::Piece> UsbAdapter::Release(std::uint64_t nowNs) {
  std::vector<Piece> pieces;
  while (waitingBytes_ >= kPacketBytes) {
    Take(kPacketBytes, pieces);
  }
  const std::optional<std::uint64_t> deadline = Deadline();
  if (deadline && *deadline <= nowNs) {
    Take(waitingBytes_, pieces);
  }
  return pieces;
}

std::optional<std::uint64_t> UsbAdapter::Deadline() const {
  if (waiting_.empty()) {
    return std::nullopt;
  }
  return waiting_.front().arrivedNs + latencyNs_;
}

void UsbAdapter::Take(std::size_t count, std::vector<Piece>& pieces) {
  while (count > 0 && !waiting_.empty()) {
    Piece& front = waiting_.front();
    const std::size_t taken = std::min(count, front.bytes.size());
    const auto end = front.bytes.begin() + static_cast<std::ptrdiff_t>(taken);
    pieces.push_back({front.arrivedNs, {front.bytes.begin(), end}});
    front.bytes.erase(front.bytes.begin(), end);
    if (front.bytes.empty()) {
      waiting_.pop_front();
    }
    count -= taken;
    waitingBytes_ -= taken;
  }
}

}  // namespace fwu::bench
