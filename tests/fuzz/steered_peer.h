#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_line.h"
#include "sim/boot_loader.h"

namespace fwu::test {

// Fuzzer bytes read from the front, one decision at a time; zeros once they run out.
class Steering {
 public:
  explicit Steering(std::span<const std::uint8_t> data) : data_(data) {}
  std::uint8_t Next() { return at_ < data_.size() ? data_[at_++] : 0; }
  [[nodiscard]] bool Empty() const { return at_ >= data_.size(); }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t at_ = 0;
};

// The simulated controller behind a watched port, on a line that the fuzzer steers. Every event on the line (one
// write of the host, one piece of the controller's output) passes unchanged, or is dropped, damaged, cut short,
// delayed, split, repeated, or surrounded by noise, as the steering bytes decide; once they run out the line is
// healthy, so a short input is a few faults somewhere in an otherwise good update.
//
// Some of the damage could, by chance or by the fuzzer's search, leave a Frame whose CRC still matches, or bring
// back an old Frame that the protocol cannot tell from a new one: a byte lost or added inside a Frame, a Frame cut
// short, a Frame repeated. The rest can never pass for a good Frame that the other side did not send: a whole event
// lost, delayed or split, one byte changed where a CRC must catch it, noise between Frames that holds no Frame start.
// MayHaveForged() tells a harness whether a good-looking Frame could have been made up by the line, in which case
// "Finished" proves nothing about the controller's memory.
class SteeredPeer {
 public:
  // One byte on the line at 38400 baud: start bit, 8 data bits, stop bit.
  static constexpr std::uint64_t kLineByteNs = 260'417;

  SteeredPeer(WatchedPort& port, sim::BootLoaderConfig config, Steering& steering);
  SteeredPeer(const SteeredPeer&) = delete;
  SteeredPeer& operator=(const SteeredPeer&) = delete;
  ~SteeredPeer();

  [[nodiscard]] const sim::BootLoader& Loader() const { return loader_; }
  [[nodiscard]] bool MayHaveForged() const { return mayHaveForged_; }
  // All delay the line added on purpose, and every byte that went towards the host.
  [[nodiscard]] std::uint64_t InjectedDelayMs() const { return injectedDelayNs_ / 1'000'000; }
  [[nodiscard]] std::size_t BytesTowardsHost() const { return bytesTowardsHost_; }

 private:
  // What the line does to one event, and where the event's bytes go.
  struct Event {
    std::vector<std::uint8_t> bytes;
    std::uint64_t extraDelayNs = 0;  // before the first byte
    std::size_t splitAt = 0;         // bytes from here on wait splitDelayNs more
    std::uint64_t splitDelayNs = 0;
  };

  void FollowClock();
  void OnWrite(std::span<const std::uint8_t> written);
  void DeliverOutput();
  // Returns false when the event is lost.
  bool Tamper(Event& event);
  void Noise(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t count, bool asFlood);

  WatchedPort& port_;
  sim::BootLoader loader_;
  Steering& steering_;
  int passLeft_ = 0;
  bool mayHaveForged_ = false;
  std::uint32_t lastMs_;
  std::uint64_t nowNs_ = 0;
  std::uint64_t inFreeNs_ = 0;   // when the line towards the controller is free again
  std::uint64_t outFreeNs_ = 0;  // when the line towards the host is free again
  std::uint64_t injectedDelayNs_ = 0;
  std::size_t bytesTowardsHost_ = 0;
  std::uint32_t noiseState_ = 0x1234567U;
};

}  // namespace fwu::test
