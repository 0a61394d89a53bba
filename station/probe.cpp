#include "station/probe.h"

#include <array>
#include <cstdint>

#include "network_port/network_port.h"
#include "protocol/boot_entry.h"
#include "protocol/link_observer.h"
#include "serial/link.h"
#include "serial/port_connection.h"
#include "trace/wire_decoder.h"

namespace fwu::station {

namespace {

// The boot loader's boot reply is short; what does not fit is dropped but still checked.
constexpr std::size_t kReplySize = 64;

// The port as the boot-mode entry reads it, counting the bytes that came, seeing whether a whole Frame came
// after the enquiry, and whether a write failed.
class CountingPort : public SerialPort {
 public:
  explicit CountingPort(SerialPort& port)
      : port_(port), frames_(trace::Direction::Received, [this](const trace::WireEvent& event) {
          goodFrame_ = goodFrame_ || (event.kind == trace::EventKind::Frame && event.verdict == trace::Verdict::Good);
        }) {}
  OpenResult Open(const std::string& portName) override {
    lastOpen_ = port_.Open(portName);
    return lastOpen_;
  }
  void Close() override { port_.Close(); }
  [[nodiscard]] bool IsOpen() const override { return port_.IsOpen(); }
  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override {
    const std::size_t got = port_.Read(into, waitMs);
    received_ += got;
    if (watching_) {
      frames_.Push(into.first(got), 0);
    }
    return got;
  }
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override {
    const WriteOutcome outcome = port_.Write(bytes);
    writeFailed_ = writeFailed_ || !outcome.ok;
    return outcome;
  }
  void Purge() override { port_.Purge(); }
  [[nodiscard]] std::string LostReason() const override { return port_.LostReason(); }
  [[nodiscard]] std::size_t Received() const { return received_; }
  [[nodiscard]] bool WriteFailed() const { return writeFailed_; }
  // A device server that took the connection and closed it before the line was set (over RFC 2217) is there,
  // with no line to give: no unit, rather than no port. A refused setting is a fault of the server's set-up.
  [[nodiscard]] bool ServerWithoutLine() const {
    const auto* network = dynamic_cast<const network_port::NetworkPort*>(&port_);
    return network != nullptr && network->ServerReached() && lastOpen_ == OpenResult::OpenFailed;
  }
  // From now on the bytes that come are looked at for a Frame.
  void WatchForFrames() { watching_ = true; }
  [[nodiscard]] bool GoodFrame() {
    frames_.Flush();
    return goodFrame_;
  }

 private:
  SerialPort& port_;
  std::size_t received_ = 0;
  OpenResult lastOpen_ = OpenResult::Ok;
  bool writeFailed_ = false;
  bool watching_ = false;
  bool goodFrame_ = false;
  trace::WireDecoder frames_;
};

bool IsNetworkPort(const SerialPort& port) {
  return dynamic_cast<const network_port::NetworkPort*>(&port) != nullptr;
}

// One try at the boot-mode entry on an open port.
// The probe's failures are nobody's business but the slot's own line: the answer is all it asks.
Presence Try(CountingPort& port, Clock& clock) {
  LinkObserver quiet;
  Link link(port, clock);
  std::array<std::uint8_t, kReplySize> reply{};
  SendBootId(link, quiet);
  ReceiveBootReply(link, quiet, reply);
  // Nothing came, or a server that said something (ser2net's "Device open failure" when no unit is plugged in)
  // and closed the connection: nothing is there to answer the enquiry.
  if (port.Received() == 0 || !port.LostReason().empty()) {
    return Presence::Silent;
  }
  // The enquiry decides, as in the update: an ACK, or any other whole Frame sent back to it (a refusal), is a
  // controller; bytes that make no Frame are not.
  port.WatchForFrames();
  const bool confirmed = ConfirmBootLoader(link, quiet) == 0;
  return confirmed || port.GoodFrame() ? Presence::Answering : Presence::Silent;
}

}  // namespace

void HoldPort(SerialPort& port, const std::string& device) {
  OpenPort(port, device);
}

ProbeResult ProbeController(SerialPort& port, Clock& clock, const std::string& device, bool hold) {
  if (hold && port.IsOpen()) {
    CountingPort held(port);
    const Presence presence = Try(held, clock);
    // A serial device that fails writes has hung up: the unit went with it, and opening the name again could
    // reach the next one. A device server that dropped the connection is still there: connect again.
    if (!held.WriteFailed() || !IsNetworkPort(port)) {
      return presence;
    }
    ClosePort(port);
  }
  CountingPort counting(port);
  if (const OpenResult opened = OpenPort(counting, device); opened != OpenResult::Ok) {
    if (counting.ServerWithoutLine()) {
      return Presence::Silent;
    }
    // Why the port did not open, as the slot's line shows it: the operator's text and the system's reason.
    const std::string text = OpenFailureText(opened);
    const std::string reason = port.OpenFailureReason();
    return {Presence::NoPort, reason.empty() ? text : text + ": " + reason};
  }
  const Presence presence = Try(counting, clock);
  if (!hold) {
    ClosePort(counting);
  }
  return presence;
}

}  // namespace fwu::station
