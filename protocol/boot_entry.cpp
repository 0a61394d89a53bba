#include "protocol/boot_entry.h"

#include <array>
#include <limits>
#include <optional>
#include <string_view>

#include "protocol/control_chars.h"
#include "protocol/frame.h"
#include "serial/write_bytes.h"

namespace fwu {

namespace {

// Limits of the boot reply: its STX from the start of the wait, the whole body from the STX (not per byte), and
// the check byte from the ETX.
constexpr std::uint32_t kReplyStartLimitMs = 500;
constexpr std::uint32_t kReplyBodyLimitMs = 1000;
constexpr std::uint32_t kReplyCheckLimitMs = 1000;
// The boot loader answers the enquiry within this long.
constexpr std::uint32_t kEnquiryLimitMs = 1000;
// The answer to the enquiry is not looked at; this bounds what is taken in.
constexpr std::int16_t kEnquiryCapacity = 250;

// The block check of the unframed messages: XOR of everything after the STX, the ETX included.
std::uint8_t BlockCheck(std::string_view code) {
  std::uint8_t check = 0;
  for (const char c : code) {
    check ^= static_cast<std::uint8_t>(c);
  }
  return static_cast<std::uint8_t>(check ^ kEtx);
}

bool PortOpen(Link& link, LinkObserver& observer) {
  if (link.port.IsOpen()) {
    return true;
  }
  observer.OnFailure({FailureKind::PortClosed, -1, 0});
  return false;
}

}  // namespace

std::int16_t SendBootId(Link& link, LinkObserver& observer) {
  if (!PortOpen(link, observer)) {
    return -1;
  }
  PurgeLine(link);
  const std::string_view code(kBootIdCode);
  const std::array<std::uint8_t, 1> lead{kStx};
  const std::array<std::uint8_t, 2> tail{kEtx, BlockCheck(code)};
  // Three writes, as the boot loader has always received them: it must take the gaps between them.
  WriteBytes(link, lead);
  WriteBytes(link, std::span(reinterpret_cast<const std::uint8_t*>(code.data()), code.size()));
  WriteBytes(link, tail);
  return 0;
}

std::int16_t ReceiveBootReply(Link& link, LinkObserver& observer, std::span<std::uint8_t> reply) {
  if (!PortOpen(link, observer)) {
    return -1;
  }
  // Anything before the STX is noise from the controller's start-up and is dropped.
  Deadline hunt = LimitFromNow(link, kReplyStartLimitMs);
  for (;;) {
    const auto byte = ReadByte(link, hunt);
    if (!byte) {
      return -1;
    }
    if (*byte == kStx) {
      break;
    }
  }

  // The body has no escaping: it ends at the first ETX. What does not fit the caller's buffer is dropped but still
  // checked, so the result still tells whether the reply came through intact.
  std::size_t stored = 0;
  const auto store = [&](std::uint8_t byte) {
    if (stored < reply.size()) {
      reply[stored] = byte;
    }
    ++stored;
  };
  std::uint8_t check = 0;
  // One limit for the whole body from the STX; nothing happens between the two but reading.
  Deadline body = Deadline::AtFirstWait(kReplyBodyLimitMs);
  for (;;) {
    const auto byte = ReadByte(link, body);
    if (!byte) {
      return -1;
    }
    store(*byte);
    check ^= *byte;
    if (*byte == kEtx) {
      break;
    }
  }
  const std::size_t bodyLength = stored - 1;

  Deadline checkByte = Deadline::AtFirstWait(kReplyCheckLimitMs);
  const auto received = ReadByte(link, checkByte);
  if (!received) {
    return -1;
  }
  store(*received);
  if (*received != check) {
    return 0;
  }
  constexpr std::size_t kLargest = std::numeric_limits<std::int16_t>::max();
  return static_cast<std::int16_t>(bodyLength < kLargest ? bodyLength : kLargest);
}

std::int16_t ConfirmBootLoader(Link& link, LinkObserver& observer) {
  SendFrame(link, kEnq, {});
  // Stray bytes of the boot reply and damaged Frames are passed over; the first good Frame decides.
  std::array<std::uint8_t, kEnquiryCapacity - 2> answer{};
  Deadline phase = LimitFromNow(link, kEnquiryLimitMs);
  while (!phase.Passed(link.clock)) {
    std::uint8_t control = 0;
    if (ReceiveFrame(link, control, answer, kEnquiryCapacity, phase) < 0) {
      continue;
    }
    if (control != kAck) {
      observer.OnFailure({FailureKind::NotAck, -1, 0});
      return -1;
    }
    SendFrame(link, kEot, {});
    return 0;
  }
  observer.OnFailure({FailureKind::NoAnswer, -1, 0});
  return -1;
}

}  // namespace fwu
