#include "app/win32_dialog_window.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_fixture.h"
#include "ui/control_ids.h"

namespace fwu::test {
namespace {

using Box = BoxCatcher::Box;

class DialogWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dialog.Created());
    window.Attach(dialog.Window());
  }

  [[nodiscard]] LRESULT Bar(UINT message, WPARAM wParam = 0) const {
    return SendDlgItemMessageA(dialog.Window(), kIdProgressBar, message, wParam, 0);
  }

  TestImages images = MakeImages("TEST MODEL", "V1.23");
  DialogHarness dialog{images.Images()};
  Win32DialogWindow window;
};

TEST_F(DialogWindowTest, BoxesAreOwnedByTheDialogWithOrWithoutTheErrorIcon) {
  window.ShowMessage("Open Err1", "Open Err1", BoxStyle::Error);
  window.ShowMessage("Finished", "", BoxStyle::Plain);
  EXPECT_EQ(dialog.boxes.Boxes(), (std::vector<Box>{{"Open Err1", "Open Err1", true}, {"Finished", "", false}}));
  EXPECT_EQ(dialog.boxes.Owners(), (std::vector<HWND>{dialog.Window(), dialog.Window()}));
}

TEST_F(DialogWindowTest, TextsEndAtTheirFirstNul) {
  window.SetControlText(kIdVersionText, std::string("FIRMWARE          :12\0"
                                                    "34",
                                                    24));
  EXPECT_EQ(dialog.ControlText(kIdVersionText), "FIRMWARE          :12");
  window.SetControlText(kIdPercentText, " 50 %");
  EXPECT_EQ(dialog.ControlText(kIdPercentText), " 50 %");
  window.SetTitle("UPDATE  A  B");
  EXPECT_EQ(dialog.Title(), "UPDATE  A  B");
}

TEST_F(DialogWindowTest, ProgressBarTakesRangeStepAndPosition) {
  for (const std::uint16_t maximum : {std::uint16_t{2048}, std::uint16_t{2304}, std::uint16_t{65535}}) {
    SCOPED_TRACE(maximum);
    window.ProgressSetRange(maximum);
    window.ProgressSetStep(1);
    window.ProgressSetPos(0);
    EXPECT_EQ(Bar(PBM_GETRANGE, TRUE), 0) << "minimum";
    EXPECT_EQ(Bar(PBM_GETRANGE, FALSE), maximum) << "maximum, from the high word";
    EXPECT_EQ(Bar(PBM_GETPOS), 0);
    window.ProgressStepIt();
    window.ProgressStepIt();
    EXPECT_EQ(Bar(PBM_GETPOS), 2);
    window.ProgressSetPos(maximum);
    EXPECT_EQ(Bar(PBM_GETPOS), maximum);
  }
  window.ProgressSetStep(5);
  window.ProgressSetPos(10);
  window.ProgressStepIt();
  EXPECT_EQ(Bar(PBM_GETPOS), 15);
}

// Counts what reaches a window of its own class.
LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    ++*reinterpret_cast<int*>(GetWindowLongPtrA(window, GWLP_USERDATA));  // NOLINT(performance-no-int-to-ptr)
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(DialogWindowTest, PumpDispatchesWaitingMessagesAndDropsTheQuitMessage) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &CountingProcedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "FwuPumpCounter";
  RegisterClassA(&windowClass);
  const HWND counter =
      CreateWindowA("FwuPumpCounter", "", 0, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(counter, nullptr);
  int received = 0;
  SetWindowLongPtrA(counter, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));

  PostMessageA(counter, WM_APP, 0, 0);
  PostQuitMessage(3);
  PostMessageA(counter, WM_APP, 0, 0);
  window.PumpMessages();
  EXPECT_EQ(received, 2) << "the messages after the quit message are handled too";
  MSG left{};
  EXPECT_EQ(PeekMessageA(&left, nullptr, 0, 0, PM_NOREMOVE), FALSE) << "the queue is empty, the quit message lost";

  window.PumpMessages();  // an empty queue returns at once
  EXPECT_EQ(received, 2);
  DestroyWindow(counter);
}

}  // namespace
}  // namespace fwu::test
