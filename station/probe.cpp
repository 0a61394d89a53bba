#include "station/probe.h"

#include <array>
#include <cstdint>

#include "protocol/boot_entry.h"
#include "serial/link.h"
#include "serial/port_connection.h"

namespace fwu::station {

namespace {

// The boot loader's boot reply is short; what does not fit is dropped but still checked.
constexpr std::size_t kReplySize = 64;

// The port as the boot-mode entry reads it, counting the bytes that came.
class CountingPort : public SerialPort {
 public:
  explicit CountingPort(SerialPort& port) : port_(port) {}
  OpenResult Open(const std::string& portName) override { return port_.Open(portName); }
  void Close() override { port_.Close(); }
  [[nodiscard]] bool IsOpen() const override { return port_.IsOpen(); }
  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override {
    const std::size_t got = port_.Read(into, waitMs);
    received_ += got;
    return got;
  }
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override { return port_.Write(bytes); }
  void Purge() override { port_.Purge(); }
  [[nodiscard]] std::size_t Received() const { return received_; }

 private:
  SerialPort& port_;
  std::size_t received_ = 0;
};

}  // namespace

void HoldPort(SerialPort& port, const std::string& device) {
  OpenPort(port, device);
}

Presence ProbeController(SerialPort& port, Clock& clock, const std::string& device, bool hold) {
  // The probe's failures are nobody's business: the answer is all it asks.
  LinkObserver quiet;
  CountingPort counting(port);
  if ((!hold || !port.IsOpen()) && OpenPort(counting, device) != OpenResult::Ok) {
    return Presence::NoPort;
  }
  Link link(counting, clock);
  std::array<std::uint8_t, kReplySize> reply{};
  SendBootId(link, quiet);
  ReceiveBootReply(link, quiet, reply);
  Presence presence = Presence::Silent;
  if (counting.Received() != 0) {
    // The enquiry decides, as in the update: an ACK, or anything sent back to it (a refusal), is a controller.
    const std::size_t beforeEnquiry = counting.Received();
    const bool confirmed = ConfirmBootLoader(link, quiet) == 0;
    presence = confirmed || counting.Received() != beforeEnquiry ? Presence::Answering : Presence::Silent;
  }
  if (!hold) {
    ClosePort(counting);
  }
  return presence;
}

}  // namespace fwu::station
