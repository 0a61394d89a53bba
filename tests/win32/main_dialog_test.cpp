#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/dialog_adapter.h"
#include "dialog_fixture.h"
#include "serial/win32_enumerate.h"

namespace fwu::test {
namespace {

using Box = BoxCatcher::Box;

const std::vector<std::string> kFixedNames = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                              "COM6", "COM7", "COM8", "COM9", "COM10"};

// The entries the device-setup services give on this machine, in their order.
std::vector<std::string> EnumeratedEntries() {
  const HWND selector = CreateWindowA("ComboBox", "", CBS_DROPDOWNLIST, 0, 0, 100, 100, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
  const int count = EnumeratePorts(selector);
  std::vector<std::string> entries;
  for (int i = 0; i < count; ++i) {
    char text[512] = {};
    SendMessageA(selector, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    entries.emplace_back(text);
  }
  EXPECT_EQ(SendMessageA(selector, CB_GETCOUNT, 0, 0), count) << "one entry per device visited";
  DestroyWindow(selector);
  return entries;
}

class MainDialogTest : public ::testing::Test {
 protected:
  TestImages images = MakeImages("TEST MODEL", "V1.23");
  DialogHarness dialog{images.Images()};

  void SetUp() override { ASSERT_TRUE(dialog.Created()); }

  void OpenPort() {
    dialog.port.SetOpenResult(OpenResult::Ok);
    dialog.Press(kIdComOpen);
    ASSERT_TRUE(dialog.port.IsOpen());
  }
};

TEST_F(MainDialogTest, StartsWithTheCarriedTitleAndTheClosedPattern) {
  EXPECT_EQ(dialog.Title(), "UPDATE  TEST MODEL  V1.23");
  EXPECT_EQ(dialog.Buttons(), kClosed) << Describe(dialog.Buttons());
  EXPECT_FALSE(dialog.CloseItemGreyed());
  EXPECT_EQ(dialog.ControlText(kIdVersionText), "FIRMWARE          :\r\nNEW FIRMWARE  :");
  EXPECT_EQ(dialog.ControlText(kIdPercentText), "0%");
  EXPECT_EQ(dialog.ControlText(kIdSpareText), "");
  EXPECT_TRUE(dialog.boxes.Boxes().empty());
  EXPECT_TRUE(dialog.port.OpenedNames().empty());
  EXPECT_TRUE(dialog.port.Writes().empty()) << "nothing is sent before the operator asks";
}

TEST(MainDialogTitleTest, TitleComesFromTheImage) {
  struct Case {
    const char* model;
    const char* version;
    const char* title;
  };
  const std::vector<Case> cases = {
      {"TEST MODEL", "V1.23", "UPDATE  TEST MODEL  V1.23"},
      {"", "V1.23", "UPDATE    V1.23"},  // erased model name
      {"TEST MODEL", "", "UPDATE  TEST MODEL  "},
  };
  for (const Case& c : cases) {
    const TestImages images = MakeImages(c.model, c.version);
    const DialogHarness dialog(images.Images());
    ASSERT_TRUE(dialog.Created());
    EXPECT_EQ(dialog.Title(), c.title);
  }
  const DialogHarness carried(CarriedImages());
  ASSERT_TRUE(carried.Created());
  EXPECT_EQ(carried.Title(), "UPDATE  " + CarriedModelName().value_or("") + "  " + CarriedVersion().value_or(""));
}

TEST_F(MainDialogTest, SelectorListsThePresentPortsThenTheFixedNames) {
  const std::vector<std::string> present = EnumeratedEntries();
  std::vector<std::string> expected = present;
  expected.insert(expected.end(), kFixedNames.begin(), kFixedNames.end());
  EXPECT_EQ(dialog.SelectorEntries(), expected);
  EXPECT_EQ(dialog.SelectorSelection(), 0);
  EXPECT_EQ(dialog.ControlText(kIdPortSelector), expected.front());
  for (const std::string& entry : present) {
    EXPECT_LE(entry.size(), 255U);
    EXPECT_NE(entry.find('('), std::string::npos) << entry;
    EXPECT_EQ(entry.back(), ')') << entry;
  }
}

TEST_F(MainDialogTest, OpenSwitchesToTheOpenPatternAndReadsTheVersions) {
  dialog.SetSelectorText("COM1");
  OpenPort();
  EXPECT_EQ(dialog.port.OpenedNames(), std::vector<std::string>{"COM1"});
  EXPECT_EQ(dialog.Buttons(), kOpen) << Describe(dialog.Buttons());
  // The version read starts at once: the boot loader's identification goes out. No controller answers here,
  // which the operator learns from one box; the port stays open all the same.
  EXPECT_FALSE(dialog.port.Writes().empty());
  ASSERT_EQ(dialog.boxes.Boxes().size(), 1U);
  EXPECT_EQ(dialog.boxes.Boxes()[0], (Box{"ACK receive timeout", "ACK receive timeout", true}));
  EXPECT_TRUE(dialog.port.IsOpen());
  EXPECT_EQ(dialog.Buttons(), kOpen);
}

TEST_F(MainDialogTest, OpenTakesNineCharactersOfTheSelectorUpToTheDescription) {
  struct Case {
    const char* selectorText;
    const char* portName;
  };
  const std::vector<Case> cases = {
      {"COM3(Communications Port)", "COM3"},
      {"COM10", "COM10"},
      {"COM123456789", "COM123456"},
      {"COM12345(x)", "COM12345"},
  };
  for (const Case& c : cases) {
    dialog.port.SetOpenResult(OpenResult::Ok);
    dialog.SetSelectorText(c.selectorText);
    dialog.Press(kIdComOpen);
    ASSERT_FALSE(dialog.port.OpenedNames().empty()) << c.selectorText;
    EXPECT_EQ(dialog.port.OpenedNames().back(), c.portName) << c.selectorText;
    dialog.Press(kIdComClose);
  }
}

TEST_F(MainDialogTest, FailedOpenLeavesTheClosedPattern) {
  dialog.port.SetOpenResult(OpenResult::OpenFailed);
  dialog.Press(kIdComOpen);
  EXPECT_EQ(dialog.boxes.Boxes(), (std::vector<Box>{{"Open Err1", "Open Err1", true}}));
  EXPECT_EQ(dialog.Buttons(), kClosed) << Describe(dialog.Buttons());
  EXPECT_FALSE(dialog.port.IsOpen());
  EXPECT_TRUE(dialog.port.Writes().empty()) << "no version read without a port";
}

TEST_F(MainDialogTest, CloseReturnsToTheClosedPattern) {
  OpenPort();
  dialog.Press(kIdComClose);
  EXPECT_FALSE(dialog.port.IsOpen());
  EXPECT_EQ(dialog.Buttons(), kClosed) << Describe(dialog.Buttons());
}

TEST_F(MainDialogTest, VersionReadNeitherSwitchesButtonsNorSetsBusy) {
  OpenPort();
  const std::size_t boxesBefore = dialog.boxes.Boxes().size();
  Pattern whileUp{};
  bool greyedWhileUp = true;
  dialog.boxes.WhileUp([&](const Box&) {
    whileUp = dialog.Buttons();
    greyedWhileUp = dialog.CloseItemGreyed();
  });
  dialog.Press(kIdVersionRead);
  ASSERT_EQ(dialog.boxes.Boxes().size(), boxesBefore + 1);
  EXPECT_EQ(whileUp, kOpen) << Describe(whileUp);
  EXPECT_FALSE(greyedWhileUp);
  EXPECT_FALSE(dialog.state.busy);
}

TEST_F(MainDialogTest, VersionReadWithThePortClosedShowsOpenErr10) {
  dialog.Press(kIdVersionRead);
  EXPECT_EQ(dialog.boxes.Texts(), std::vector<std::string>{"Open Err10"});
  EXPECT_EQ(dialog.Title(), "UPDATE  TEST MODEL  V1.23");
  EXPECT_EQ(dialog.ControlText(kIdVersionText), "FIRMWARE          :\r\nNEW FIRMWARE  :");
  EXPECT_EQ(dialog.Buttons(), kClosed);
}

// What the operator can do while the update runs, observed from inside it.
struct DuringUpdate {
  bool seen = false;
  Pattern buttons{};
  bool closeItemGreyed = false;
  bool busy = false;
  bool closedByRequest = false;
  bool portOpenAfterNestedClose = false;
};

TEST_F(MainDialogTest, UpdateWithThePortOpenGuardsTheWindowAndEndsInTheOpenPattern) {
  OpenPort();
  DuringUpdate during;
  dialog.port.OnWrite([&](ScriptedPort& port, std::span<const std::uint8_t>) {
    if (during.seen) {
      return;
    }
    during.seen = true;
    during.buttons = dialog.Buttons();
    during.closeItemGreyed = dialog.CloseItemGreyed();
    during.busy = dialog.state.busy;
    during.closedByRequest = dialog.RequestClose();
    // A command that reaches the dialog in spite of the disabled buttons changes nothing.
    dialog.Press(kIdComClose);
    during.portOpenAfterNestedClose = port.IsOpen();
  });
  dialog.Press(kIdUpdate);

  ASSERT_TRUE(during.seen) << "the update talks to the controller";
  EXPECT_EQ(during.buttons, kBusy) << Describe(during.buttons);
  EXPECT_TRUE(during.closeItemGreyed);
  EXPECT_TRUE(during.busy);
  EXPECT_FALSE(during.closedByRequest) << "closing is refused while the controller is written";
  EXPECT_TRUE(during.portOpenAfterNestedClose);

  ASSERT_TRUE(dialog.Alive());
  EXPECT_FALSE(dialog.state.busy);
  EXPECT_EQ(dialog.Buttons(), kOpen) << "a failed update leaves the port open: " << Describe(dialog.Buttons());
  EXPECT_FALSE(dialog.CloseItemGreyed());
  EXPECT_FALSE(dialog.TakeQuit().has_value());

  EXPECT_TRUE(dialog.RequestClose()) << "closing works again once the update has returned";
  EXPECT_EQ(dialog.TakeQuit(), std::optional<WPARAM>(0));
}

TEST_F(MainDialogTest, UpdateWithoutAPortEndsInTheClosedPattern) {
  DuringUpdate during;
  dialog.boxes.WhileUp([&](const Box&) {
    during.seen = true;
    during.buttons = dialog.Buttons();
    during.closeItemGreyed = dialog.CloseItemGreyed();
    during.closedByRequest = dialog.RequestClose();
  });
  dialog.Press(kIdUpdate);
  EXPECT_EQ(dialog.boxes.Texts(), std::vector<std::string>{"Open Err10"});
  ASSERT_TRUE(during.seen);
  EXPECT_EQ(during.buttons, kBusy) << Describe(during.buttons);
  EXPECT_TRUE(during.closeItemGreyed);
  EXPECT_FALSE(during.closedByRequest);
  ASSERT_TRUE(dialog.Alive());
  EXPECT_EQ(dialog.Buttons(), kClosed) << Describe(dialog.Buttons());
  EXPECT_FALSE(dialog.CloseItemGreyed());
  EXPECT_TRUE(dialog.port.Writes().empty());
}

TEST_F(MainDialogTest, CloseEndsTheProgramWithExitCodeZero) {
  OpenPort();
  EXPECT_TRUE(dialog.RequestClose());
  EXPECT_EQ(dialog.TakeQuit(), std::optional<WPARAM>(0));
  EXPECT_EQ(dialog.port.CloseCalls(), 0) << "the port is left to the end of the process";
}

TEST_F(MainDialogTest, EscAndEnterDoNothing) {
  // The keys as the dialog manager turns them into commands, and those commands sent directly.
  for (const WPARAM key : {VK_ESCAPE, VK_RETURN}) {
    MSG keyDown{GetDlgItem(dialog.Window(), kIdPortSelector), WM_KEYDOWN, key, 0, 0, {}};
    IsDialogMessageA(dialog.Window(), &keyDown);
  }
  dialog.Press(IDCANCEL);
  dialog.Press(IDOK);
  EXPECT_TRUE(dialog.Alive());
  EXPECT_EQ(dialog.Buttons(), kClosed);
  EXPECT_TRUE(dialog.boxes.Boxes().empty());
  EXPECT_TRUE(dialog.port.OpenedNames().empty());
  EXPECT_FALSE(dialog.TakeQuit().has_value());
}

}  // namespace
}  // namespace fwu::test
