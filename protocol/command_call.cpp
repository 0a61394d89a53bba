#include "protocol/command_call.h"

#include <algorithm>
#include <array>

#include "protocol/transaction.h"

namespace fwu {

namespace {

// The answer's header: byte 0 is the boot loader's own, bytes 1 and 2 the device status, high byte first.
constexpr std::size_t kStatusHigh = 1;
constexpr std::size_t kStatusLow = 2;

// Only bytes the response carried count: an answer too short for its header reads the missing status bytes as
// zero, never as whatever an earlier Frame left in the buffer.
std::uint16_t DeviceStatus(std::span<const std::uint8_t> response, std::int16_t length) {
  const auto received = std::min(response.size(), static_cast<std::size_t>(length));
  const auto byteAt = [&](std::size_t index) -> unsigned { return index < received ? response[index] : 0U; };
  return static_cast<std::uint16_t>((byteAt(kStatusHigh) << 8U) | byteAt(kStatusLow));
}

}  // namespace

std::int16_t CallCommand(Link& link, LinkObserver& observer, std::span<const std::uint8_t> command,
                         std::span<std::uint8_t> response, std::int16_t capacity) {
  if (!link.port.IsOpen()) {
    observer.OnFailure({FailureKind::PortClosed, kPortClosed, 0});
    return kPortClosed;
  }
  // Nothing of an earlier answer may pass for this one's.
  std::ranges::fill(response, std::uint8_t{0});
  const std::int16_t result = TransactCommand(link, command, response, capacity);
  if (result < 0) {
    observer.OnFailure({FailureKind::Exchange, result, 0});
    return result;
  }
  if (const std::uint16_t status = DeviceStatus(response, result); status != 0) {
    observer.OnFailure({FailureKind::DeviceStatus, kDeviceError, status});
    return kDeviceError;
  }
  return result;
}

}  // namespace fwu
