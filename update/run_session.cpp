#include "update/run_session.h"

#include "protocol/boot_entry.h"
#include "protocol/command_call.h"
#include "update/update_commands.h"

namespace fwu {

namespace {

Outcome OutcomeOf(FailureKind kind) {
  switch (kind) {
    case FailureKind::PortClosed:
      return Outcome::OpenFailed;
    case FailureKind::NoAnswer:
    case FailureKind::NotAck:
      return Outcome::NoBootLoader;
    case FailureKind::Exchange:
      return Outcome::LinkFailure;
    case FailureKind::DeviceStatus:
      break;
  }
  return Outcome::DeviceError;
}

constexpr std::size_t kAddressBytes = 4;

}  // namespace

void RunSession::OnFailure(const Failure& failure) {
  lastFailure_ = failure;
  observer_.OnFailure(failure);
}

bool RunSession::EnterBootMode(std::span<std::uint8_t> bootReply) {
  if (SendBootId(link_, *this) == -1) {
    return false;
  }
  result_.where.last = LastSent::BootEntry;
  ReceiveBootReply(link_, *this, bootReply);
  return ConfirmBootLoader(link_, *this) >= 0;
}

std::int16_t RunSession::Call(std::span<const std::uint8_t> command, std::span<std::uint8_t> answer,
                              std::int16_t capacity) {
  const std::int16_t result = CallCommand(link_, *this, command, answer, capacity);
  if (result == kPortClosed || command.size() < 2) {
    // Nothing went out, or nothing that names a command.
    return result;
  }
  Where& where = result_.where;
  where.last = LastSent::Command;
  where.command = command[0];
  where.qualifier = command[1];
  where.blockAddress.reset();
  if (command[0] == kBlockWrite && command.size() >= kBlockAddressOffset + kAddressBytes) {
    std::uint32_t address = 0;
    for (std::size_t i = kBlockAddressOffset; i < kBlockAddressOffset + kAddressBytes; ++i) {
      address = (address << 8U) | command[i];
    }
    where.blockAddress = address;
  }
  return result;
}

void RunSession::EnterPhase(Phase phase, Image image) {
  result_.where.phase = phase;
  result_.where.image = image;
  observer_.OnPhase(phase);
}

void RunSession::Fail() {
  result_.outcome = OutcomeOf(lastFailure_.kind);
  result_.resultCode = lastFailure_.code;
  result_.deviceStatus = lastFailure_.kind == FailureKind::DeviceStatus ? lastFailure_.status : 0;
  result_.failure = lastFailure_;
}

}  // namespace fwu
