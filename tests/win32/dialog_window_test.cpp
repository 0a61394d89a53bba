#include "app/win32_dialog_window.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <uxtheme.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "dialog_fixture.h"

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

// What the operator sees of a bar: its pixels as the control paints them, taken into a bitmap of its size.
class Camera {
 public:
  explicit Camera(HWND control) : control_(control) {
    RECT client{};
    GetClientRect(control, &client);
    pixels_ = static_cast<std::size_t>(client.right) * static_cast<std::size_t>(client.bottom);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    bitmap_ = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    previous_ = SelectObject(memory_, bitmap_);
  }
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;
  ~Camera() {
    SelectObject(memory_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(memory_);
  }

  [[nodiscard]] std::vector<std::uint32_t> Take() const {
    SendMessageA(control_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory_), PRF_CLIENT);
    GdiFlush();
    const auto* first = static_cast<const std::uint32_t*>(bits_);
    return first == nullptr ? std::vector<std::uint32_t>() : std::vector<std::uint32_t>(first, first + pixels_);
  }

 private:
  HWND control_;
  HDC memory_ = CreateCompatibleDC(nullptr);
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  void* bits_ = nullptr;
  std::size_t pixels_ = 0;
};

// A hidden bar of the same class, style and size in the same place, given every call as the plain message: what
// the dialog's bar must look like.
class ReferenceBar {
 public:
  explicit ReferenceBar(HWND dialog) {
    const HWND bar = GetDlgItem(dialog, kIdProgressBar);
    RECT place{};
    GetWindowRect(bar, &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    const auto style = static_cast<DWORD>(GetWindowLongA(bar, GWL_STYLE)) & ~DWORD{WS_VISIBLE};
    window_ = CreateWindowExA(static_cast<DWORD>(GetWindowLongA(bar, GWL_EXSTYLE)), PROGRESS_CLASSA, "", style,
                              place.left, place.top, place.right - place.left, place.bottom - place.top, dialog,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
  }
  ReferenceBar(const ReferenceBar&) = delete;
  ReferenceBar& operator=(const ReferenceBar&) = delete;
  ~ReferenceBar() { DestroyWindow(window_); }

  [[nodiscard]] HWND Window() const { return window_; }
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam = 0) const {
    return SendMessageA(window_, message, wParam, lParam);
  }

 private:
  HWND window_ = nullptr;
};

// The window moves the control only when its fill would change: after every call the bar must look exactly like a
// bar moved on every call, with visual styles and without, and hold exactly the ends of its range, while the
// control moves no more than once per pixel of fill.
TEST_F(DialogWindowTest, BarLooksAsIfMovedOnEveryCallButMovesOncePerPixel) {
  const ReferenceBar reference(dialog.Window());
  ASSERT_NE(reference.Window(), nullptr);
  const HWND bar = GetDlgItem(dialog.Window(), kIdProgressBar);
  RECT client{};
  GetClientRect(bar, &client);
  struct Case {
    const char* what;
    bool styled;  // the visual styles the manifest asks for, or the classic bar
    std::uint16_t maximum;
    int step;
    int steps;
    bool endsFull;  // the last step reaches the maximum
  };
  const Case cases[] = {
      {"program kind 0x10: both images", true, 2304, 1, 2304, true},
      {"fewer positions than pixels, stepping past the end", true, 7, 3, 5, false},
      {"the widest range, in odd steps", true, 65535, 163, 400, false},
      {"program kind 0x20 without visual styles", false, 2048, 1, 2048, true},
  };
  const Camera seen(bar);
  const Camera expected(reference.Window());
  const auto same = [&seen, &expected](const std::string& when) {
    const std::vector<std::uint32_t> shown = seen.Take();
    if (!shown.empty() && shown == expected.Take()) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the bar looks different " << when;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const HWND each : {bar, reference.Window()}) {
      // A blank class list finds no visual style: the bar turns classic.
      SetWindowTheme(each, c.styled ? nullptr : L" ", c.styled ? nullptr : L" ");
    }
    ASSERT_EQ(GetWindowTheme(bar) != nullptr, c.styled);
    window.ProgressSetRange(c.maximum);
    reference.Send(PBM_SETRANGE, 0, MAKELPARAM(0, c.maximum));
    window.ProgressSetStep(c.step);
    reference.Send(PBM_SETSTEP, static_cast<WPARAM>(c.step));
    window.ProgressSetPos(0);
    reference.Send(PBM_SETPOS, 0);
    EXPECT_EQ(Bar(PBM_GETRANGE, TRUE), 0) << "minimum";
    EXPECT_EQ(Bar(PBM_GETRANGE, FALSE), c.maximum) << "maximum, from the high word";
    EXPECT_EQ(Bar(PBM_GETPOS), 0);
    ASSERT_TRUE(same("at the start"));
    int moves = 0;
    for (int step = 1; step <= c.steps; ++step) {
      const LRESULT before = Bar(PBM_GETPOS);
      window.ProgressStepIt();
      reference.Send(PBM_STEPIT, 0);
      moves += Bar(PBM_GETPOS) != before ? 1 : 0;
      ASSERT_TRUE(same("after step " + std::to_string(step)));
    }
    EXPECT_LE(moves, client.right + 1) << "once per pixel of fill at most, and once more for the end";
    EXPECT_TRUE(!c.endsFull || Bar(PBM_GETPOS) == c.maximum) << "a bar that has reached its end holds it exactly";
    window.ProgressSetPos(c.maximum / 3);
    reference.Send(PBM_SETPOS, c.maximum / 3U);
    ASSERT_TRUE(same("set to a third"));
    window.ProgressSetPos(c.maximum);
    reference.Send(PBM_SETPOS, c.maximum);
    ASSERT_TRUE(same("set to the end"));
    EXPECT_EQ(Bar(PBM_GETPOS), c.maximum);
  }
}

// A window of its own class that counts the WM_APP messages reaching it.
class CountingWindow {
 public:
  CountingWindow() {
    static const ATOM kClass = [] {
      WNDCLASSA windowClass{};
      windowClass.lpfnWndProc = &Procedure;
      windowClass.hInstance = GetModuleHandleA(nullptr);
      windowClass.lpszClassName = "FwuPumpCounter";
      return RegisterClassA(&windowClass);
    }();
    static_cast<void>(kClass);
    window_ =
        CreateWindowA("FwuPumpCounter", "", 0, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received_));
  }
  CountingWindow(const CountingWindow&) = delete;
  CountingWindow& operator=(const CountingWindow&) = delete;
  ~CountingWindow() { DestroyWindow(window_); }

  [[nodiscard]] bool Created() const { return window_ != nullptr; }
  void Post() const { PostMessageA(window_, WM_APP, 0, 0); }
  [[nodiscard]] int Received() const { return received_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
      ++*reinterpret_cast<int*>(GetWindowLongPtrA(window, GWLP_USERDATA));  // NOLINT(performance-no-int-to-ptr)
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  HWND window_ = nullptr;
  int received_ = 0;
};

TEST_F(DialogWindowTest, PumpDispatchesWaitingMessagesAndDropsTheQuitMessage) {
  const CountingWindow counter;
  ASSERT_TRUE(counter.Created());

  counter.Post();
  PostQuitMessage(3);
  counter.Post();
  window.PumpMessages();
  EXPECT_EQ(counter.Received(), 2) << "the messages after the quit message are handled too";
  MSG left{};
  EXPECT_EQ(PeekMessageA(&left, nullptr, 0, 0, PM_NOREMOVE), FALSE) << "the queue is empty, the quit message lost";

  window.PumpMessages();  // an empty queue returns at once
  EXPECT_EQ(counter.Received(), 2);
}

// The update asks after every block; the queue is looked at when a few milliseconds have passed since the last
// look, and always once the bar stands at its end, whatever the time.
TEST_F(DialogWindowTest, PumpLooksAtTheQueueAfterAFewMillisecondsAndAtTheBarsEnd) {
  const CountingWindow counter;
  ASSERT_TRUE(counter.Created());
  struct Case {
    const char* what;
    int position;  // of 10
    DWORD pauseMs;
  };
  const Case cases[] = {
      {"mid-update, once the interval has passed", 5, 20},  // past a coarse system timer period too
      {"at the end, right after a look", 10, 0},
  };
  window.ProgressSetRange(10);
  for (const Case& c : cases) {
    window.ProgressSetPos(c.position);
    window.PumpMessages();
    const int before = counter.Received();
    counter.Post();
    Sleep(c.pauseMs);
    window.PumpMessages();
    EXPECT_EQ(counter.Received(), before + 1) << c.what;
  }
}

}  // namespace
}  // namespace fwu::test
