#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace fwu::bench {

// A USB serial adapter between the controller's line and the updater's computer. Its chip holds what arrives
// from the line and hands it to the host in one USB packet when the packet is full (62 bytes of data; the rest
// of the 64 are status) or when its latency timer has run out since the first of the waiting bytes arrived. The
// controller answers every command with three short Frames (ACK, answer, EOT), so each of them waits for the
// timer. Times are nanoseconds on any clock that only goes forward.
class UsbAdapter {
 public:
  static constexpr std::size_t kPacketBytes = 62;

  // Bytes that arrived together, and when; what the adapter releases comes in pieces of these.
  struct Piece {
    std::uint64_t arrivedNs;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Piece&) const = default;
  };

  explicit UsbAdapter(std::uint64_t latencyNs) : latencyNs_(latencyNs) {}

  // Bytes from the line reach the adapter.
  void Arrive(std::uint64_t nowNs, std::span<const std::uint8_t> bytes);
  // What goes on to the host by nowNs, oldest first: every full packet, then the rest if its timer has run out.
  std::vector<Piece> Release(std::uint64_t nowNs);
  // When the timer of the waiting bytes runs out; nothing when none wait.
  [[nodiscard]] std::optional<std::uint64_t> Deadline() const;

 private:
  // Moves up to count bytes off the front of what waits into pieces.
  void Take(std::size_t count, std::vector<Piece>& pieces);

  std::uint64_t latencyNs_;
  std::deque<Piece> waiting_;
  std::size_t waitingBytes_ = 0;
};

}  // namespace fwu::bench
