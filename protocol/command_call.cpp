#include "protocol/command_call.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "protocol/error_box.h"
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

// The answer's header: byte 0 is the boot loader's own, bytes 1 and 2 the device status, high byte first.
constexpr std::size_t kStatusHigh = 1;
constexpr std::size_t kStatusLow = 2;

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

// Only bytes the response carried count: an answer too short for its header reads the missing status bytes as
// zero, never as whatever an earlier Frame left in the buffer.
std::uint16_t DeviceStatus(std::span<const std::uint8_t> response, std::int16_t length) {
  const auto received = std::min(response.size(), static_cast<std::size_t>(length));
  const auto byteAt = [&](std::size_t index) -> unsigned { return index < received ? response[index] : 0U; };
  return static_cast<std::uint16_t>((byteAt(kStatusHigh) << 8U) | byteAt(kStatusLow));
}

}  // namespace

std::string CommandFailureText(std::int16_t code) {
  return FormatPrefix("%8d : ", static_cast<int>(code)) + FailureMessageFor(code);
}

std::string DeviceStatusText(std::uint16_t status) {
  return FormatPrefix("%04X : ", static_cast<unsigned>(status)) + kDeviceErrorsText;
}

std::int16_t CallCommand(Link& link, DialogWindow& owner, std::span<const std::uint8_t> command,
                         std::span<std::uint8_t> response, std::int16_t capacity) {
  if (!link.port.IsOpen()) {
    ShowErrorBox(owner, kPortNotOpenText);
    return kPortClosed;
  }
  // Nothing of an earlier answer may pass for this one's.
  std::ranges::fill(response, std::uint8_t{0});
  const std::int16_t result = TransactCommand(link, command, response, capacity);
  if (result < 0) {
    ShowErrorBox(owner, CommandFailureText(result));
    return result;
  }
  if (const std::uint16_t status = DeviceStatus(response, result); status != 0) {
    ShowErrorBox(owner, DeviceStatusText(status));
    return kDeviceError;
  }
  return result;
}

}  // namespace fwu
