#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "network_port/tcp_connection.h"
#include "serial/posix_fd.h"

namespace fwu::network_port {

namespace {

using SteadyClock = std::chrono::steady_clock;

struct AddressListFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

int RemainingMs(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

int WaitMs(std::uint32_t ms) {
  return static_cast<int>(std::min<std::uint32_t>(ms, INT_MAX));
}

int PollFor(int fd, short events, int timeoutMs) {
  pollfd watch{fd, events, 0};
  int ready = 0;
  do {
    ready = ::poll(&watch, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 ? watch.revents : 0;
}

ConnectError Classify(int error) {
  switch (error) {
    case ECONNREFUSED:
      return ConnectError::Refused;
    case ETIMEDOUT:
      return ConnectError::TimedOut;
    default:
      break;
  }
  return ConnectError::Other;
}

// One non-blocking connect, waited on until the deadline. 0 when connected, else the error (ETIMEDOUT when the
// deadline passed first).
int ConnectOne(const FileDescriptor& fd, const addrinfo& address, SteadyClock::time_point deadline) {
  if (::connect(fd.Get(), address.ai_addr, address.ai_addrlen) == 0) {
    return 0;
  }
  if (errno != EINPROGRESS) {
    return errno;
  }
  if (PollFor(fd.Get(), POLLOUT, RemainingMs(deadline)) == 0) {
    return ETIMEDOUT;
  }
  int error = 0;
  socklen_t size = sizeof(error);
  if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
    return errno;
  }
  return error;
}

class PosixTcpConnection final : public TcpConnection {
 public:
  bool Connect(const NetworkUrl& server, std::uint32_t limitMs, std::string& reason) override {
    Close();
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limitMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(server.port);
    if (const int error = ::getaddrinfo(server.host.c_str(), service.c_str(), &hints, &found); error != 0) {
      reason = ConnectFailureText(ConnectError::NameNotFound, server, limitMs, gai_strerror(error));
      return false;
    }
    const std::unique_ptr<addrinfo, AddressListFree> addresses(found);
    int lastError = ETIMEDOUT;
    for (const addrinfo* address = found; address != nullptr && RemainingMs(deadline) > 0; address = address->ai_next) {
      FileDescriptor fd(
          ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol));
      if (!fd.IsValid()) {
        lastError = errno;
        continue;
      }
      lastError = ConnectOne(fd, *address, deadline);
      if (lastError == 0) {
        // Every Frame and every answer goes out as soon as it is written, not held for more to join it.
        const int on = 1;
        static_cast<void>(::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)));
        fd_ = std::move(fd);
        return true;
      }
    }
    reason = ConnectFailureText(Classify(lastError), server, limitMs, std::strerror(lastError));
    return false;
  }

  void Close() override { fd_.Reset(); }

  std::ptrdiff_t Receive(std::span<std::uint8_t> into, std::uint32_t waitMs) override {
    if (!fd_.IsValid()) {
      return kGone;
    }
    if (PollFor(fd_.Get(), POLLIN, WaitMs(waitMs)) == 0) {
      return 0;
    }
    // Readable, hung up or failed: recv tells which.
    ssize_t got = 0;
    do {
      got = ::recv(fd_.Get(), into.data(), into.size(), MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
      return got;
    }
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : kGone;
  }

  std::ptrdiff_t Send(std::span<const std::uint8_t> bytes, std::uint32_t waitMs) override {
    if (!fd_.IsValid()) {
      return kGone;
    }
    if (bytes.empty()) {
      return 0;
    }
    if (waitMs > 0 && PollFor(fd_.Get(), POLLOUT, WaitMs(waitMs)) == 0) {
      return 0;
    }
    ssize_t sent = 0;
    do {
      // A server that has gone raises no SIGPIPE: the failure is this call's result.
      sent = ::send(fd_.Get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent >= 0) {
      return sent;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : kGone;
  }

 private:
  FileDescriptor fd_;
};

}  // namespace

std::unique_ptr<TcpConnection> NewTcpConnection() {
  return std::make_unique<PosixTcpConnection>();
}

}  // namespace fwu::network_port
