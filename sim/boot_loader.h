#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/device_commands.h"
#include "sim/device_memory.h"
#include "sim/frame_stream.h"
#include "sim/sim_time.h"

namespace fwu::sim {

// A command answered with a chosen nonzero device status.
struct StatusFault {
  CommandCode code;
  std::uint16_t status = 0;
};

// A command answered with a payload of a chosen length: the normal answer cut short, or padded with 0x00.
struct LengthFault {
  CommandCode code;
  std::size_t length = 0;
};

// Misbehaviour to put the host's error handling to work.
struct Faults {
  int nakCommands = 0;      // refuse the first k good command Frames with NAK
  int damageResponses = 0;  // send the first k answer Frames (resendings included) with a spoilt CRC
  bool silent = false;      // answer nothing at all
  bool nakEnquiry = false;  // answer the ENQ Frame with NAK instead of ACK
  std::vector<StatusFault> statusFor;
  std::optional<int> stopAfterBlockWrites;  // fall silent once the n-th block write has been closed (0: at once)
  std::vector<LengthFault> lengthFor;
};

// Longest answer payload a fault may ask for; beyond any capacity the host gives.
inline constexpr std::size_t kMaxFaultLength = 600;
// The answer to F0 10 must fit the host's 278-byte answer buffer behind the 3-byte header.
inline constexpr std::size_t kMaxVersionLength = 275;

struct BootLoaderConfig {
  std::uint8_t programKind = 0x10;
  std::string version = "1.00";
  std::string bootReplyBody = "BOOT";  // the body of the unframed boot reply; never contains ETX
  std::string identificationCode = "kzkz42";
  // Commands and the enquiry are taken only after the identification message, as in the real controller.
  bool needsIdentification = true;
  TimeUs replyDelayUs = 0;  // how long the controller thinks before each reply
  Faults faults;
};

// Empty when config is usable; otherwise what is wrong with it.
std::string CheckConfig(const BootLoaderConfig& config);

// Bytes to send, not before a given time; chunks leave in order.
struct OutChunk {
  TimeUs notBeforeUs = 0;
  std::vector<std::uint8_t> bytes;
};

enum class Direction { In, Out };

// One entry of the line log.
struct LineRecord {
  enum class Kind {
    Frame,           // a Frame, in or out
    Identification,  // the unframed identification message, in
    BootReply,       // the unframed boot reply, out
    Skipped,         // bytes outside any Frame that were no identification message, in
  };
  TimeUs atUs = 0;
  Direction direction = Direction::In;
  Kind kind = Kind::Frame;
  ReceivedFrame::Outcome outcome = ReceivedFrame::Outcome::Good;  // Frames only; outgoing damage = BadCrc
  std::uint8_t control = 0;
  std::vector<std::uint8_t> payload;  // Frames: the payload; unframed messages: the bytes (skipped: the first 64)
  std::size_t wireLength = 0;
};

// One command Frame the controller took in.
struct CommandRecord {
  TimeUs atUs = 0;
  CommandCode code;
  std::size_t length = 0;                // payload length, code bytes included
  std::optional<std::uint32_t> address;  // for commands with an address argument, once carried out
  std::optional<std::uint16_t> status;   // the status answered; empty until the host's EOT let it run
  bool refused = false;                  // answered with NAK (fault injection)
};

// The controller's boot loader, driven by events: bytes go in with the time they arrived, bytes to send come
// out. It never blocks and never looks at a clock of its own, so the same model serves the in-memory tests on
// a virtual clock and the pseudo-terminal server on the real one.
class BootLoader {
 public:
  explicit BootLoader(BootLoaderConfig config = {});

  // Every byte arrived at atUs; times never go backwards.
  void Feed(std::span<const std::uint8_t> bytes, TimeUs atUs);
  void FeedByte(std::uint8_t byte, TimeUs atUs);
  // Everything produced since the last call, oldest first.
  std::vector<OutChunk> TakeOutput();

  [[nodiscard]] const DeviceMemory& Memory() const { return memory_; }
  DeviceMemory& Memory() { return memory_; }
  [[nodiscard]] const BootLoaderConfig& Config() const { return config_; }

  // The line log and the command log, oldest first; each keeps its most recent kMaxLogEntries.
  static constexpr std::size_t kMaxLogEntries = 200'000;
  [[nodiscard]] const std::deque<LineRecord>& Line() const { return line_; }
  [[nodiscard]] const std::deque<CommandRecord>& Commands() const { return commands_; }
  void ClearLogs();

  // How many times a 07 00 has been answered and its exchange closed with EOT.
  [[nodiscard]] int UpdatesFinished() const { return updatesFinished_; }
  // True once in programming mode (the enquiry has been acknowledged).
  [[nodiscard]] bool Programming() const { return mode_ != Mode::Idle && mode_ != Mode::Identified; }

 private:
  enum class Mode {
    Idle,            // waiting for the identification message
    Identified,      // boot reply sent, waiting for the enquiry
    AwaitCommand,    // programming mode, between exchanges
    AwaitTurn,       // command acknowledged, waiting for the host's EOT
    AwaitAnswerAck,  // answer sent, waiting for the host's ACK (or NAK for a resend)
  };

  void TakeUnframed(std::uint8_t byte, TimeUs atUs);
  void Skip(std::span<const std::uint8_t> bytes);
  void FlushSkipped(TimeUs atUs);
  void OnFrame(const ReceivedFrame& frame, TimeUs atUs);
  void OnGoodFrame(std::uint8_t control, const std::vector<std::uint8_t>& payload, TimeUs atUs);
  void OnIdentification(TimeUs atUs);
  void OnEnquiry(TimeUs atUs);
  void OnCommand(const std::vector<std::uint8_t>& payload, TimeUs atUs);
  void OnTurn(TimeUs atUs);
  void OnAnswerAck(TimeUs atUs);
  void SendAnswer(TimeUs atUs);

  void SendFrame(std::uint8_t control, std::span<const std::uint8_t> payload, TimeUs atUs, bool damage = false);
  bool SendRaw(std::vector<std::uint8_t> bytes, TimeUs atUs);  // false when nothing may go out
  void Log(LineRecord record);
  void LogCommand(CommandRecord record);
  std::vector<std::uint8_t> ShapeAnswer(CommandCode code, std::vector<std::uint8_t> answer) const;

  BootLoaderConfig config_;
  DeviceMemory memory_;
  FrameReader reader_;
  Mode mode_ = Mode::Idle;
  bool silent_ = false;

  TimeUs lastFeedUs_ = 0;

  // The identification message as it trickles in between Frames.
  const std::vector<std::uint8_t> identification_;
  std::vector<std::uint8_t> idBytes_;
  TimeUs idLastUs_ = 0;
  // Noise outside Frames: counted in full, its first bytes kept for the log.
  static constexpr std::size_t kMaxSkippedKept = 64;
  std::vector<std::uint8_t> skipped_;
  std::size_t skippedCount_ = 0;

  // The exchange in progress.
  std::vector<std::uint8_t> command_;
  std::vector<std::uint8_t> answer_;
  int commandsNaked_ = 0;
  int answersDamaged_ = 0;
  int blockWritesClosed_ = 0;
  int updatesFinished_ = 0;

  std::vector<OutChunk> output_;
  std::size_t outputBytes_ = 0;
  std::deque<LineRecord> line_;
  std::deque<CommandRecord> commands_;
};

}  // namespace fwu::sim
