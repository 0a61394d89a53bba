#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "protocol/link_observer.h"
#include "serial/link.h"

namespace fwu {

inline constexpr std::int16_t kPortClosed = -1;
inline constexpr std::int16_t kDeviceError = -80;

// The operator's text for a failed exchange: the code as "%8d : " followed by its message.
std::string CommandFailureText(std::int16_t code);
// The operator's text for a nonzero device status: "%04X : Errors".
std::string DeviceStatusText(std::uint16_t status);

// Sends one device command and checks the device status of its answer. Every failure has been told to the
// observer when this returns: kPortClosed, kDeviceError or a TransactCommand code. On success returns the
// answer's payload length.
std::int16_t CallCommand(Link& link, LinkObserver& observer, std::span<const std::uint8_t> command,
                         std::span<std::uint8_t> response, std::int16_t capacity);

}  // namespace fwu
