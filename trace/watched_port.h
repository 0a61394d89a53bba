#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "serial/serial_port.h"
#include "trace/trace.h"
#include "trace/wire_decoder.h"

namespace fwu::trace {

// The last command Frame the updater sent.
struct LastCommand {
  bool sent = false;  // false until the first command Frame has gone out
  std::uint8_t command = 0;
  std::uint8_t qualifier = 0;
  std::optional<std::uint32_t> address;  // the write address of a block write (03 xx)
};

// A serial port that passes every call on to the real one and watches the bytes on their way: it remembers the
// last command the updater sent, so that a failed run can say where it stopped, and feeds the trace when there
// is one. Watching costs a few instructions per byte; the trace file is written in large blocks. What the port
// tells besides its bytes (a network port's negotiation) goes into the trace as notes.
class WatchedPort : public SerialPort, private PortNotes {
 public:
  WatchedPort(SerialPort& inner, TraceSink* trace);
  ~WatchedPort() override;

  OpenResult Open(const std::string& portName) override;
  void Close() override;
  [[nodiscard]] bool IsOpen() const override { return inner_.IsOpen(); }
  [[nodiscard]] std::string OpenFailureReason() const override { return inner_.OpenFailureReason(); }
  [[nodiscard]] std::string LostReason() const override { return inner_.LostReason(); }
  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override;
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override;
  void Purge() override;

  // Safe to call from another thread while the update runs.
  [[nodiscard]] LastCommand Last() const;
  // Where the run is, or where it stopped: "boot-mode entry", "program kind query (0A 00)",
  // "block write, second image, address 0x30100", "commit (08 00)"; empty before anything was sent.
  [[nodiscard]] std::string Where() const;

 private:
  void Sent(const WireEvent& event);
  void Received(const WireEvent& event);
  void Note(std::string_view text);
  void PortNote(std::string_view text) override { Note(text); }
  void FlushDecoders();
  [[nodiscard]] std::uint64_t NowUs() const;

  SerialPort& inner_;
  TraceSink* trace_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  WireDecoder sent_;
  WireDecoder received_;

  mutable std::mutex mutex_;  // guards what Last() and Where() read
  LastSent lastSent_ = LastSent::Nothing;
  LastCommand last_;
};

}  // namespace fwu::trace
