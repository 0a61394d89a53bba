#include "protocol/link_observer.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "protocol/command_call.h"
#include "protocol/transaction.h"

namespace fwu {

namespace {

// The operator's message for each failure of an exchange; every other code reads "Other errors".
struct FailureMessage {
  std::int16_t code;
  const char* text;
};
constexpr std::array<FailureMessage, 10> kFailureMessages{{
    {kAckTimeout, "When sending the command, ACK reception timeout"},
    {kAckCrcError, "CRC error when sending command"},
    {kNotAck, "When sending a command, receive other than ACK"},
    {kAckRetryOver, "Retry over at command transmission"},
    {kAckOverrun, "Buffer overrun on reception of ACK upon command transmission"},
    {kResponseTimeout, "Response reception timeout in response reception"},
    {kEotTimeout, "EOT reception timeout at response reception"},
    {kNotData, "Receive response other than data received"},
    {kResponseRetryOver, "Retry over at response reception"},
    {kNotEot, "Receive response Other than receive EOT"},
}};
constexpr const char* kOtherErrors = "Other errors";
constexpr const char* kDeviceErrorsText = "Errors";

// Room for the longest prefix: a 16-bit code, or a status, with its " : " tail.
constexpr std::size_t kPrefixSize = 20;

constexpr char kPortNotOpenText[] = "Open Err10";
constexpr char kNoAnswerText[] = "ACK receive timeout";
constexpr char kNotAckText[] = "Receive except ACK";

const char* FailureMessageFor(std::int16_t code) {
  const auto* found = std::ranges::find(kFailureMessages, code, &FailureMessage::code);
  return found == kFailureMessages.end() ? kOtherErrors : found->text;
}

template <typename Value>
std::string FormatPrefix(const char* format, Value value) {
  std::array<char, kPrefixSize> prefix{};
  const int length = std::snprintf(prefix.data(), prefix.size(), format, value);
  return length < 0 ? std::string() : std::string(prefix.data());
}

}  // namespace

std::string CommandFailureText(std::int16_t code) {
  return FormatPrefix("%8d : ", static_cast<int>(code)) + FailureMessageFor(code);
}

std::string DeviceStatusText(std::uint16_t status) {
  return FormatPrefix("%04X : ", static_cast<unsigned>(status)) + kDeviceErrorsText;
}

std::string FailureText(const Failure& failure) {
  switch (failure.kind) {
    case FailureKind::PortClosed:
      return kPortNotOpenText;
    case FailureKind::NoAnswer:
      return kNoAnswerText;
    case FailureKind::NotAck:
      return kNotAckText;
    case FailureKind::Exchange:
      return CommandFailureText(failure.code);
    case FailureKind::DeviceStatus:
      break;
  }
  return DeviceStatusText(failure.status);
}

}  // namespace fwu
