#include "app/win32_dialog_window.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <uxtheme.h>
#include <vssym32.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/control_ids.h"

namespace fwu {

namespace {

// The window answers within this long while an update runs: well inside one frame of the screen.
constexpr DWORD kPumpIntervalMs = 5;

// A window's text as the control shows it now.
std::string WindowText(HWND window) {
  std::vector<char> text(static_cast<std::size_t>(std::max(GetWindowTextLengthA(window), 0)) + 1U, '\0');
  const int length = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  return {text.data(), static_cast<std::size_t>(std::max(length, 0))};
}

}  // namespace

void Win32DialogWindow::Attach(HWND dialog) {
  dialog_ = dialog;
  controls_.clear();
  progressBar_ = dialog_ != nullptr ? Control(kIdProgressBar) : nullptr;
  bar_ = Bar{};
  if (progressBar_ != nullptr) {
    bar_.minimum = static_cast<int>(SendToProgressBar(PBM_GETRANGE, TRUE, 0));
    bar_.maximum = static_cast<int>(SendToProgressBar(PBM_GETRANGE, FALSE, 0));
    bar_.position = static_cast<int>(SendToProgressBar(PBM_GETPOS, 0, 0));
    MeasureBar();
  }
}

void Win32DialogWindow::ShowMessage(const std::string& text, const std::string& caption, BoxStyle style) {
  const UINT type = style == BoxStyle::Error ? MB_ICONERROR : MB_OK;
  MessageBoxA(dialog_, text.c_str(), caption.c_str(), type);
}

// The percentage label is given its text on every step; a static control repaints even when the text stays the
// same, so an unchanged text is not set again.
void Win32DialogWindow::SetControlText(int controlId, const std::string& text) {
  const HWND control = Control(controlId);
  const char* wanted = text.c_str();  // ends at the first NUL, as the control would keep it
  if (WindowText(control) != wanted) {
    SetWindowTextA(control, wanted);
  }
}

void Win32DialogWindow::SetTitle(const std::string& text) {
  SetWindowTextA(dialog_, text.c_str());
}

void Win32DialogWindow::ProgressSetRange(std::uint16_t maximum) {
  constexpr WORD kMinimum = 0;
  SendToProgressBar(PBM_SETRANGE, 0, MAKELPARAM(kMinimum, maximum));
  bar_.minimum = kMinimum;
  bar_.maximum = maximum;
  // The control keeps its position inside the new range.
  bar_.position = std::max(bar_.minimum, std::min(bar_.position, bar_.maximum));
  MeasureBar();
  ShowBar();
}

void Win32DialogWindow::ProgressSetStep(int increment) {
  SendToProgressBar(PBM_SETSTEP, static_cast<WPARAM>(increment), 0);
  bar_.step = increment;
}

void Win32DialogWindow::ProgressSetPos(int position) {
  bar_.position = std::max(bar_.minimum, std::min(position, bar_.maximum));
  ShowBar();
}

void Win32DialogWindow::ProgressStepIt() {
  const std::int64_t next = std::int64_t{bar_.position} + bar_.step;
  if (bar_.minimum < bar_.maximum && next >= bar_.minimum && next <= bar_.maximum) {
    bar_.position = static_cast<int>(next);
    ShowBar();
    return;
  }
  // Past an end the control starts over by rules of its own: it steps from the kept position itself.
  SendToProgressBar(PBM_SETPOS, static_cast<WPARAM>(bar_.position), 0);
  SendToProgressBar(PBM_STEPIT, 0, 0);
  bar_.position = static_cast<int>(SendToProgressBar(PBM_GETPOS, 0, 0));
}

// Keeps the window painting and answering while the update runs on this thread. The dialog manager is left out,
// so keyboard navigation rests until the update ends; a quit request met here is dropped, since the window is
// guarded against closing while it writes the controller.
//
// The update asks after every block, and where the images hold long erased stretches it asks hundreds of times
// in a row without a pause. Each look at the queue is a call into the window system (under Wine a round trip to
// its server), so the queue is looked at only when a few milliseconds have passed since the last look, and always
// once the bar has reached its end: the window still answers at once to the eye, and a quit message that comes
// during the update is still dropped.
void Win32DialogWindow::PumpMessages() {
  const DWORD now = timeGetTime();
  const bool due = !pumped_ || now - lastPumpMs_ >= kPumpIntervalMs || bar_.position == bar_.maximum;
  if (!due) {
    return;
  }
  pumped_ = true;
  lastPumpMs_ = now;
  MSG message{};
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    if (message.message == WM_QUIT) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

HWND Win32DialogWindow::Control(int controlId) {
  const auto known = controls_.find(controlId);
  if (known != controls_.end()) {
    return known->second;
  }
  const HWND control = GetDlgItem(dialog_, controlId);
  if (control != nullptr) {
    controls_.emplace(controlId, control);
  }
  return control;
}

LRESULT Win32DialogWindow::SendToProgressBar(UINT message, WPARAM wParam, LPARAM lParam) const {
  return SendMessageA(progressBar_, message, wParam, lParam);
}

void Win32DialogWindow::ShowBar() {
  const int shown = static_cast<int>(SendToProgressBar(PBM_GETPOS, 0, 0));
  if (shown == bar_.position) {
    return;
  }
  const bool atAnEnd = bar_.position == bar_.minimum || bar_.position == bar_.maximum;
  if (atAnEnd || bar_.minimum >= bar_.maximum || FilledPixels(shown) != FilledPixels(bar_.position)) {
    SendToProgressBar(PBM_SETPOS, static_cast<WPARAM>(bar_.position), 0);
  }
}

// The control fills (position - minimum) / (maximum - minimum) of its bar area, rounded to the nearest pixel by
// MulDiv. With visual styles the bar area is the content of the theme's bar part; without them the client area
// inside a one-pixel frame. The dialog has a fixed size, so the area is measured when an update sets the range.
void Win32DialogWindow::MeasureBar() {
  RECT client{};
  GetClientRect(progressBar_, &client);
  RECT area = client;
  if (const HTHEME theme = GetWindowTheme(progressBar_); theme != nullptr) {
    GetThemeBackgroundContentRect(theme, nullptr, PP_BAR, 0, &client, &area);
  } else {
    InflateRect(&area, -1, -1);
  }
  barPixels_ = area.right - area.left;
}

int Win32DialogWindow::FilledPixels(int position) const {
  return MulDiv(position - bar_.minimum, barPixels_, bar_.maximum - bar_.minimum);
}

}  // namespace fwu
