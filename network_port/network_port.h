#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "network_port/rfc2217.h"
#include "network_port/tcp_connection.h"
#include "serial/clock.h"
#include "serial/serial_port.h"

namespace fwu::network_port {

// The controller's serial line behind a device server, named by a URL: "rfc2217://HOST:PORT" sets the remote line
// to 38400 8-N-1 over telnet (RFC 2217), "socket://HOST:PORT" carries raw bytes to a line set by hand. Above it the
// update sees a serial port like any other: a read sleeps on the socket until the line's bytes come or its wait is
// over, a write is taken whole or not at all, a purge empties both queues (the server's too, over RFC 2217). A
// connection the server drops leaves the port open but mute, like a serial adapter that is pulled out: reads wait
// and find nothing, writes fail, so the exchange fails at its own time limit.
class NetworkPort final : public SerialPort {
 public:
  // How long the connection and, over RFC 2217, the negotiation may each take.
  static constexpr std::uint32_t kConnectLimitMs = 5000;
  static constexpr std::uint32_t kNegotiationLimitMs = 5000;

  // clock: the time limits of the port's own waits.
  NetworkPort(std::unique_ptr<TcpConnection> connection, std::unique_ptr<Clock> clock);
  ~NetworkPort() override;

  // Open results: "Open Err1" (OpenFailed) when the URL is not one, the server cannot be reached or closes the
  // connection before the line is set; "Open Err3" (WriteSettingsFailed) when the server refuses an option or a
  // setting or leaves one unanswered. OpenFailureReason() says which.
  OpenResult Open(const std::string& portName) override;
  void Close() override;
  [[nodiscard]] bool IsOpen() const override { return open_; }
  std::size_t Read(std::span<std::uint8_t> into, std::uint32_t waitMs) override;
  WriteOutcome Write(std::span<const std::uint8_t> bytes) override;
  void Purge() override;
  [[nodiscard]] std::string OpenFailureReason() const override { return reason_; }
  [[nodiscard]] std::string LostReason() const override;
  // Whether the last Open reached the server (the connection was made), whatever came after: a server that then
  // closes the connection before the line is set is there, with no line to give (ser2net when the device behind
  // it is gone).
  [[nodiscard]] bool ServerReached() const { return reached_; }
  void SetNotes(PortNotes* notes) override { notes_ = notes; }

 private:
  OpenResult Negotiate();
  // Waits up to waitMs for the line's bytes, taking the server's telnet commands that come before them.
  void WaitForLine(std::uint32_t waitMs);
  // Waits up to waitMs for bytes from the server and takes them: their count, 0, or TcpConnection::kGone.
  std::ptrdiff_t Pump(std::uint32_t waitMs);
  // Sends what waits in the outbox, waiting up to waitMs for room.
  void Flush(std::uint32_t waitMs);
  void Lost();
  void Note(std::string_view text);

  std::unique_ptr<TcpConnection> connection_;
  std::unique_ptr<Clock> clock_;
  std::optional<NetworkUrl> server_;
  std::optional<Rfc2217Session> session_;  // none for raw TCP
  std::vector<std::uint8_t> inbox_;        // the line's bytes, not yet read
  std::size_t inboxRead_ = 0;
  std::vector<std::uint8_t> outbox_;  // bytes for the server the socket has not taken yet
  std::array<std::uint8_t, 4096> received_{};
  bool open_ = false;
  bool lost_ = false;
  bool reached_ = false;
  std::string reason_;
  PortNotes* notes_ = nullptr;
};

}  // namespace fwu::network_port
