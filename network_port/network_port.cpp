#include "network_port/network_port.h"

#include <algorithm>

namespace fwu::network_port {

namespace {

// While bytes for the server wait for room in the socket, a read looks at the socket again this often: the
// controller's answer may be waiting on them.
constexpr std::uint32_t kResendMs = 2;
// What the port holds for the server beyond what the socket has taken: as a serial driver's output queue, room
// for the longest Frame twice over, with every byte doubled.
constexpr std::size_t kOutboxLimit = 4096;
// A purge takes at most this many reads of what has already come, so that a server that never stops sending
// cannot hold it.
constexpr int kDrainReads = 16;
constexpr std::uint32_t kMsPerSecond = 1000;

}  // namespace

NetworkPort::NetworkPort(std::unique_ptr<TcpConnection> connection, std::unique_ptr<Clock> clock)
    : connection_(std::move(connection)), clock_(std::move(clock)) {}

NetworkPort::~NetworkPort() {
  Close();
}

OpenResult NetworkPort::Open(const std::string& portName) {
  Close();
  reason_.clear();
  reached_ = false;
  server_ = ParseNetworkUrl(portName, &reason_);
  if (!server_) {
    return OpenResult::OpenFailed;
  }
  if (!connection_->Connect(*server_, kConnectLimitMs, reason_)) {
    return OpenResult::OpenFailed;
  }
  reached_ = true;
  open_ = true;
  if (server_->scheme == Scheme::RawTcp) {
    Note("connected to " + server_->HostPort() +
         " over raw TCP: nothing is set remotely, the server's port must be at 38400 8-N-1");
    return OpenResult::Ok;
  }
  Note("connected to " + server_->HostPort() + ", telnet with RFC 2217");
  const OpenResult result = Negotiate();
  if (result != OpenResult::Ok) {
    Close();  // the reason stays for the operator
  }
  return result;
}

OpenResult NetworkPort::Negotiate() {
  session_.emplace([this](std::string_view text) { Note(text); });
  session_->Begin(outbox_);
  Flush(0);
  const std::uint32_t start = clock_->NowMs();
  while (session_->CurrentStage() == Rfc2217Session::Stage::Negotiating) {
    const auto elapsed = static_cast<std::uint32_t>(clock_->NowMs() - start);
    if (elapsed > kNegotiationLimitMs) {
      const std::string waiting = session_->Waiting();
      reason_ = "no answer from " + server_->HostPort() + " to " + waiting + " within " +
                std::to_string(kNegotiationLimitMs / kMsPerSecond) + " s";
      if (waiting.starts_with("COM-PORT-OPTION")) {
        reason_ += " (no telnet server there? socket:// reaches a raw TCP port)";
      }
      return OpenResult::WriteSettingsFailed;
    }
    // One past the limit, so that the wait ends where the limit is exceeded.
    if (Pump(kNegotiationLimitMs - elapsed + 1) == TcpConnection::kGone) {
      reason_ = server_->HostPort() + " closed the connection before the line was set";
      return OpenResult::OpenFailed;
    }
  }
  if (session_->CurrentStage() == Rfc2217Session::Stage::Failed) {
    reason_ = session_->Failure();
    return OpenResult::WriteSettingsFailed;
  }
  return OpenResult::Ok;
}

std::string NetworkPort::LostReason() const {
  return open_ && lost_ && server_ ? server_->HostPort() + " closed the connection" : std::string();
}

void NetworkPort::Close() {
  if (open_) {
    connection_->Close();
  }
  open_ = false;
  lost_ = false;
  session_.reset();
  inbox_.clear();
  inboxRead_ = 0;
  outbox_.clear();
}

std::size_t NetworkPort::Read(std::span<std::uint8_t> into, std::uint32_t waitMs) {
  if (inboxRead_ == inbox_.size()) {
    inbox_.clear();
    inboxRead_ = 0;
    WaitForLine(waitMs);
  }
  const std::size_t count = std::min(into.size(), inbox_.size() - inboxRead_);
  std::copy_n(inbox_.begin() + static_cast<std::ptrdiff_t>(inboxRead_), count, into.begin());
  inboxRead_ += count;
  return count;
}

void NetworkPort::WaitForLine(std::uint32_t waitMs) {
  const std::uint32_t start = clock_->NowMs();
  const auto left = [&] {
    const auto elapsed = static_cast<std::uint32_t>(clock_->NowMs() - start);
    return elapsed < waitMs ? waitMs - elapsed : 0U;
  };
  // Telnet commands alone (a notification, a late answer) are taken and the wait goes on for the line's bytes.
  for (std::uint32_t remaining = waitMs; open_;) {
    Flush(0);
    if (Pump(outbox_.empty() ? remaining : std::min(remaining, kResendMs)) == TcpConnection::kGone || !inbox_.empty()) {
      break;
    }
    remaining = left();
    if (remaining == 0) {
      return;
    }
  }
  if (!inbox_.empty()) {
    return;
  }
  // A connection that has gone, or a closed port, has no wait of its own; the caller's limit still needs one.
  if (const std::uint32_t remaining = left(); remaining > 0) {
    clock_->SleepMs(remaining);
  }
}

WriteOutcome NetworkPort::Write(std::span<const std::uint8_t> bytes) {
  if (!open_ || lost_) {
    return {};
  }
  // Over telnet each 0xFF goes twice; the count reported is of the line's bytes.
  const std::size_t wireSize =
      bytes.size() + (session_ ? static_cast<std::size_t>(std::ranges::count(bytes, std::uint8_t{0xFF})) : 0);
  if (outbox_.size() + wireSize > kOutboxLimit) {
    // No room: wait as long as a serial write would, then take all or nothing, never half a doubled 0xFF.
    Flush(static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), kOutboxLimit)) + 1);
    if (lost_) {
      return {};
    }
    if (outbox_.size() + wireSize > kOutboxLimit) {
      return {true, 0};
    }
  }
  if (session_) {
    Rfc2217Session::Escape(bytes, outbox_);
  } else {
    outbox_.insert(outbox_.end(), bytes.begin(), bytes.end());
  }
  Flush(0);
  if (lost_) {
    return {};
  }
  return {true, static_cast<std::uint32_t>(bytes.size())};
}

void NetworkPort::Purge() {
  if (!open_) {
    return;
  }
  // What has come from the server is dropped, as a driver's input queue is; the telnet commands among it are
  // still taken. The outbox stays: it holds answers the server waits for, and a serial write that was taken is
  // on its way too.
  for (int reads = 0; reads < kDrainReads && Pump(0) > 0; ++reads) {
  }
  inbox_.clear();
  inboxRead_ = 0;
  if (session_) {
    session_->Purge(outbox_);
    Flush(0);
  }
}

std::ptrdiff_t NetworkPort::Pump(std::uint32_t waitMs) {
  if (lost_) {
    return TcpConnection::kGone;
  }
  const std::ptrdiff_t got = connection_->Receive(received_, waitMs);
  if (got == TcpConnection::kGone) {
    Lost();
  } else if (got > 0) {
    const auto bytes = std::span<const std::uint8_t>(received_).first(static_cast<std::size_t>(got));
    if (session_) {
      session_->Take(bytes, inbox_, outbox_);
      Flush(0);
    } else {
      inbox_.insert(inbox_.end(), bytes.begin(), bytes.end());
    }
  }
  return got;
}

void NetworkPort::Flush(std::uint32_t waitMs) {
  std::size_t sent = 0;
  while (!lost_ && sent < outbox_.size()) {
    const std::ptrdiff_t taken = connection_->Send(std::span(outbox_).subspan(sent), waitMs);
    if (taken == TcpConnection::kGone) {
      Lost();
    } else if (taken == 0) {
      break;
    } else {
      sent += static_cast<std::size_t>(taken);
    }
  }
  outbox_.erase(outbox_.begin(), outbox_.begin() + static_cast<std::ptrdiff_t>(sent));
}

void NetworkPort::Lost() {
  if (!lost_) {
    lost_ = true;
    Note("the connection to " + server_->HostPort() + " is gone");
  }
}

void NetworkPort::Note(std::string_view text) {
  if (notes_ != nullptr) {
    notes_->PortNote(text);
  }
}

}  // namespace fwu::network_port
