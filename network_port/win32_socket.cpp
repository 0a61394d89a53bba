#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <string>
#include <utility>

#include "network_port/tcp_connection.h"

namespace fwu::network_port {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Winsock is started once for the process, before its first socket, and left running until the process ends.
bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// Owns one socket from the moment it exists: it is closed when its owner goes, so no error path can leak it.
class SocketHandle {
 public:
  SocketHandle() = default;
  explicit SocketHandle(SOCKET socket) : socket_(socket) {}
  SocketHandle(SocketHandle&& other) noexcept : socket_(std::exchange(other.socket_, INVALID_SOCKET)) {}
  SocketHandle& operator=(SocketHandle&& other) noexcept {
    if (this != &other) {
      Reset(std::exchange(other.socket_, INVALID_SOCKET));
    }
    return *this;
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  ~SocketHandle() { Reset(); }

  [[nodiscard]] SOCKET Get() const { return socket_; }
  [[nodiscard]] bool IsValid() const { return socket_ != INVALID_SOCKET; }
  void Reset(SOCKET socket = INVALID_SOCKET) {
    if (socket_ != INVALID_SOCKET) {
      static_cast<void>(closesocket(socket_));
    }
    socket_ = socket;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

struct AddressListFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

std::string SystemText(int error) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(error), 0, text, sizeof(text), nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(error) : message;
}

std::uint32_t RemainingMs(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<std::uint32_t>(left) : 0;
}

int Clamped(std::size_t size) {
  return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

enum class Ready { No, Yes, Failed };

// Waits up to ms for the socket to become readable (or writable), or to fail; select is what every Windows
// version has for this.
Ready WaitFor(SOCKET socket, bool writing, std::uint32_t ms) {
  fd_set wanted;
  fd_set failed;
  FD_ZERO(&wanted);
  FD_ZERO(&failed);
  FD_SET(socket, &wanted);
  FD_SET(socket, &failed);
  constexpr std::uint32_t kMsPerSecond = 1000;
  timeval timeout{static_cast<long>(ms / kMsPerSecond), static_cast<long>((ms % kMsPerSecond) * kMsPerSecond)};
  const int count = select(0, writing ? nullptr : &wanted, writing ? &wanted : nullptr, &failed, &timeout);
  if (count <= 0) {
    return count == 0 ? Ready::No : Ready::Failed;
  }
  return FD_ISSET(socket, &failed) ? Ready::Failed : Ready::Yes;
}

ConnectError Classify(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return ConnectError::Refused;
    case WSAETIMEDOUT:
      return ConnectError::TimedOut;
    default:
      break;
  }
  return ConnectError::Other;
}

// One non-blocking connect, waited on until the deadline: 0 when connected, else the Winsock error
// (WSAETIMEDOUT when the deadline passed first).
int ConnectOne(const SocketHandle& socket, const addrinfo& address, SteadyClock::time_point deadline) {
  u_long nonBlocking = 1;
  if (ioctlsocket(socket.Get(), FIONBIO, &nonBlocking) != 0) {
    return WSAGetLastError();
  }
  if (connect(socket.Get(), address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
    return 0;
  }
  if (const int error = WSAGetLastError(); error != WSAEWOULDBLOCK) {
    return error;
  }
  const Ready ready = WaitFor(socket.Get(), true, RemainingMs(deadline));
  if (ready == Ready::No) {
    return WSAETIMEDOUT;
  }
  int error = 0;
  int size = sizeof(error);
  if (getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
    return WSAGetLastError();
  }
  // A failed connect is reported among the exceptions; its error is kept on the socket.
  return ready == Ready::Failed && error == 0 ? WSAECONNREFUSED : error;
}

class Win32TcpConnection final : public TcpConnection {
 public:
  bool Connect(const NetworkUrl& server, std::uint32_t limitMs, std::string& reason) override {
    Close();
    if (!WinsockStarted()) {
      reason = ConnectFailureText(ConnectError::Other, server, limitMs, "Winsock did not start");
      return false;
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limitMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(server.port);
    if (const int error = getaddrinfo(server.host.c_str(), service.c_str(), &hints, &found); error != 0) {
      reason = ConnectFailureText(ConnectError::NameNotFound, server, limitMs, SystemText(error));
      return false;
    }
    const std::unique_ptr<addrinfo, AddressListFree> addresses(found);
    int lastError = WSAETIMEDOUT;
    for (const addrinfo* address = found; address != nullptr && RemainingMs(deadline) > 0; address = address->ai_next) {
      SocketHandle socket(::socket(address->ai_family, address->ai_socktype, address->ai_protocol));
      if (!socket.IsValid()) {
        lastError = WSAGetLastError();
        continue;
      }
      lastError = ConnectOne(socket, *address, deadline);
      if (lastError == 0) {
        // Every Frame and every answer goes out as soon as it is written, not held for more to join it.
        const BOOL on = TRUE;
        static_cast<void>(
            setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on)));
        socket_ = std::move(socket);
        return true;
      }
    }
    reason = ConnectFailureText(Classify(lastError), server, limitMs, SystemText(lastError));
    return false;
  }

  void Close() override { socket_.Reset(); }

  std::ptrdiff_t Receive(std::span<std::uint8_t> into, std::uint32_t waitMs) override {
    if (!socket_.IsValid()) {
      return kGone;
    }
    if (WaitFor(socket_.Get(), false, waitMs) == Ready::No) {
      return 0;
    }
    // Readable, closed or failed: recv tells which.
    const int got = recv(socket_.Get(), reinterpret_cast<char*>(into.data()), Clamped(into.size()), 0);
    if (got > 0) {
      return got;
    }
    return got < 0 && WSAGetLastError() == WSAEWOULDBLOCK ? 0 : kGone;
  }

  std::ptrdiff_t Send(std::span<const std::uint8_t> bytes, std::uint32_t waitMs) override {
    if (!socket_.IsValid()) {
      return kGone;
    }
    if (bytes.empty()) {
      return 0;
    }
    if (waitMs > 0 && WaitFor(socket_.Get(), true, waitMs) == Ready::No) {
      return 0;
    }
    const int sent = send(socket_.Get(), reinterpret_cast<const char*>(bytes.data()), Clamped(bytes.size()), 0);
    if (sent >= 0) {
      return sent;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : kGone;
  }

 private:
  SocketHandle socket_;
};

}  // namespace

std::unique_ptr<TcpConnection> NewTcpConnection() {
  return std::make_unique<Win32TcpConnection>();
}

}  // namespace fwu::network_port
