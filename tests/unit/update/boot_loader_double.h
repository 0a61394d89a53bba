#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/progress.h"
#include "serial/link.h"
#include "support/recording_window.h"
#include "support/scripted_port.h"
#include "support/wire.h"

namespace fwu::test {

// A boot loader at the Frame level, answering the program through ScriptedPort::OnWrite: the identification
// message with a boot reply, ENQ with ACK, each command with ACK, EOT with the answer, ACK with the closing EOT.
// Answers arrive at once on the virtual clock. It records what it was asked, in order.
class BootLoaderDouble {
 public:
  // How one command is answered: an answer payload (header with the device status, then data), or nothing at all.
  struct Answer {
    Bytes payload;
    bool silent = false;
  };
  // Decides the answer to a command; nullopt leaves it to the defaults. index counts the commands from 0.
  using Policy = std::function<std::optional<Answer>(const Bytes& command, int index)>;

  explicit BootLoaderDouble(ScriptedPort& port);

  // A successful answer: header with device status 0, then data.
  static Answer Ok(std::initializer_list<std::uint8_t> data = {});
  static Answer Ok(std::span<const std::uint8_t> data);
  static Answer Status(std::uint16_t status);
  static Answer Silence() { return {{}, true}; }

  void SetProgramKind(std::uint8_t kind) { programKind_ = kind; }
  void SetVersion(const std::string& version) { version_ = version; }
  void SetBootReplyBody(Bytes body) { bootReplyBody_ = std::move(body); }
  void RefuseEnquiry() { answerEnquiry_ = false; }
  void OnCommand(Policy policy) { policy_ = std::move(policy); }

  // What happened, in order: "id" for an identification message, "enq" for an enquiry, and each command as
  // hex bytes ("0A 00"); a block write shows its ten header bytes followed by "+256".
  [[nodiscard]] const std::vector<std::string>& Events() const { return events_; }
  [[nodiscard]] const std::vector<Bytes>& Commands() const { return commands_; }
  // Virtual time at which each command arrived.
  [[nodiscard]] const std::vector<std::uint32_t>& CommandTimes() const { return commandTimes_; }

  static std::string Describe(const Bytes& command);

 private:
  enum class Turn { Idle, HostTurn, AwaitAck };

  void Take(ScriptedPort& port, std::span<const std::uint8_t> written);
  void TakeIdentification(ScriptedPort& port, std::span<const std::uint8_t> written);
  void TakeFrame(ScriptedPort& port, const ParsedFrame& frame);
  Answer Decide(const Bytes& command, int index) const;

  std::uint8_t programKind_ = 0x20;
  std::string version_ = "0212";
  Bytes bootReplyBody_ = {'B', 'L'};
  bool answerEnquiry_ = true;
  Policy policy_;

  Bytes identification_;
  Turn turn_ = Turn::Idle;
  Bytes pendingAnswer_;
  std::vector<std::string> events_;
  std::vector<Bytes> commands_;
  std::vector<std::uint32_t> commandTimes_;
};

// Everything one update or version read runs against: the virtual line, the window, the progress counters and
// the boot loader double answering on the line. A fixture, or one per table row so rows cannot leak into each other.
struct LoaderRig {
  VirtualClock clock;
  ScriptedPort port{clock};
  Link link{port, clock};
  RecordingWindow window;
  Progress progress;
  BootLoaderDouble loader{port};
};

}  // namespace fwu::test
