#pragma once

#include <cstdint>
#include <string>

namespace fwu {

// What ended an exchange with the controller, in the line's and the controller's terms.
enum class FailureKind : std::uint8_t {
  PortClosed,    // no port was open: nothing was sent
  NoAnswer,      // boot-mode entry: no Frame came within the limit after the enquiry
  NotAck,        // boot-mode entry: the first Frame after the enquiry was not ACK
  Exchange,      // a command's exchange failed: code is the transaction's result
  DeviceStatus,  // the controller answered a command with a nonzero device status
};

struct Failure {
  FailureKind kind = FailureKind::PortClosed;
  std::int16_t code = 0;     // the operation's negative result
  std::uint16_t status = 0;  // the device status, for DeviceStatus
};

// The operator's text for a failure: "Open Err10", "ACK receive timeout", "Receive except ACK", a transaction
// code as "%8d : " and its message, a device status as "%04X : Errors".
std::string FailureText(const Failure& failure);

// Told what happens on the link while an operation runs. Every method does nothing unless overridden.
class LinkObserver {
 public:
  LinkObserver() = default;
  LinkObserver(const LinkObserver&) = delete;
  LinkObserver& operator=(const LinkObserver&) = delete;
  LinkObserver(LinkObserver&&) = delete;
  LinkObserver& operator=(LinkObserver&&) = delete;
  virtual ~LinkObserver() = default;

  // A failure at the moment the operation meets it, before it returns its negative result.
  virtual void OnFailure(const Failure& /*failure*/) {}
};

}  // namespace fwu
