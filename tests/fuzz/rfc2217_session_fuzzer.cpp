// The RFC 2217 session against whatever a server sends, cut anywhere: the outcome must not depend on how the
// network cut the bytes, the line's data never grows beyond what came, the session answers only with telnet
// commands (never with data of its own) and at most once per command it was sent, and a negotiation once ended
// stays ended. Where the negotiation succeeds, the same bytes go through the network port as the link reads it.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fuzz_line.h"
#include "network_port/network_port.h"
#include "network_port/rfc2217.h"

namespace {

using fwu::network_port::Rfc2217Session;
using fwu::test::Require;

// How many bytes the network hands over next: all at once without cuts, else 1 to 16 by the cuts, cycled.
std::size_t PieceSize(std::size_t left, std::span<const std::uint8_t> pieces, std::size_t piece) {
  return std::min(left, pieces.empty() ? left : 1U + pieces[piece % pieces.size()] % 16U);
}

struct Result {
  Rfc2217Session::Stage stage;
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> out;
};

// Feeds the server's bytes in pieces of the given sizes (cycled), checking after each that an ended negotiation
// stays as it ended.
Result Feed(std::span<const std::uint8_t> server, std::span<const std::uint8_t> pieces) {
  Rfc2217Session session(nullptr);
  Result result{};
  std::vector<std::uint8_t> begin;
  session.Begin(begin);
  std::size_t at = 0;
  for (std::size_t piece = 0; at < server.size(); ++piece) {
    const auto chunk = server.subspan(at, PieceSize(server.size() - at, pieces, piece));
    const Rfc2217Session::Stage before = session.CurrentStage();
    session.Take(chunk, result.data, result.out);
    Require(before == Rfc2217Session::Stage::Negotiating || session.CurrentStage() == before,
            "an ended negotiation changed its outcome");
    at += chunk.size();
  }
  result.stage = session.CurrentStage();
  return result;
}

// True when bytes are nothing but IAC WILL/WONT/DO/DONT x and IAC SB ... IAC SE commands.
bool OnlyTelnetCommands(const std::vector<std::uint8_t>& bytes) {
  constexpr std::uint8_t kIac = 0xFF;
  constexpr std::uint8_t kSb = 0xFA;
  constexpr std::uint8_t kSe = 0xF0;
  constexpr std::uint8_t kWill = 0xFB;
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] != kIac || i + 2 >= bytes.size()) {
      return false;
    }
    if (bytes[i + 1] >= kWill && bytes[i + 1] != kIac) {
      i += 3;
      continue;
    }
    if (bytes[i + 1] != kSb) {
      return false;
    }
    std::size_t end = i + 2;
    while (end + 1 < bytes.size() && !(bytes[end] == kIac && bytes[end + 1] == kSe)) {
      end += bytes[end] == kIac ? 2 : 1;
    }
    if (end + 1 >= bytes.size()) {
      return false;
    }
    i = end + 2;
  }
  return true;
}

// A server that sends its bytes in the cuts' pieces, one piece a call, and then is silent: a wait for more passes
// on the virtual clock. It takes whatever is sent to it.
class PiecedConnection final : public fwu::network_port::TcpConnection {
 public:
  PiecedConnection(fwu::test::VirtualClock& clock, std::span<const std::uint8_t> server,
                   std::span<const std::uint8_t> pieces)
      : clock_(clock), server_(server), pieces_(pieces) {}

  bool Connect(const fwu::network_port::NetworkUrl& /*server*/, std::uint32_t /*limitMs*/,
               std::string& /*reason*/) override {
    return true;
  }
  void Close() override {}
  std::ptrdiff_t Receive(std::span<std::uint8_t> into, std::uint32_t waitMs) override {
    if (Drained()) {
      clock_.Advance(waitMs);
      return 0;
    }
    const std::size_t count = std::min(into.size(), PieceSize(server_.size() - at_, pieces_, piece_++));
    std::copy_n(server_.begin() + static_cast<std::ptrdiff_t>(at_), count, into.begin());
    at_ += count;
    return static_cast<std::ptrdiff_t>(count);
  }
  std::ptrdiff_t Send(std::span<const std::uint8_t> bytes, std::uint32_t /*waitMs*/) override {
    return static_cast<std::ptrdiff_t>(bytes.size());
  }
  [[nodiscard]] bool Drained() const { return at_ == server_.size(); }

 private:
  fwu::test::VirtualClock& clock_;
  std::span<const std::uint8_t> server_;
  std::span<const std::uint8_t> pieces_;
  std::size_t at_ = 0;
  std::size_t piece_ = 0;
};

// The server's bytes through the network port, read as the link reads it, with room for 1 to 16 bytes and waits
// of 0 to 15 ms taken from the cuts: the line's bytes come out once each and in order, as the session alone gave
// them; a read hands over no more than it has room for and never takes longer than its wait; one that finds
// nothing takes its whole wait (a deadline loop above it would otherwise spin), and waits through the server's
// telnet commands for the line's bytes.
void ReadThroughPort(std::span<const std::uint8_t> server, std::span<const std::uint8_t> pieces,
                     const std::vector<std::uint8_t>& expected) {
  auto clockOwned = std::make_unique<fwu::test::VirtualClock>();
  fwu::test::VirtualClock& clock = *clockOwned;
  auto connectionOwned = std::make_unique<PiecedConnection>(clock, server, pieces);
  const PiecedConnection& connection = *connectionOwned;
  fwu::network_port::NetworkPort port(std::move(connectionOwned), std::move(clockOwned));
  Require(port.Open("rfc2217://10.0.0.7:2217") == fwu::OpenResult::Ok, "the port refused a server that agreed");
  std::vector<std::uint8_t> data;
  std::array<std::uint8_t, 16> room{};
  for (std::size_t read = 0;; ++read) {
    const std::uint8_t cut = pieces.empty() ? 0 : pieces[read % pieces.size()];
    const std::size_t size = 1U + cut % room.size();
    const std::uint32_t waitMs = cut / room.size();
    const std::uint32_t before = clock.Now();
    const std::size_t count = port.Read(std::span(room).first(size), waitMs);
    const std::uint32_t took = clock.Now() - before;
    Require(count <= size, "a read handed over more than it had room for");
    Require(took <= waitMs, "a read waited longer than it was asked to");
    if (count == 0) {
      Require(took == waitMs, "a read that found nothing came back before its wait was over");
      Require(waitMs == 0 || connection.Drained(), "a read gave up while the server's bytes were there to take");
      if (connection.Drained()) {
        break;
      }
    }
    data.insert(data.end(), room.begin(), room.begin() + static_cast<std::ptrdiff_t>(count));
  }
  Require(data == expected, "the port's bytes differ from the session's data");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::size_t cuts = data[0] % 8U;
  if (size < 1 + cuts) {
    return 0;
  }
  const std::span<const std::uint8_t> pieces(data + 1, cuts);
  const std::span<const std::uint8_t> server(data + 1 + cuts, size - 1 - cuts);

  const Result whole = Feed(server, {});
  const Result cut = Feed(server, pieces.empty() ? std::span<const std::uint8_t>(data, 1) : pieces);
  Require(whole.stage == cut.stage && whole.data == cut.data && whole.out == cut.out,
          "the outcome depends on where the network cut the bytes");
  Require(whole.data.size() <= server.size(), "more data than the server sent");
  Require(OnlyTelnetCommands(whole.out), "the session sent something that is no telnet command");
  // Each answer takes 3 bytes for a 3-byte command; the settings (54 bytes) go once.
  Require(whole.out.size() <= server.size() + 54, "the session answered more than it was asked");
  if (whole.stage == Rfc2217Session::Stage::Ready) {
    ReadThroughPort(server, pieces, whole.data);
  }
  return 0;
}
