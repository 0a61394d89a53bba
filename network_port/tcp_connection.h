#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "network_port/network_url.h"

namespace fwu::network_port {

// Why a connection could not be made, for the operator's message.
enum class ConnectError { Refused, TimedOut, NameNotFound, Other };

// "connection refused by 10.0.0.7:2217", "no answer from 10.0.0.7:2217 within 5 s", "cannot find the host
// 'plc-gw': <detail>", "cannot connect to 10.0.0.7:2217: <detail>".
std::string ConnectFailureText(ConnectError error, const NetworkUrl& server, std::uint32_t limitMs,
                               std::string_view detail);

// One TCP connection to a device server, as the platform's sockets make it: the only part of a network port
// that includes platform headers. Every wait is bounded: the caller's loops, not the socket, decide how long
// the line may stay quiet.
class TcpConnection {
 public:
  // What Receive and Send return when the connection is gone (closed by the server, reset, or never made).
  static constexpr std::ptrdiff_t kGone = -1;

  TcpConnection() = default;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;
  virtual ~TcpConnection() = default;

  // Connects to the first of the server's addresses that answers, all of them within limitMs, with Nagle's algorithm
  // off: every Frame leaves at once. False, with the operator's words for why in reason.
  virtual bool Connect(const NetworkUrl& server, std::uint32_t limitMs, std::string& reason) = 0;
  virtual void Close() = 0;
  // Waits up to waitMs for bytes and takes what has come, up to into's size: their count, 0 when none came
  // within the wait, or kGone.
  virtual std::ptrdiff_t Receive(std::span<std::uint8_t> into, std::uint32_t waitMs) = 0;
  // Waits up to waitMs for room and sends what fits: the count taken, 0 when there was no room, or kGone.
  virtual std::ptrdiff_t Send(std::span<const std::uint8_t> bytes, std::uint32_t waitMs) = 0;
};

// The platform's TCP connection (posix_socket.cpp, win32_socket.cpp).
std::unique_ptr<TcpConnection> NewTcpConnection();

}  // namespace fwu::network_port
