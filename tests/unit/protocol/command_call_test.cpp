#include "protocol/command_call.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dialog_adapter.h"
#include "protocol/control_chars.h"
#include "protocol/transaction.h"
#include "unit/protocol/link_fixture.h"

namespace fwu::test {
namespace {

using ::testing::ElementsAre;
using Box = RecordingWindow::Box;

const Bytes kQuery{0xF0, 0x10};

Box ErrorBox(const std::string& text) {
  return {text, text, BoxStyle::Error};
}

TEST(CommandFailureText, ReadsTheCodeThenItsMessage) {
  struct Case {
    std::int16_t code;
    const char* text;
  };
  const Case cases[] = {
      {-11, "     -11 : When sending the command, ACK reception timeout"},
      {-13, "     -13 : CRC error when sending command"},
      {-14, "     -14 : When sending a command, receive other than ACK"},
      {-15, "     -15 : Retry over at command transmission"},
      {-17, "     -17 : Buffer overrun on reception of ACK upon command transmission"},
      {-20, "     -20 : Response reception timeout in response reception"},
      {-22, "     -22 : EOT reception timeout at response reception"},
      {-24, "     -24 : Receive response other than data received"},
      {-25, "     -25 : Retry over at response reception"},
      {-26, "     -26 : Receive response Other than receive EOT"},
      {-28, "     -28 : Other errors"},
      {-29, "     -29 : Other errors"},
      {-12, "     -12 : Other errors"},
      {-1, "      -1 : Other errors"},
      {-80, "     -80 : Other errors"},
      {-32768, "  -32768 : Other errors"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CommandFailureText(c.code), c.text) << c.code;
  }
}

TEST(DeviceStatusText, ReadsTheStatusInFourUpperCaseHexDigits) {
  EXPECT_EQ(DeviceStatusText(0x0012), "0012 : Errors");
  EXPECT_EQ(DeviceStatusText(0xABCD), "ABCD : Errors");
  EXPECT_EQ(DeviceStatusText(0x00ef), "00EF : Errors");
  EXPECT_EQ(DeviceStatusText(0x0001), "0001 : Errors");
  EXPECT_EQ(DeviceStatusText(0xFFFF), "FFFF : Errors");
}

class CallCommandTest : public LinkTest {
 protected:
  // The boot loader acknowledges the command and answers with payload.
  void AnswerWith(const Bytes& payload) {
    peer.Then(WireFrame(kAck)).Then(WireFrame(kStx, payload)).Then(WireFrame(kEot));
  }
  std::int16_t Call(std::int16_t capacity = 280) { return CallCommand(link, window, kQuery, response, capacity); }

  ScriptedPeer peer{port};
  Bytes response = Bytes(278, 0xEE);  // what an earlier answer left behind
};

TEST_F(CallCommandTest, ClosedPortIsShownAndNothingGoesOnTheWire) {
  port.SetOpen(false);
  EXPECT_EQ(Call(), kPortClosed);
  EXPECT_THAT(window.Boxes(), ElementsAre(ErrorBox("Open Err10")));
  EXPECT_EQ(port.WriteCalls(), 0);
  EXPECT_TRUE(port.Purges().empty());
  EXPECT_EQ(Elapsed(), 0U);
  EXPECT_EQ(response, Bytes(278, 0xEE));
}

TEST_F(CallCommandTest, AGoodAnswerReturnsItsLengthAndShowsNothing) {
  AnswerWith({0x00, 0x00, 0x00, 'V', '1', '.', '0'});
  EXPECT_EQ(Call(), 7);
  EXPECT_TRUE(window.Boxes().empty());
  EXPECT_THAT(Bytes(response.begin(), response.begin() + 8), ElementsAre(0x00, 0x00, 0x00, 'V', '1', '.', '0', 0x00));
  EXPECT_EQ(WrittenControls(), Bytes({kStx, kEot, kAck}));
}

TEST_F(CallCommandTest, ShowsEachFailedExchangeWithItsCode) {
  struct Case {
    const char* name;
    std::vector<Bytes> replies;
    const char* text;
    std::int16_t code;
  };
  const Case cases[] = {
      {"no ACK", {}, "     -11 : When sending the command, ACK reception timeout", kAckTimeout},
      {"no response",
       {WireFrame(kAck)},
       "     -20 : Response reception timeout in response reception",
       kResponseTimeout},
      {"a response over the capacity",
       {WireFrame(kAck), WireFrame(kStx, Bytes(279, 0))},
       "     -28 : Other errors",
       kResponseOverrun},
      {"a closing Frame over 20 bytes",
       {WireFrame(kAck), WireFrame(kStx, {0, 0, 0}), WireFrame(kEot, Bytes(19, 0))},
       "     -29 : Other errors",
       kEotOverrun},
  };
  for (const auto& c : cases) {
    Line line;
    RecordingWindow shown;
    ScriptedPeer answers(line.port);
    for (const auto& reply : c.replies) {
      answers.Then(reply);
    }
    Bytes out(278);
    EXPECT_EQ(CallCommand(line.link, shown, kQuery, out, 280), c.code) << c.name;
    EXPECT_THAT(shown.Boxes(), ElementsAre(ErrorBox(c.text))) << c.name;
  }
}

TEST_F(CallCommandTest, ANonZeroDeviceStatusIsShownInHexAndTheAnswerKept) {
  struct Case {
    Bytes payload;
    const char* text;
  };
  const Case cases[] = {
      {{0x00, 0x00, 0x12}, "0012 : Errors"},
      {{0x7F, 0xAB, 0xCD, 0x01, 0x02}, "ABCD : Errors"},
      {{0x00, 0x80, 0x00}, "8000 : Errors"},
      {{0x00, 0x00, 0x01}, "0001 : Errors"},
  };
  for (const auto& c : cases) {
    Line line;
    RecordingWindow shown;
    ScriptedPeer answers(line.port);
    answers.Then(WireFrame(kAck)).Then(WireFrame(kStx, c.payload)).Then(WireFrame(kEot));
    Bytes out(278, 0xEE);
    EXPECT_EQ(CallCommand(line.link, shown, kQuery, out, 280), kDeviceError) << c.text;
    EXPECT_THAT(shown.Boxes(), ElementsAre(ErrorBox(c.text)));
    EXPECT_TRUE(std::equal(c.payload.begin(), c.payload.end(), out.begin())) << c.text;
  }
}

// An answer too short to carry the device status reads the missing status bytes as zero, never as what an earlier
// answer left in the buffer: an empty or one-byte answer counts as status 0, a two-byte one carries the high byte.
TEST_F(CallCommandTest, AnAnswerShorterThanItsHeaderNeverReadsAStaleStatus) {
  struct Case {
    Bytes payload;
    std::int16_t result;
    const char* text;  // nullptr: no box
  };
  const Case cases[] = {
      {{}, 0, nullptr},
      {{0x7F}, 1, nullptr},
      {{0x7F, 0x00}, 2, nullptr},
      {{0x7F, 0x12}, kDeviceError, "1200 : Errors"},
      {{0x7F, 0x00, 0x00}, 3, nullptr},
  };
  for (const auto& c : cases) {
    Line line;
    RecordingWindow shown;
    ScriptedPeer answers(line.port);
    answers.Then(WireFrame(kAck)).Then(WireFrame(kStx, c.payload)).Then(WireFrame(kEot));
    Bytes out(278, 0xEE);
    EXPECT_EQ(CallCommand(line.link, shown, kQuery, out, 280), c.result) << c.payload.size();
    if (c.text == nullptr) {
      EXPECT_TRUE(shown.Boxes().empty()) << c.payload.size();
    } else {
      EXPECT_THAT(shown.Boxes(), ElementsAre(ErrorBox(c.text)));
    }
    // The buffer was cleared before the exchange: nothing of the earlier answer remains behind this one.
    EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(c.payload.size()), out.end()),
              Bytes(278 - c.payload.size(), 0x00));
  }
}

TEST_F(CallCommandTest, AStatusCarriedByTheAcknowledgementDoesNotCount) {
  // The ACK's payload lands in the answer buffer too; only the answer's own bytes carry the status.
  peer.Then(WireFrame(kAck, {0x00, 0x12, 0x34})).Then(WireFrame(kStx, {0x7F})).Then(WireFrame(kEot));
  EXPECT_EQ(Call(), 1);
  EXPECT_TRUE(window.Boxes().empty());
}

}  // namespace
}  // namespace fwu::test
