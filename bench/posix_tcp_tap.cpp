// fwu_tcp_tap: the updater's end of a line behind a serial device server, with a stopwatch on it.
//
// The updater connects to the tap on 127.0.0.1:LISTEN and the tap connects on to the device server (ser2net) on
// 127.0.0.1:SERVER, carrying every byte both ways at once. It times the line's bytes where the updater sends and
// receives them, so that the benchmark can tell what the device server adds from what the updater does: the line
// tap behind the server times the same bytes where they reach the controller. Telnet's commands and
// subnegotiations (RFC 2217) are carried but not logged, and a doubled IAC is logged as the one byte it stands
// for. The log is written when either side closes, or on SIGTERM or SIGINT.
//
// Log lines (times in nanoseconds on CLOCK_MONOTONIC):
//   h <read> <hex bytes>      the updater sent these; read from its connection at <read>
//   d <written> <hex bytes>   the server sent these; handed on to the updater at <written>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/posix_tap_tools.h"
#include "protocol/hex_text.h"
#include "serial/posix_fd.h"

namespace fwu::bench {
namespace {

constexpr std::size_t kReadChunk = 4096;

std::optional<std::uint16_t> ParsePort(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > UINT16_MAX) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

struct Options {
  std::uint16_t listen = 0;
  std::uint16_t server = 0;
  std::string log;
};

std::optional<Options> ParseOptions(const std::vector<std::string_view>& args) {
  Options options;
  for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--listen" || args[i] == "--server") {
      const auto port = ParsePort(args[i + 1]);
      if (!port) {
        return std::nullopt;
      }
      (args[i] == "--listen" ? options.listen : options.server) = *port;
    } else if (args[i] == "--log") {
      options.log = args[i + 1];
    } else {
      return std::nullopt;
    }
  }
  if (args.size() % 2 != 0 || options.listen == 0 || options.server == 0 || options.log.empty()) {
    return std::nullopt;
  }
  return options;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Every byte goes on at once, as the updater's and the server's own sockets send theirs.
void NoDelay(int fd) {
  const int on = 1;
  static_cast<void>(setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)));
}

std::string Listen(std::uint16_t port, FileDescriptor& fd) {
  fd.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  const sockaddr_in address = Loopback(port);
  if (!fd.IsValid() || setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
      bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 || listen(fd.Get(), 1) != 0) {
    return Failed("listen on 127.0.0.1:" + std::to_string(port));
  }
  return {};
}

std::string Connect(std::uint16_t port, FileDescriptor& fd) {
  fd.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = Loopback(port);
  if (!fd.IsValid() || connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    return Failed("connect to 127.0.0.1:" + std::to_string(port));
  }
  NoDelay(fd.Get());
  return {};
}

bool SendAll(int fd, const std::uint8_t* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t sent = send(fd, bytes + done, size - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

// The line's bytes in one direction of a telnet stream: commands and subnegotiations are dropped, a doubled IAC
// is one 0xFF. Kept across reads, since the network may cut a command anywhere.
class TelnetData {
 public:
  // The line's bytes among these, in hex.
  std::string Take(const std::uint8_t* bytes, std::size_t size) {
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < size; ++i) {
      if (IsData(bytes[i])) {
        data.push_back(bytes[i]);
      }
    }
    std::string hex;
    AppendHexBytes(hex, data, false);
    return hex;
  }

 private:
  static constexpr std::uint8_t kIac = 255;
  static constexpr std::uint8_t kSb = 250;
  static constexpr std::uint8_t kSe = 240;
  static constexpr std::uint8_t kWill = 251;
  enum class State : std::uint8_t { Data, Iac, Verb, Sub, SubIac };

  bool IsData(std::uint8_t byte) {
    switch (state_) {
      case State::Data:
        state_ = byte == kIac ? State::Iac : State::Data;
        return byte != kIac;
      case State::Iac:
        state_ = byte >= kWill && byte != kIac ? State::Verb : (byte == kSb ? State::Sub : State::Data);
        return byte == kIac;
      case State::Verb:
        state_ = State::Data;
        return false;
      case State::Sub:
        state_ = byte == kIac ? State::SubIac : State::Sub;
        return false;
      case State::SubIac:
        state_ = byte == kSe ? State::Data : State::Sub;
        return false;
    }
    return false;
  }

  State state_ = State::Data;
};

class TcpTap {
 public:
  TcpTap(int updater, int server, int signals) : updater_(updater), server_(server), signals_(signals) {}

  // Carries bytes both ways until a stop signal or until either side closes.
  std::string Run() {
    for (;;) {
      std::array<pollfd, 3> fds{pollfd{updater_, POLLIN, 0}, pollfd{server_, POLLIN, 0}, pollfd{signals_, POLLIN, 0}};
      const int ready = poll(fds.data(), fds.size(), -1);
      if (ready < 0 && errno != EINTR) {
        return Failed("poll");
      }
      if (ready <= 0 || fds[2].revents != 0) {
        return {};
      }
      if (fds[0].revents != 0 && !Carry(updater_, server_, 'h', fromUpdater_)) {
        return {};
      }
      if (fds[1].revents != 0 && !Carry(server_, updater_, 'd', fromServer_)) {
        return {};
      }
    }
  }

  [[nodiscard]] bool WriteLog(std::FILE* file) const {
    bool ok = std::fputs("# fwu_tcp_tap\n", file) >= 0;
    for (const auto& line : log_) {
      ok = ok && std::fputs(line.c_str(), file) >= 0;
    }
    return ok;
  }

 private:
  // One read from one side, sent on to the other. An updater's chunk is timed when it was read, a server's when
  // the updater has it. False once either side has closed.
  bool Carry(int from, int to, char direction, TelnetData& data) {
    std::array<std::uint8_t, kReadChunk> buffer{};
    const ssize_t got = recv(from, buffer.data(), buffer.size(), 0);
    const std::uint64_t readNs = NowNs();
    if (got <= 0) {
      return got < 0 && errno == EINTR;
    }
    const auto size = static_cast<std::size_t>(got);
    const bool sent = SendAll(to, buffer.data(), size);
    const std::uint64_t at = direction == 'h' ? readNs : NowNs();
    const std::string hex = data.Take(buffer.data(), size);
    if (!hex.empty()) {
      log_.push_back(std::string(1, direction) + " " + std::to_string(at) + " " + hex + "\n");
    }
    return sent;
  }

  int updater_;
  int server_;
  int signals_;
  TelnetData fromUpdater_;
  TelnetData fromServer_;
  std::vector<std::string> log_;
};

constexpr std::string_view kUsage =
    "usage: fwu_tcp_tap --listen PORT --server PORT --log FILE\n"
    "Takes one connection on 127.0.0.1:PORT, carries it to the device server on 127.0.0.1:SERVER, and logs when\n"
    "the line's bytes (telnet taken off) left and reached the updater.\n";

int Main(int argc, char** argv) {
  const auto options = ParseOptions(std::vector<std::string_view>(argv + 1, argv + argc));
  if (!options) {
    std::cerr << kUsage;
    return kExitBadArguments;
  }
  int signalFd = -1;
  std::string problem = WatchStopSignals(signalFd);
  const FileDescriptor signals(signalFd);
  FileDescriptor listener;
  if (problem.empty()) {
    problem = Listen(options->listen, listener);
  }
  if (!problem.empty()) {
    std::cerr << "fwu_tcp_tap: " << problem << "\n";
    return kExitSystem;
  }
  std::array<pollfd, 2> waiting{pollfd{listener.Get(), POLLIN, 0}, pollfd{signals.Get(), POLLIN, 0}};
  if (poll(waiting.data(), waiting.size(), -1) <= 0 || waiting[1].revents != 0) {
    return kExitOk;  // stopped before anyone came
  }
  FileDescriptor updater(accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  FileDescriptor server;
  problem = updater.IsValid() ? Connect(options->server, server) : Failed("accept");
  if (!problem.empty()) {
    std::cerr << "fwu_tcp_tap: " << problem << "\n";
    return kExitSystem;
  }
  NoDelay(updater.Get());
  TcpTap tap(updater.Get(), server.Get(), signals.Get());
  problem = tap.Run();
  return FinishTap(
      "fwu_tcp_tap", options->log, [&tap](std::FILE* log) { return tap.WriteLog(log); }, problem);
}

}  // namespace
}  // namespace fwu::bench

int main(int argc, char** argv) {
  return fwu::bench::Main(argc, argv);
}
