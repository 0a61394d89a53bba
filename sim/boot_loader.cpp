#include "sim/boot_loader.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "protocol/control_chars.h"

namespace fwu::sim {

namespace {

// The identification message may arrive in bursts (the host writes it in three pieces about 10 ms apart);
// a piece that comes later than this after the one before starts a new message.
constexpr TimeUs kIdGapUs = 1'000'000;
// Output the host has not taken yet is held up to this size; a host that never reads cannot make it grow.
constexpr std::size_t kMaxPendingOutput = 65'536;

std::vector<std::uint8_t> UnframedMessage(std::string_view body) {
  // STX, body, ETX, then the XOR of body and ETX: the STX never enters the check byte.
  std::vector<std::uint8_t> message{kStx};
  std::uint8_t bcc = 0;
  for (const char c : body) {
    const auto byte = static_cast<std::uint8_t>(c);
    message.push_back(byte);
    bcc = static_cast<std::uint8_t>(bcc ^ byte);
  }
  message.push_back(kEtx);
  message.push_back(static_cast<std::uint8_t>(bcc ^ kEtx));
  return message;
}

bool IsBlockWrite(CommandCode code) {
  return code == CommandCode{0x03, 0x00} || code == CommandCode{0x03, 0x10};
}

CommandCode CodeOf(std::span<const std::uint8_t> command) {
  return {command.empty() ? std::uint8_t{0} : command[0], command.size() < 2 ? std::uint8_t{0} : command[1]};
}

}  // namespace

std::string CheckConfig(const BootLoaderConfig& config) {
  if (config.version.size() > kMaxVersionLength) {
    return "version text is longer than " + std::to_string(kMaxVersionLength) + " characters";
  }
  if (config.bootReplyBody.find(static_cast<char>(kEtx)) != std::string::npos) {
    return "boot reply body must not contain ETX (0x03)";
  }
  if (config.identificationCode.empty()) {
    return "identification code is empty";
  }
  const auto& faults = config.faults;
  if (faults.nakCommands < 0 || faults.damageResponses < 0 ||
      (faults.stopAfterBlockWrites && *faults.stopAfterBlockWrites < 0)) {
    return "fault counts must not be negative";
  }
  for (const auto& fault : faults.statusFor) {
    if (fault.status == 0) {
      return "an injected device status must be nonzero";
    }
  }
  for (const auto& fault : faults.lengthFor) {
    if (fault.length > kMaxFaultLength) {
      return "an injected answer length must be at most " + std::to_string(kMaxFaultLength);
    }
  }
  return {};
}

BootLoader::BootLoader(BootLoaderConfig config)
    : config_(std::move(config)), identification_(UnframedMessage(config_.identificationCode)) {}

void BootLoader::Feed(std::span<const std::uint8_t> bytes, TimeUs atUs) {
  for (const std::uint8_t byte : bytes) {
    FeedByte(byte, atUs);
  }
}

void BootLoader::FeedByte(std::uint8_t byte, TimeUs atUs) {
  // A caller's clock that steps back must not look like a long silence.
  atUs = std::max(atUs, lastFeedUs_);
  lastFeedUs_ = atUs;
  if (auto truncated = reader_.Expire(atUs)) {
    OnFrame(*truncated, atUs);
  }
  if (reader_.Idle() && byte != kDle) {
    TakeUnframed(byte, atUs);
    return;
  }
  if (reader_.Idle()) {
    // A Frame begins: a partial identification message before it was noise.
    Skip(idBytes_);
    idBytes_.clear();
  }
  if (auto frame = reader_.Push(byte, atUs)) {
    OnFrame(*frame, atUs);
  }
}

std::vector<OutChunk> BootLoader::TakeOutput() {
  outputBytes_ = 0;
  return std::exchange(output_, {});
}

void BootLoader::ClearLogs() {
  line_.clear();
  commands_.clear();
}

void BootLoader::TakeUnframed(std::uint8_t byte, TimeUs atUs) {
  if (!idBytes_.empty() && atUs - idLastUs_ > kIdGapUs) {
    Skip(idBytes_);
    idBytes_.clear();
  }
  idLastUs_ = atUs;
  idBytes_.push_back(byte);
  if (!std::equal(idBytes_.begin(), idBytes_.end(), identification_.begin())) {
    // Not the message after all; a STX here may begin the real one.
    const bool restart = byte == kStx;
    Skip(std::span<const std::uint8_t>(idBytes_).first(idBytes_.size() - (restart ? 1 : 0)));
    idBytes_.assign(restart ? 1U : 0U, kStx);
    return;
  }
  if (idBytes_.size() == identification_.size()) {
    FlushSkipped(atUs);
    Log({atUs, Direction::In, LineRecord::Kind::Identification, ReceivedFrame::Outcome::Good, 0, idBytes_,
         idBytes_.size()});
    idBytes_.clear();
    OnIdentification(atUs);
  }
}

void BootLoader::Skip(std::span<const std::uint8_t> bytes) {
  skippedCount_ += bytes.size();
  const std::size_t room = kMaxSkippedKept - std::min(kMaxSkippedKept, skipped_.size());
  skipped_.insert(skipped_.end(), bytes.begin(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, bytes.size())));
}

void BootLoader::FlushSkipped(TimeUs atUs) {
  if (skippedCount_ == 0) {
    return;
  }
  Log({atUs, Direction::In, LineRecord::Kind::Skipped, ReceivedFrame::Outcome::Good, 0, std::move(skipped_),
       skippedCount_});
  skipped_.clear();
  skippedCount_ = 0;
}

void BootLoader::OnFrame(const ReceivedFrame& frame, TimeUs atUs) {
  FlushSkipped(atUs);
  Log({atUs, Direction::In, LineRecord::Kind::Frame, frame.outcome, frame.control, frame.payload, frame.wireLength});
  if (frame.outcome == ReceivedFrame::Outcome::Good) {
    OnGoodFrame(frame.control, frame.payload, atUs);
  } else if (frame.outcome == ReceivedFrame::Outcome::BadCrc && frame.control == kStx && Programming()) {
    SendFrame(kNak, {}, atUs);  // a damaged command: have it sent again
  }
}

void BootLoader::OnGoodFrame(std::uint8_t control, const std::vector<std::uint8_t>& payload, TimeUs atUs) {
  switch (control) {
    case kEnq:
      OnEnquiry(atUs);
      return;
    case kStx:
      OnCommand(payload, atUs);
      return;
    case kEot:
      // The EOT that closes the enquiry needs nothing; the one after a command hands over the turn.
      if (mode_ == Mode::AwaitTurn) {
        OnTurn(atUs);
      }
      return;
    case kAck:
      if (mode_ == Mode::AwaitAnswerAck) {
        OnAnswerAck(atUs);
      }
      return;
    case kNak:
      if (mode_ == Mode::AwaitAnswerAck) {
        SendAnswer(atUs);
      }
      return;
    default:
      return;  // nothing the controller knows: ignored
  }
}

void BootLoader::OnIdentification(TimeUs atUs) {
  // Taken in any state: the host starts every conversation with it, also after an exchange it gave up on.
  mode_ = Mode::Identified;
  command_.clear();
  answer_.clear();
  std::vector<std::uint8_t> reply = UnframedMessage(config_.bootReplyBody);
  if (SendRaw(reply, atUs)) {
    const std::size_t length = reply.size();
    Log({atUs, Direction::Out, LineRecord::Kind::BootReply, ReceivedFrame::Outcome::Good, 0, std::move(reply), length});
  }
}

void BootLoader::OnEnquiry(TimeUs atUs) {
  if (mode_ == Mode::Idle && config_.needsIdentification) {
    return;  // not in boot mode yet: the enquiry goes unanswered
  }
  if (config_.faults.nakEnquiry) {
    SendFrame(kNak, {}, atUs);
    return;
  }
  SendFrame(kAck, {}, atUs);
  mode_ = Mode::AwaitCommand;
  command_.clear();
  answer_.clear();
}

void BootLoader::OnCommand(const std::vector<std::uint8_t>& payload, TimeUs atUs) {
  if (!Programming() && config_.needsIdentification) {
    return;  // commands count only in programming mode
  }
  CommandRecord record;
  record.atUs = atUs;
  record.code = CodeOf(payload);
  record.length = payload.size();
  if (commandsNaked_ < config_.faults.nakCommands) {
    ++commandsNaked_;
    record.refused = true;
    LogCommand(record);
    mode_ = Mode::AwaitCommand;
    SendFrame(kNak, {}, atUs);
    return;
  }
  const auto& stopAfter = config_.faults.stopAfterBlockWrites;
  if (IsBlockWrite(record.code) && stopAfter && blockWritesClosed_ >= *stopAfter) {
    silent_ = true;  // with a count of 0 not even the first block write is heard
  }
  // A new command also ends an exchange the host has given up on.
  LogCommand(record);
  command_ = payload;
  answer_.clear();
  mode_ = Mode::AwaitTurn;
  SendFrame(kAck, {}, atUs);
}

void BootLoader::OnTurn(TimeUs atUs) {
  const CommandCode code = CodeOf(command_);
  const auto& statusFaults = config_.faults.statusFor;
  const auto forced = std::find_if(statusFaults.begin(), statusFaults.end(),
                                   [&](const StatusFault& fault) { return fault.code == code; });
  CommandOutcome outcome;
  if (forced != statusFaults.end()) {
    outcome.status = forced->status;  // the controller refuses it and leaves its memory alone
  } else {
    outcome = ExecuteCommand(command_, memory_, DeviceIdentity{config_.programKind, config_.version});
  }
  if (!commands_.empty()) {
    commands_.back().status = outcome.status;
    commands_.back().address = outcome.address;
  }
  answer_ = ShapeAnswer(code, AnswerPayload(code.command, outcome.status, outcome.data));
  mode_ = Mode::AwaitAnswerAck;
  SendAnswer(atUs);
}

void BootLoader::SendAnswer(TimeUs atUs) {
  const bool damage = answersDamaged_ < config_.faults.damageResponses;
  if (damage) {
    ++answersDamaged_;
  }
  SendFrame(kStx, answer_, atUs, damage);
}

void BootLoader::OnAnswerAck(TimeUs atUs) {
  SendFrame(kEot, {}, atUs);
  mode_ = Mode::AwaitCommand;
  const CommandCode code = CodeOf(command_);
  if (IsBlockWrite(code)) {
    ++blockWritesClosed_;
    const auto& stopAfter = config_.faults.stopAfterBlockWrites;
    silent_ = silent_ || (stopAfter && blockWritesClosed_ >= *stopAfter);
  }
  if (code == CommandCode{0x07, 0x00}) {
    ++updatesFinished_;
  }
  command_.clear();
}

std::vector<std::uint8_t> BootLoader::ShapeAnswer(CommandCode code, std::vector<std::uint8_t> answer) const {
  const auto& lengthFaults = config_.faults.lengthFor;
  const auto forced = std::find_if(lengthFaults.begin(), lengthFaults.end(),
                                   [&](const LengthFault& fault) { return fault.code == code; });
  if (forced != lengthFaults.end()) {
    answer.resize(std::min(forced->length, kMaxFaultLength), 0x00);
  }
  return answer;
}

void BootLoader::SendFrame(std::uint8_t control, std::span<const std::uint8_t> payload, TimeUs atUs, bool damage) {
  std::vector<std::uint8_t> wire = EncodeFrame(control, payload, damage);
  const std::size_t wireLength = wire.size();
  if (SendRaw(std::move(wire), atUs)) {
    Log({atUs,
         Direction::Out,
         LineRecord::Kind::Frame,
         damage ? ReceivedFrame::Outcome::BadCrc : ReceivedFrame::Outcome::Good,
         control,
         {payload.begin(), payload.end()},
         wireLength});
  }
}

bool BootLoader::SendRaw(std::vector<std::uint8_t> bytes, TimeUs atUs) {
  if (silent_ || config_.faults.silent || outputBytes_ + bytes.size() > kMaxPendingOutput) {
    return false;
  }
  outputBytes_ += bytes.size();
  output_.push_back({atUs + config_.replyDelayUs, std::move(bytes)});
  return true;
}

void BootLoader::Log(LineRecord record) {
  line_.push_back(std::move(record));
  if (line_.size() > kMaxLogEntries) {
    line_.pop_front();
  }
}

void BootLoader::LogCommand(CommandRecord record) {
  commands_.push_back(record);
  if (commands_.size() > kMaxLogEntries) {
    commands_.pop_front();
  }
}

}  // namespace fwu::sim
