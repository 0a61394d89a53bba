#include "station/probe.h"

#include <array>
#include <cstdint>

#include "network_port/network_port.h"
#include "protocol/boot_entry.h"
#include "serial/link.h"
#include "serial/port_connection.h"
#include "trace/wire_decoder.h"
#include "ui/dialog_window.h"

namespace fwu::station {

namespace {

// The boot loader's boot reply is short; what does not fit is dropped but still checked.
constexpr std::size_t kReplySize = 64;

// The probe's boxes are nobody's business but the slot's own line: the answer is all it asks, and the last box
// says why a port did not open.
class QuietWindow : public DialogWindow {
 public:
  void ShowMessage(const std::string& text, const std::string& /*caption*/, BoxStyle /*style*/) override {
    lastBox = text;
  }
  std::string lastBox;
  void SetControlText(int /*controlId*/, const std::string& /*text*/) override {}
  void SetTitle(const std::string& /*text*/) override {}
  void ProgressSetRange(std::uint16_t /*maximum*/) override {}
  void ProgressSetStep(int /*increment*/) override {}
  void ProgressSetPos(int /*position*/) override {}
  void ProgressStepIt() override {}
  void PumpMessages() override {}
};

// The port as the boot-mode entry reads it, counting the bytes that came, seeing whether a whole Frame came
// after the enquiry, and whether a write failed.
class CountingPort : public SerialPort {
 public:
  explicit CountingPort(SerialPort& port)
      : port_(port), frames_(wire::Direction::Received, [this](const wire::WireEvent& event) {
          goodFrame_ = goodFrame_ || (event.kind == wire::EventKind::Frame && event.verdict == wire::Verdict::Good);
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
    const auto* network = dynamic_cast<const net::NetworkPort*>(&port_);
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
  wire::WireDecoder frames_;
};

bool IsNetworkPort(const SerialPort& port) {
  return dynamic_cast<const net::NetworkPort*>(&port) != nullptr;
}

// One try at the boot-mode entry on an open port.
Presence Try(CountingPort& port, Clock& clock, QuietWindow& window) {
  Link link(port, clock);
  std::array<std::uint8_t, kReplySize> reply{};
  SendBootId(link, window);
  ReceiveBootReply(link, window, reply);
  // Nothing came, or a server that said something (ser2net's "Device open failure" when no unit is plugged in)
  // and closed the connection: nothing is there to answer the enquiry.
  if (port.Received() == 0 || !port.LostReason().empty()) {
    return Presence::Silent;
  }
  // The enquiry decides, as in the update: an ACK, or any other whole Frame sent back to it (a refusal), is a
  // controller; bytes that make no Frame are not.
  port.WatchForFrames();
  const bool confirmed = ConfirmBootLoader(link, window) == 0;
  return confirmed || port.GoodFrame() ? Presence::Answering : Presence::Silent;
}

}  // namespace

void HoldPort(SerialPort& port, const std::string& device) {
  QuietWindow window;
  OpenPort(port, window, device);
}

ProbeResult ProbeController(SerialPort& port, Clock& clock, const std::string& device, bool hold) {
  QuietWindow window;
  if (hold && port.IsOpen()) {
    CountingPort held(port);
    const Presence presence = Try(held, clock, window);
    // A serial device that fails writes has hung up: the unit went with it, and opening the name again could
    // reach the next one. A device server that dropped the connection is still there: connect again.
    if (!held.WriteFailed() || !IsNetworkPort(port)) {
      return presence;
    }
    ClosePort(port);
  }
  CountingPort counting(port);
  if (!OpenPort(counting, window, device)) {
    if (counting.ServerWithoutLine()) {
      return Presence::Silent;
    }
    const std::string reason = port.OpenFailureReason();
    return {Presence::NoPort, reason.empty() ? window.lastBox : window.lastBox + ": " + reason};
  }
  const Presence presence = Try(counting, clock, window);
  if (!hold) {
    ClosePort(counting);
  }
  return presence;
}

}  // namespace fwu::station
