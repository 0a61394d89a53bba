#pragma once

#include <cstdint>
#include <span>

#include "protocol/link_observer.h"
#include "serial/link.h"

namespace fwu {

// The identification code the boot loader expects in the identification message.
inline constexpr char kBootIdCode[] = "kzkz42";

// Purges the port and writes STX, the identification code, ETX and the block check, in three writes.
// Returns 0, or -1 when no port is open (told as PortClosed).
std::int16_t SendBootId(Link& link, LinkObserver& observer);

// Reads the boot loader's unframed reply (STX, body, ETX, BCC) into reply: body, ETX and BCC, as far as reply
// holds them; bytes beyond it are dropped but still enter the block check. Returns the body length when the check
// matches, 0 when it does not, -1 on a time limit or a closed port (told as PortClosed).
std::int16_t ReceiveBootReply(Link& link, LinkObserver& observer, std::span<std::uint8_t> reply);

// Sends ENQ and expects ACK as the first good Frame within 1000 ms, then sends EOT. Returns 0, or -1 after
// telling NoAnswer or NotAck.
std::int16_t ConfirmBootLoader(Link& link, LinkObserver& observer);

}  // namespace fwu
