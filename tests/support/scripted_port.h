#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "support/virtual_clock.h"

namespace fwu::test {

// The serial line in memory, on the virtual clock. Bytes the peer sends arrive at a given virtual time; a read
// that finds nothing advances the clock by the port's read time-out. Writes are recorded with their time, and a
// write call can be made to fail or to stay short by its number.
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
  std::optional<std::uint8_t> ReadByte() override;
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
  // How long a read that finds nothing takes (the port's read time-out).
  void SetEmptyReadMs(std::uint32_t ms) { emptyReadMs_ = ms; }
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
  [[nodiscard]] std::size_t PendingBytes() const { return incoming_.size(); }
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
  std::uint32_t emptyReadMs_ = 1;
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
