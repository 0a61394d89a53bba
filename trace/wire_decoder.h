#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "update/run_result.h"

namespace fwu::trace {

// Which way bytes went: from the updater to the controller, or back.
enum class Direction : std::uint8_t { Sent, Received };

enum class EventKind : std::uint8_t {
  Identification,  // the updater's unframed STX, code, ETX, check byte
  BootReply,       // the boot loader's unframed STX, body, ETX, check byte
  ControlByte,     // a lone ENQ, ACK, EOT or NAK outside any Frame
  Frame,           // DLE STX, control, payload, DLE ETX, CRC
  Noise,           // bytes that belong to nothing above
};

enum class Verdict : std::uint8_t {
  Good,       // complete, and its CRC or check byte matches
  BadCheck,   // complete, but the CRC or check byte does not match
  NoControl,  // a Frame with nothing between DLE STX and DLE ETX
  Truncated,  // the bytes stopped (the line went quiet, was purged, or was closed) before it was complete
  Overlong,   // it grew beyond what any peer sends; what follows is read afresh
};

// The longest Frame content (control byte + payload + ETX) taken in, as the updater's own receiver bounds it.
inline constexpr std::size_t kMaxFrameContent = 600;
// The longest unframed body taken in; the boot loader's reply is a few dozen bytes.
inline constexpr std::size_t kMaxUnframedBody = 256;
// Noise is reported in runs of at most this many bytes.
inline constexpr std::size_t kMaxNoiseRun = 64;
// A unit whose next byte is later than this is over: the updater's receiver gives up after a 1000 ms gap too.
inline constexpr std::uint64_t kUnitGapUs = 1'000'000;

// One thing seen on the line. The spans point into the decoder and are valid only during the handler call.
struct WireEvent {
  EventKind kind = EventKind::Noise;
  Direction direction = Direction::Sent;
  std::uint64_t atUs = 0;  // when its first byte went or came
  Verdict verdict = Verdict::Good;
  bool hasControl = false;  // a Frame's control byte (or the lone control byte) is known
  std::uint8_t control = 0;
  std::span<const std::uint8_t> body;  // a Frame's payload (undoubled) or an unframed body, as far as it came
  std::uint16_t receivedCheck = 0;     // CRC or check byte as received (complete units only)
  std::uint16_t computedCheck = 0;     // CRC or check byte as worked out from the bytes
  std::span<const std::uint8_t> wire;  // every byte of it as it was on the line
};

// The command inside a command Frame: command byte, qualifier, and for block writes (03 xx) the write address.
struct CommandFields {
  std::uint8_t command = 0;
  std::uint8_t qualifier = 0;
  std::optional<std::uint32_t> address;
};

// The command of a complete STX Frame the updater sent with at least the two code bytes; nothing otherwise.
std::optional<CommandFields> CommandOf(const WireEvent& event);
// What a command does in the update, in the words the operator reads: "program kind query (0A 00)",
// "block write, second image, address 0x30100", "commit (08 00)", "command 4A 01".
std::string DescribeCommand(const CommandFields& command);
// Where a run is, or where it stopped, by what the updater sent last: "boot-mode entry", the command as
// DescribeCommand names it, or "" before anything was sent.
std::string DescribeWhere(LastSent last, const CommandFields& command);
// The event in words, without its time and bytes: "Frame ACK, CRC ok", "boot reply, 5 body bytes, check ok".
std::string DescribeEvent(const WireEvent& event);

// Groups the bytes of one direction into events. Every byte pushed ends up in exactly one event, in order; the
// buffers are fixed, so floods and garbage cost no memory.
class WireDecoder {
 public:
  using Handler = std::function<void(const WireEvent&)>;

  WireDecoder(Direction direction, Handler handler);

  void Push(std::uint8_t byte, std::uint64_t atUs);
  void Push(std::span<const std::uint8_t> bytes, std::uint64_t atUs);
  // Reports whatever is partly received (as Truncated) and the pending noise. Call it when the line is purged
  // or closed, and at the end.
  void Flush();
  // The next STX outside a Frame begins an unframed message (identification or boot reply). Set at the start;
  // after that only where such a message is due, so that a stray 02 later is not read as one.
  void ExpectUnframed() { expectUnframed_ = true; }

 private:
  enum class State : std::uint8_t { Hunt, FrameStart, Content, CrcLow, CrcHigh, UnframedBody, UnframedCheck };
  // DLE STX, content with every byte doubled, DLE ETX, two CRC bytes.
  static constexpr std::size_t kMaxFrameWire = 2 * kMaxFrameContent + 4;

  void Hunt(std::uint8_t byte, std::uint64_t atUs);
  void Begin(State state, std::uint8_t byte, std::uint64_t atUs);
  void TakeContent(std::uint8_t byte);
  void TakeUnframed(std::uint8_t byte);
  void AddNoise(std::uint8_t byte, std::uint64_t atUs);
  void EmitNoise();
  void EmitUnit(WireEvent event);
  void FinishFrame(std::uint8_t crcHigh);
  void FinishUnframed(std::uint8_t check);

  Direction direction_;
  Handler handler_;
  bool expectUnframed_ = true;
  State state_ = State::Hunt;
  bool escape_ = false;
  std::uint64_t lastUs_ = 0;

  // The unit being received: its bytes as on the line, and its content (Frame) or body (unframed).
  std::uint64_t unitUs_ = 0;
  std::array<std::uint8_t, kMaxFrameWire> wire_{};
  std::size_t wireLength_ = 0;
  std::array<std::uint8_t, kMaxFrameContent> content_{};
  std::size_t contentLength_ = 0;
  std::uint8_t bcc_ = 0;

  std::uint64_t noiseUs_ = 0;
  std::array<std::uint8_t, kMaxNoiseRun> noise_{};
  std::size_t noiseLength_ = 0;
};

}  // namespace fwu::trace
