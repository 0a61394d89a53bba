#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/sim_time.h"

namespace fwu::sim {

// The largest Frame content (control byte + payload + ETX) the boot loader takes in. The host never sends a
// payload above 296 bytes; anything longer is dropped rather than buffered.
inline constexpr std::size_t kMaxFrameContent = 300;
// A Frame whose next byte is this long overdue is abandoned, as the host's receiver does it.
inline constexpr TimeUs kFrameGapUs = 1'000'000;

// A Frame as it came off the line, whole or in part.
struct ReceivedFrame {
  enum class Outcome {
    Good,       // a complete Frame with a matching CRC
    BadCrc,     // a complete Frame whose CRC does not match
    NoControl,  // DLE STX DLE ETX with no control byte in between
    Overrun,    // the content grew beyond kMaxFrameContent; the rest is treated as noise
    Truncated,  // the line went quiet inside the Frame
  };
  Outcome outcome = Outcome::Good;
  std::uint8_t control = 0;
  std::vector<std::uint8_t> payload;  // undoubled, without control byte and ETX
  std::size_t wireLength = 0;         // bytes on the line, from the first DLE through the CRC
  TimeUs startUs = 0;                 // when its first DLE arrived
};

// Takes Frames off the line one byte at a time. Bytes between Frames are not part of any Frame: Push reports
// them through Idle(), so that a caller can look at them (the unframed identification message travels there).
class FrameReader {
 public:
  // Abandons a partly received Frame whose next byte is overdue at nowUs, returning it as Truncated. Call it
  // before Push with the same time, so that a byte after a long silence starts afresh.
  std::optional<ReceivedFrame> Expire(TimeUs nowUs);
  // Feeds one byte that arrived at atUs (times never go backwards). Returns a Frame when this byte completes one,
  // or an Overrun record when the byte makes the content too long.
  std::optional<ReceivedFrame> Push(std::uint8_t byte, TimeUs atUs);
  // True while no Frame has begun: the next byte is noise unless it is a DLE.
  [[nodiscard]] bool Idle() const { return state_ == State::Hunt; }
  // Abandons whatever was partly received.
  void Reset();

 private:
  enum class State { Hunt, Start, Content, CrcLow, CrcHigh };

  std::optional<ReceivedFrame> Abandon(ReceivedFrame::Outcome outcome);
  ReceivedFrame Finish(std::uint16_t receivedCrc);

  State state_ = State::Hunt;
  bool escape_ = false;
  std::vector<std::uint8_t> content_;
  std::uint8_t crcLow_ = 0;
  std::size_t wireLength_ = 0;
  TimeUs startUs_ = 0;
  TimeUs lastUs_ = 0;
};

// A Frame as the boot loader writes it: DLE STX, control, payload with DLE doubled, DLE ETX, CRC-16/KERMIT of
// control + payload + ETX, low byte first and never doubled. damageCrc spoils the CRC (for fault injection).
std::vector<std::uint8_t> EncodeFrame(std::uint8_t control, std::span<const std::uint8_t> payload,
                                      bool damageCrc = false);

}  // namespace fwu::sim
