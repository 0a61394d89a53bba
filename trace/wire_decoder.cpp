#include "trace/wire_decoder.h"

#include <utility>

#include "protocol/control_chars.h"
#include "protocol/frame.h"
#include "protocol/hex_text.h"
#include "update/update_commands.h"

namespace fwu::trace {

namespace {

// A block write's address: big-endian, up to where its length begins.
constexpr std::size_t kAddressEnd = kBlockLengthOffset;
// An answer's device status: payload bytes 1 and 2, big-endian.
constexpr std::size_t kStatusEnd = 3;

struct NamedCommand {
  std::uint8_t command;
  std::uint8_t qualifier;
  const char* name;
};

// The commands of an update, named by the step they take in it, in the words the update sequence uses.
constexpr NamedCommand kCommandNames[] = {
    {0xF0, 0x10, "version query"},
    {0x0A, 0x00, "program kind query"},
    {0x03, 0x20, "second-image preparation"},
    {0x07, 0x10, "second image written"},
    {0x08, 0x00, "commit"},
    {0x02, 0x00, "main-image preparation"},
    {0x05, 0x00, "main image written"},
    {0x07, 0x00, "update done"},
};

bool IsLoneControl(std::uint8_t byte) {
  return byte == kEnq || byte == kAck || byte == kEot || byte == kNak;
}

std::string ControlName(std::uint8_t control) {
  const char* name = ControlCharName(control);
  return name != nullptr ? std::string(name) : "0x" + HexValue(control, 2);
}

std::string Count(std::size_t count, const char* unit) {
  return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

// Printable text as it is, anything else as \xNN, so that a reply's body can be read and still shows every byte.
std::string QuotedText(std::span<const std::uint8_t> bytes) {
  constexpr std::uint8_t kFirstPrintable = 0x20;
  constexpr std::uint8_t kLastPrintable = 0x7E;
  std::string text = "\"";
  for (const std::uint8_t byte : bytes) {
    if (byte < kFirstPrintable || byte > kLastPrintable || byte == '"' || byte == '\\') {
      text += "\\x" + HexValue(byte, 2);
    } else {
      text += static_cast<char>(byte);
    }
  }
  return text + "\"";
}

std::string CheckVerdict(const WireEvent& event, const char* what, int digits) {
  if (event.receivedCheck == event.computedCheck) {
    return std::string(what) + " ok";
  }
  return std::string(what) + " bad (received 0x" + HexValue(event.receivedCheck, digits) + ", computed 0x" +
         HexValue(event.computedCheck, digits) + ")";
}

std::string DescribeUnframed(const WireEvent& event) {
  std::string text = event.kind == EventKind::Identification ? "identification" : "boot reply";
  switch (event.verdict) {
    case Verdict::Truncated:
      return text + ", truncated after " + Count(event.body.size(), "body byte");
    case Verdict::Overlong:
      return text + ", overlong (more than " + Count(kMaxUnframedBody, "body byte") + ")";
    default:
      return text + ", " + Count(event.body.size(), "body byte") + " " + QuotedText(event.body) + ", " +
             CheckVerdict(event, "check", 2);
  }
}

// What an STX Frame carries: the command the updater sent, or the device status of the controller's answer.
std::string DescribeData(const WireEvent& event) {
  if (const auto command = CommandOf(event)) {
    std::string text = ", command " + HexValue(command->command, 2) + " " + HexValue(command->qualifier, 2);
    const std::string name = DescribeCommand(*command);
    return name.starts_with("command ") ? text : text + ", " + name;
  }
  if (event.direction == Direction::Received && event.verdict == Verdict::Good && event.body.size() >= kStatusEnd) {
    const auto status = static_cast<unsigned>((event.body[1] << 8U) | event.body[2]);
    return ", answer status " + HexValue(status, 4);
  }
  return {};
}

std::string DescribeFrame(const WireEvent& event) {
  if (event.verdict == Verdict::NoControl) {
    return "Frame without control byte, " + CheckVerdict(event, "CRC", 4);
  }
  std::string text = event.hasControl ? "Frame " + ControlName(event.control) : "Frame";
  switch (event.verdict) {
    case Verdict::Truncated:
      return text + ", truncated after " + Count(event.wire.size(), "byte");
    case Verdict::Overlong:
      return text + ", overlong (content beyond " + Count(kMaxFrameContent, "byte") + ")";
    default:
      break;
  }
  if (event.control == kStx) {
    text += DescribeData(event);
  }
  if (event.control == kStx || !event.body.empty()) {
    text += ", payload " + Count(event.body.size(), "byte");
  }
  return text + ", " + CheckVerdict(event, "CRC", 4);
}

}  // namespace

std::optional<CommandFields> CommandOf(const WireEvent& event) {
  if (event.kind != EventKind::Frame || event.direction != Direction::Sent || event.verdict != Verdict::Good ||
      event.control != kStx || event.body.size() < 2) {
    return std::nullopt;
  }
  CommandFields fields{event.body[0], event.body[1], std::nullopt};
  if (fields.command == kBlockWrite && event.body.size() >= kAddressEnd) {
    std::uint32_t address = 0;
    for (std::size_t i = kBlockAddressOffset; i < kAddressEnd; ++i) {
      address = (address << 8U) | event.body[i];
    }
    fields.address = address;
  }
  return fields;
}

std::string DescribeCommand(const CommandFields& command) {
  const std::string code = HexValue(command.command, 2) + " " + HexValue(command.qualifier, 2);
  if (command.command == kBlockWrite && command.address) {
    // The second image's blocks lie at 0x30000 to 0x3FF00, the main image's at 0x00000 to 0x7FF00.
    const std::string address = "address 0x" + HexValue(*command.address, 5);
    if (command.qualifier == kSecondQualifier) {
      return "block write, second image, " + address;
    }
    if (command.qualifier == kMainQualifier) {
      return "block write, main image, " + address;
    }
    return "block write, " + address + " (" + code + ")";
  }
  for (const NamedCommand& named : kCommandNames) {
    if (named.command == command.command && named.qualifier == command.qualifier) {
      return std::string(named.name) + " (" + code + ")";
    }
  }
  return "command " + code;
}

std::string DescribeWhere(LastSent last, const CommandFields& command) {
  switch (last) {
    case LastSent::Nothing:
      break;
    case LastSent::BootEntry:
      return "boot-mode entry";
    case LastSent::Command:
      return DescribeCommand(command);
  }
  return {};
}

std::string DescribeEvent(const WireEvent& event) {
  switch (event.kind) {
    case EventKind::Identification:
    case EventKind::BootReply:
      return DescribeUnframed(event);
    case EventKind::ControlByte:
      return "lone control byte " + ControlName(event.control);
    case EventKind::Frame:
      return DescribeFrame(event);
    case EventKind::Noise:
      break;
  }
  return "noise, " + Count(event.wire.size(), "byte");
}

WireDecoder::WireDecoder(Direction direction, Handler handler) : direction_(direction), handler_(std::move(handler)) {}

void WireDecoder::Push(std::span<const std::uint8_t> bytes, std::uint64_t atUs) {
  for (const std::uint8_t byte : bytes) {
    Push(byte, atUs);
  }
}

void WireDecoder::Push(std::uint8_t byte, std::uint64_t atUs) {
  if ((state_ != State::Hunt || noiseLength_ > 0) && atUs - lastUs_ > kUnitGapUs) {
    Flush();
  }
  lastUs_ = atUs;
  switch (state_) {
    case State::Hunt:
      Hunt(byte, atUs);
      return;
    case State::FrameStart:
      if (byte == kStx) {
        EmitNoise();
        wire_[wireLength_++] = byte;
        state_ = State::Content;
        return;
      }
      // The DLE held was no Frame's start after all. Another DLE may be (the receiver skips repeated DLEs
      // before the STX); any other byte is looked at afresh.
      AddNoise(wire_[0], unitUs_);
      state_ = State::Hunt;
      wireLength_ = 0;
      Hunt(byte, atUs);
      return;
    case State::Content:
      TakeContent(byte);
      return;
    case State::CrcLow:
      wire_[wireLength_++] = byte;
      state_ = State::CrcHigh;
      return;
    case State::CrcHigh:
      FinishFrame(byte);
      return;
    case State::UnframedBody:
      TakeUnframed(byte);
      return;
    case State::UnframedCheck:
      FinishUnframed(byte);
      return;
  }
}

void WireDecoder::Hunt(std::uint8_t byte, std::uint64_t atUs) {
  if (byte == kDle) {
    Begin(State::FrameStart, byte, atUs);
  } else if (byte == kStx && expectUnframed_) {
    EmitNoise();
    Begin(State::UnframedBody, byte, atUs);
    bcc_ = 0;
  } else if (IsLoneControl(byte)) {
    Begin(State::Hunt, byte, atUs);
    WireEvent event;
    event.kind = EventKind::ControlByte;
    event.hasControl = true;
    event.control = byte;
    EmitUnit(event);
  } else {
    AddNoise(byte, atUs);
  }
}

void WireDecoder::Begin(State state, std::uint8_t byte, std::uint64_t atUs) {
  state_ = state;
  unitUs_ = atUs;
  wire_[0] = byte;
  wireLength_ = 1;
  contentLength_ = 0;
  escape_ = false;
}

// Inside a Frame: DLE DLE is one DLE, DLE ETX ends the content, a DLE before any other byte is dropped, and
// every other byte is content, as the updater's receiver takes them.
void WireDecoder::TakeContent(std::uint8_t byte) {
  wire_[wireLength_++] = byte;
  if (!escape_ && byte == kDle) {
    escape_ = true;
    return;
  }
  if (contentLength_ == content_.size()) {
    WireEvent event;
    event.kind = EventKind::Frame;
    event.verdict = Verdict::Overlong;
    EmitUnit(event);
    return;
  }
  content_[contentLength_++] = byte;
  if (escape_ && byte == kEtx) {
    state_ = State::CrcLow;
  }
  escape_ = false;
}

void WireDecoder::TakeUnframed(std::uint8_t byte) {
  wire_[wireLength_++] = byte;
  bcc_ = static_cast<std::uint8_t>(bcc_ ^ byte);
  if (byte == kEtx) {
    state_ = State::UnframedCheck;
    return;
  }
  if (contentLength_ == kMaxUnframedBody) {
    WireEvent event;
    event.kind = direction_ == Direction::Sent ? EventKind::Identification : EventKind::BootReply;
    event.verdict = Verdict::Overlong;
    EmitUnit(event);
    return;
  }
  content_[contentLength_++] = byte;
}

void WireDecoder::FinishFrame(std::uint8_t crcHigh) {
  wire_[wireLength_++] = crcHigh;
  WireEvent event;
  event.kind = EventKind::Frame;
  event.receivedCheck = static_cast<std::uint16_t>(wire_[wireLength_ - 2] | (crcHigh << 8U));
  event.computedCheck = Crc16(content_.data(), static_cast<std::int32_t>(contentLength_));
  const bool match = event.receivedCheck == event.computedCheck;
  event.verdict = contentLength_ < 2 ? Verdict::NoControl : (match ? Verdict::Good : Verdict::BadCheck);
  // Once Frames flow, an STX outside one is no longer the start of an unframed message.
  expectUnframed_ = false;
  EmitUnit(event);
}

void WireDecoder::FinishUnframed(std::uint8_t check) {
  wire_[wireLength_++] = check;
  WireEvent event;
  event.kind = direction_ == Direction::Sent ? EventKind::Identification : EventKind::BootReply;
  event.receivedCheck = check;
  event.computedCheck = bcc_;
  event.verdict = check == bcc_ ? Verdict::Good : Verdict::BadCheck;
  expectUnframed_ = false;
  EmitUnit(event);
}

void WireDecoder::Flush() {
  switch (state_) {
    case State::Hunt:
      break;
    case State::FrameStart:
      AddNoise(wire_[0], unitUs_);
      state_ = State::Hunt;
      wireLength_ = 0;
      break;
    case State::Content:
    case State::CrcLow:
    case State::CrcHigh: {
      WireEvent event;
      event.kind = EventKind::Frame;
      event.verdict = Verdict::Truncated;
      EmitUnit(event);
      break;
    }
    case State::UnframedBody:
    case State::UnframedCheck: {
      WireEvent event;
      event.kind = direction_ == Direction::Sent ? EventKind::Identification : EventKind::BootReply;
      event.verdict = Verdict::Truncated;
      EmitUnit(event);
      break;
    }
  }
  EmitNoise();
}

void WireDecoder::AddNoise(std::uint8_t byte, std::uint64_t atUs) {
  if (noiseLength_ == noise_.size()) {
    EmitNoise();
  }
  if (noiseLength_ == 0) {
    noiseUs_ = atUs;
  }
  noise_[noiseLength_++] = byte;
}

void WireDecoder::EmitNoise() {
  if (noiseLength_ == 0) {
    return;
  }
  WireEvent event;
  event.kind = EventKind::Noise;
  event.direction = direction_;
  event.atUs = noiseUs_;
  event.wire = std::span<const std::uint8_t>(noise_.data(), noiseLength_);
  noiseLength_ = 0;
  handler_(event);
}

// Reports the unit held (noise before it first, so that bytes keep their order) and starts hunting again.
void WireDecoder::EmitUnit(WireEvent event) {
  EmitNoise();
  event.direction = direction_;
  event.atUs = unitUs_;
  event.wire = std::span<const std::uint8_t>(wire_.data(), wireLength_);
  if (event.kind == EventKind::Frame) {
    // Content that reached DLE ETX ends with the ETX, which is not payload.
    const bool contentEnded = state_ == State::CrcLow || state_ == State::CrcHigh;
    const std::size_t end = contentEnded ? contentLength_ - 1 : contentLength_;
    event.hasControl = end > 0;
    event.control = event.hasControl ? content_[0] : 0;
    event.body = event.hasControl ? std::span<const std::uint8_t>(content_.data() + 1, end - 1)
                                  : std::span<const std::uint8_t>();
  } else if (event.kind != EventKind::ControlByte) {
    event.body = std::span<const std::uint8_t>(content_.data(), contentLength_);
  }
  state_ = State::Hunt;
  wireLength_ = 0;
  contentLength_ = 0;
  escape_ = false;
  handler_(event);
}

}  // namespace fwu::trace
