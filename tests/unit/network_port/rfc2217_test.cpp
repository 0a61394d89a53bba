#include "network_port/rfc2217.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/telnet_bytes.h"

namespace fwu::network_port {
namespace {

using namespace test::telnet;  // NOLINT(google-build-using-namespace): the scripted server's vocabulary
using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAreArray;

// What the client sends first, and the line's settings once COM-PORT-OPTION is taken up: DTR on, RTS on, 38400
// baud, 8 data bits, no parity, 1 stop bit, no flow control.
const Bytes kBegin{0xFF, 0xFB, 0x2C, 0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x03, 0xFF, 0xFD, 0x03};
const Bytes kSettings{0xFF, 0xFA, 0x2C, 0x05, 0x08, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x05, 0x0B, 0xFF,
                      0xF0, 0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x96, 0x00, 0xFF, 0xF0, 0xFF, 0xFA,
                      0x2C, 0x02, 0x08, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x03, 0x01, 0xFF, 0xF0, 0xFF,
                      0xFA, 0x2C, 0x04, 0x01, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x05, 0x01, 0xFF, 0xF0};

struct Outcome {
  Rfc2217Session::Stage stage = Rfc2217Session::Stage::Negotiating;
  Bytes data;
  Bytes out;  // everything after the opening options
  std::string failure;
};

// The session fed the server's bytes in one piece, or one byte at a time: the result must not depend on how
// the network cut them.
Outcome Feed(const Bytes& server, bool byteByByte) {
  Outcome run;
  Rfc2217Session session(nullptr);
  Bytes begin;
  session.Begin(begin);
  EXPECT_THAT(begin, ElementsAreArray(kBegin));
  if (byteByByte) {
    for (const std::uint8_t byte : server) {
      session.Take(Bytes{byte}, run.data, run.out);
    }
  } else {
    session.Take(server, run.data, run.out);
  }
  run.stage = session.CurrentStage();
  run.failure = session.Failure();
  return run;
}

struct SessionCase {
  const char* name;
  Bytes server;
  Rfc2217Session::Stage stage;
  Bytes out;
  Bytes data;
  std::string failure;
};

TEST(Rfc2217SessionTest, NegotiatesTheLineAndPassesOnlyTheControllersBytes) {
  using Stage = Rfc2217Session::Stage;
  const Bytes frame{0x10, 0x02, 0x06, 0x10, 0x03, 0xFF, 0x4B};  // an ACK Frame whose CRC holds a 0xFF
  const std::vector<SessionCase> cases = {
      {"options agreed, unknown ones refused once, acknowledgements out of order",
       Join({Verb(kWill, kEcho), Verb(kDo, 24), Verb(kDo, 24), Verb(kDo, kComPort), Verb(kWill, kBinary),
             Verb(kDo, kBinary), ControlAck(1), StopSizeAck(1), BaudAck(38400), ParityAck(1), DataSizeAck(8)}),
       Stage::Ready,
       Join({Verb(kDont, kEcho), Verb(kWont, 24), kSettings}),
       {},
       ""},
      {"DTR and RTS answered off: the line works without them",
       Join({AgreeingServer(), ControlAck(9), ControlAck(12)}),
       Stage::Ready,
       kSettings,
       {},
       ""},
      {"a refused baud rate",
       Join({Verb(kDo, kComPort), Verb(kDo, kBinary), Verb(kWill, kBinary), BaudAck(9600)}),
       Stage::Failed,
       kSettings,
       {},
       "the server answered SET-BAUDRATE 38400 with 9600"},
      {"a refused parity",
       Join({Verb(kDo, kComPort), ParityAck(3)}),
       Stage::Failed,
       kSettings,
       {},
       "the server answered SET-PARITY NONE with EVEN"},
      {"hardware flow control kept",
       Join({Verb(kDo, kComPort), ControlAck(3)}),
       Stage::Failed,
       kSettings,
       {},
       "the server answered SET-CONTROL no flow control with hardware flow control"},
      {"BINARY refused from the line",
       Join({Verb(kDo, kComPort), Verb(kWont, kBinary)}),
       Stage::Failed,
       kSettings,
       {},
       "the server refused BINARY from the line: the controller's bytes would not pass unchanged"},
      {"BINARY withdrawn once the line is set, in the same piece",
       Join({AgreeingServer(), Verb(kWont, kBinary)}),
       Stage::Ready,
       Join({kSettings, Verb(kDont, kBinary)}),
       {},
       ""},
      {"COM-PORT-OPTION refused",
       Verb(kDont, kComPort),
       Stage::Failed,
       {},
       {},
       "the server refused COM-PORT-OPTION, so it cannot set the line (is this an RFC 2217 port?)"},
      {"IAC in data and in suboptions, notifications in the middle of a Frame",
       Join({AgreeingServer(),
             {0x10, 0x02},
             ComPort(107, {0xFF}),
             {0x06, 0x10},
             ComPort(106, {0x60}),
             ComPort(112, {3}),
             {0x03, kIac, kIac},
             {kIac, 0xF1},
             {0x4B}}),
       Stage::Ready, kSettings, frame, ""},
      {"a suboption that never closes ends at the next command",
       Join({AgreeingServer(), ComPort(106, {0x01}), {kIac, kSb, kComPort, 106, 0x01}, Verb(kWill, 5), {0x41}}),
       Stage::Ready,
       Join({kSettings, Verb(kDont, 5)}),
       {0x41},
       ""},
      {"an overlong suboption is dropped",
       Join({AgreeingServer(), {kIac, kSb, kComPort, 100}, Bytes(100, 'a'), {kIac, kSe, 0x41}}),
       Stage::Ready,
       kSettings,
       {0x41},
       ""},
  };
  for (const SessionCase& c : cases) {
    for (const bool byteByByte : {false, true}) {
      const Outcome run = Feed(c.server, byteByByte);
      const std::string name = std::string(c.name) + (byteByByte ? ", byte by byte" : "");
      EXPECT_EQ(run.stage, c.stage) << name;
      EXPECT_THAT(run.out, ElementsAreArray(c.out)) << name;
      EXPECT_THAT(run.data, ElementsAreArray(c.data)) << name;
      EXPECT_EQ(run.failure, c.failure) << name;
    }
  }
}

TEST(Rfc2217SessionTest, DoublesEveryIacInDataAndPurgesBothBuffers) {
  Bytes out;
  Rfc2217Session::Escape(Bytes{0x01, 0xFF, 0xFF, 0x02}, out);
  EXPECT_THAT(out, ElementsAreArray(Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}));
  Rfc2217Session session(nullptr);
  Bytes purge;
  session.Purge(purge);
  EXPECT_THAT(purge, ElementsAreArray(Bytes{0xFF, 0xFA, 0x2C, 0x0C, 0x03, 0xFF, 0xF0}));
}

}  // namespace
}  // namespace fwu::network_port
