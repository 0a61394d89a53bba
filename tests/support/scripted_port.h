#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "support/virtual_clock.h"

namespace fwu::test {

// The serial line in memory, on the virtual clock. Bytes the peer sends arrive at a given virtual time. A read
// waits as a real port does: the clock moves on to the first byte still on its way when that arrives within the
// wait, else by the whole wait; then the read takes every byte that has arrived. Writes are recorded with their
// time, and a write call can be made to fail or to stay short by its number.
class ScriptedPort : public SerialPort {
 public:
  struct WriteRecord {
    std::uint32_t atMs = 0;
    std::vector<std::uint8_t> bytes;  // the bytes the call accepted
  };
  // Called after every write call with the bytes it accepted: a peer answers through Arrive().
  using Responder = std::function<void(ScriptedPort& port, std::span<const std::uint8_t> written)>;

  explicit ScriptedPort(VirtualClock& clock, bool open = true) : clock_(clock), open_(open) {}

  OpenResult Open(const std::string& portName) override;
  void Close() override;
  [[nodiscard]] bool IsOpen() const override { return open_; }
  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override;
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override;
  void Purge() override;

  // --- script ---
  // Bytes that become readable delayMs from now (after any bytes already scheduled later than that).
  void Arrive(std::span<const std::uint8_t> bytes, std::uint32_t delayMs = 0);
  void Arrive(std::initializer_list<std::uint8_t> bytes, std::uint32_t delayMs = 0);
  // Bytes that become readable one by one, gapMs apart, the first delayMs from now.
  void Trickle(std::span<const std::uint8_t> bytes, std::uint32_t delayMs, std::uint32_t gapMs);
  void SetOpenResult(OpenResult result) { openResult_ = result; }
  void SetOpen(bool open) { open_ = open; }
  // The longest a read waits, whatever its caller allows, as a port with a short read time-out of its own: a
  // read that finds nothing then returns after this long.
  void SetLongestWaitMs(std::uint32_t ms) { longestWaitMs_ = ms; }
  // Write call number callNumber (counted from 1) returns outcome instead, accepting outcome.written bytes.
  void ScriptWrite(int callNumber, WriteOutcome outcome) { scriptedWrites_[callNumber] = outcome; }
  void OnWrite(Responder responder) { responder_ = std::move(responder); }

  // --- observe ---
  [[nodiscard]] const std::vector<WriteRecord>& Writes() const { return writes_; }
  [[nodiscard]] std::vector<std::uint8_t> WrittenBytes() const;
  [[nodiscard]] int WriteCalls() const { return writeCalls_; }
  [[nodiscard]] const std::vector<std::uint32_t>& Purges() const { return purges_; }
  [[nodiscard]] const std::vector<std::string>& OpenedNames() const { return openedNames_; }
  [[nodiscard]] int CloseCalls() const { return closeCalls_; }
  // Bytes not taken by a read yet, arrived or still on their way.
  [[nodiscard]] std::size_t PendingBytes() const { return incoming_.size(); }
  [[nodiscard]] int ReadCalls() const { return readCalls_; }
  [[nodiscard]] VirtualClock& clock() { return clock_; }

 private:
  struct Incoming {
    std::uint32_t atMs;
    std::uint8_t byte;
  };
  bool Arrived(const Incoming& in) const;

  VirtualClock& clock_;
  bool open_;
  OpenResult openResult_ = OpenResult::Ok;
  std::uint32_t longestWaitMs_ = std::numeric_limits<std::uint32_t>::max();
  int readCalls_ = 0;
  std::deque<Incoming> incoming_;
  std::map<int, WriteOutcome> scriptedWrites_;
  Responder responder_;
  std::vector<WriteRecord> writes_;
  int writeCalls_ = 0;
  std::vector<std::uint32_t> purges_;
  std::vector<std::string> openedNames_;
  int closeCalls_ = 0;
};

}  // namespace fwu::test
