#include "app/win32_dialog_window.h"

#include <commctrl.h>

#include "ui/control_ids.h"

namespace fwu {

void Win32DialogWindow::ShowMessage(const std::string& text, const std::string& caption, BoxStyle style) {
  const UINT type = style == BoxStyle::Error ? MB_ICONERROR : MB_OK;
  MessageBoxA(dialog_, text.c_str(), caption.c_str(), type);
}

void Win32DialogWindow::SetControlText(int controlId, const std::string& text) {
  SetWindowTextA(GetDlgItem(dialog_, controlId), text.c_str());
}

void Win32DialogWindow::SetTitle(const std::string& text) {
  SetWindowTextA(dialog_, text.c_str());
}

void Win32DialogWindow::ProgressSetRange(std::uint16_t maximum) {
  constexpr WORD kMinimum = 0;
  SendToProgressBar(PBM_SETRANGE, 0, MAKELPARAM(kMinimum, maximum));
}

void Win32DialogWindow::ProgressSetStep(int increment) {
  SendToProgressBar(PBM_SETSTEP, static_cast<WPARAM>(increment), 0);
}

void Win32DialogWindow::ProgressSetPos(int position) {
  SendToProgressBar(PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32DialogWindow::ProgressStepIt() {
  SendToProgressBar(PBM_STEPIT, 0, 0);
}

// Keeps the window painting and answering while the update runs on this thread. The dialog manager is left out,
// so keyboard navigation rests until the update ends; a quit request met here is dropped, since the window is
// guarded against closing while it writes the controller.
void Win32DialogWindow::PumpMessages() {
  MSG message{};
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    if (message.message == WM_QUIT) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

LRESULT Win32DialogWindow::SendToProgressBar(UINT message, WPARAM wParam, LPARAM lParam) const {
  return SendMessageA(GetDlgItem(dialog_, kIdProgressBar), message, wParam, lParam);
}

}  // namespace fwu
