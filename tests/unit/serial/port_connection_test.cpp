#include "serial/port_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dialog_adapter.h"
#include "support/recording_window.h"
#include "support/scripted_port.h"
#include "support/virtual_clock.h"

namespace fwu {
namespace {

using test::RecordingWindow;
using test::ScriptedPort;
using test::VirtualClock;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The scripted port, with its opens and closes kept in one ordered list.
class OrderedPort : public ScriptedPort {
 public:
  explicit OrderedPort(VirtualClock& clock, bool open) : ScriptedPort(clock, open) {}
  OpenResult Open(const std::string& portName) override {
    events.push_back("open:" + portName);
    return ScriptedPort::Open(portName);
  }
  void Close() override {
    events.push_back("close");
    ScriptedPort::Close();
  }
  std::vector<std::string> events;
};

struct NameCase {
  std::string selectorText;
  std::string portName;
};

TEST(SelectorPortName, CutsAtTheFirstParenthesisAndNowhereElse) {
  const std::vector<NameCase> cases = {
      {"COM3(USB Serial Port)", "COM3"},
      {"COM10", "COM10"},
      {"COM7(a(b))", "COM7"},
      {"COM4 (Bluetooth)", "COM4 "},  // not trimmed
      {" COM5", " COM5"},
      {"(USB Serial Port)", ""},
      {"", ""},
      {"COM123456", "COM123456"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SelectorPortName(c.selectorText), c.portName) << '"' << c.selectorText << '"';
  }
}

TEST(Win32DevicePath, AlwaysPrefixesBackslashBackslashDotBackslash) {
  EXPECT_EQ(Win32DevicePath("COM10"), "\\\\.\\COM10");
  const std::string backslashBackslashDotBackslash{'\\', '\\', '.', '\\'};
  EXPECT_EQ(Win32DevicePath("COM3"), backslashBackslashDotBackslash + "COM3");
  EXPECT_EQ(Win32DevicePath(""), "\\\\.\\");
}

class OpenPortTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  OrderedPort port{clock, false};
  RecordingWindow window;
};

TEST_F(OpenPortTest, OpensTheBareNameOfASelectorEntry) {
  EXPECT_TRUE(OpenPort(port, window, "COM3(USB Serial Port)"));

  EXPECT_THAT(port.events, ElementsAre("open:COM3"));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_THAT(window.Log(), IsEmpty());
}

TEST_F(OpenPortTest, OpensAPlainNameAsItStands) {
  EXPECT_TRUE(OpenPort(port, window, "COM10"));

  EXPECT_THAT(port.events, ElementsAre("open:COM10"));
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(OpenPortTest, EachFailingStepShowsItsOwnBoxAndLeavesThePortClosed) {
  struct FailureCase {
    OpenResult result;
    std::string text;
  };
  const std::vector<FailureCase> cases = {
      {OpenResult::OpenFailed, "Open Err1"},
      {OpenResult::ReadSettingsFailed, "Open Err2"},
      {OpenResult::WriteSettingsFailed, "Open Err3"},
      {OpenResult::QueueSizeFailed, "Open Err5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    VirtualClock freshClock;
    ScriptedPort failingPort(freshClock, false);
    RecordingWindow owner;
    failingPort.SetOpenResult(c.result);

    EXPECT_FALSE(OpenPort(failingPort, owner, "COM3"));

    EXPECT_FALSE(failingPort.IsOpen());
    EXPECT_THAT(owner.Boxes(), ElementsAre(RecordingWindow::Box{c.text, c.text, BoxStyle::Error}));
    EXPECT_THAT(owner.Log(), ElementsAre("box:" + c.text + "|" + c.text + "|error"));
  }
}

TEST_F(OpenPortTest, SelectorTextWithoutAPortNameIsRefusedAsAFailedOpen) {
  for (const std::string text : {"", "(USB Serial Port)"}) {
    SCOPED_TRACE(text);
    RecordingWindow owner;

    EXPECT_FALSE(OpenPort(port, owner, text));

    EXPECT_FALSE(port.IsOpen());
    EXPECT_THAT(owner.Boxes(), ElementsAre(RecordingWindow::Box{"Open Err1", "Open Err1", BoxStyle::Error}));
  }
  // The bare "\\.\" prefix names no port: the driver is not even asked.
  EXPECT_THAT(port.OpenedNames(), IsEmpty());
}

TEST_F(OpenPortTest, AnOpenPortIsClosedBeforeTheNewOpen) {
  port.SetOpen(true);

  EXPECT_TRUE(OpenPort(port, window, "COM5(USB Serial Port)"));

  EXPECT_THAT(port.events, ElementsAre("close", "open:COM5"));
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(OpenPortTest, AFailedReopenLeavesNoPortOpen) {
  port.SetOpen(true);
  port.SetOpenResult(OpenResult::WriteSettingsFailed);

  EXPECT_FALSE(OpenPort(port, window, "COM5"));

  EXPECT_THAT(port.events, ElementsAre("close", "open:COM5"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_THAT(window.Boxes(), ElementsAre(RecordingWindow::Box{"Open Err3", "Open Err3", BoxStyle::Error}));
}

TEST_F(OpenPortTest, ClosePortClosesOnlyAnOpenPort) {
  ClosePort(port);
  EXPECT_THAT(port.events, IsEmpty());

  port.SetOpen(true);
  ClosePort(port);
  EXPECT_THAT(port.events, ElementsAre("close"));
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
}  // namespace fwu
