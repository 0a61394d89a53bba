// The RFC 2217 session against whatever a server sends, cut anywhere: the outcome must not depend on how the
// network cut the bytes, the line's data never grows beyond what came, the session answers only with telnet
// commands (never with data of its own) and at most once per command it was sent, and a negotiation once ended
// stays ended.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_line.h"
#include "network_port/rfc2217.h"

namespace {

using fwu::net::Rfc2217Session;
using fwu::test::Require;

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
    const std::size_t size = pieces.empty() ? server.size() : 1U + pieces[piece % pieces.size()] % 16U;
    const auto chunk = server.subspan(at, std::min(size, server.size() - at));
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
  return 0;
}
