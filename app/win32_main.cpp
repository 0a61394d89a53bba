#include <windows.h>

#include "app/program_state.h"
#include "app/win32_main_dialog.h"
#include "serial/win32_clock.h"
#include "serial/win32_port.h"
#include "update/images.h"

namespace {

// The thread's one message loop. The dialog manager sees the dialog's messages first, for keyboard navigation
// between the controls; once the dialog is gone, messages go straight to their windows until the quit message.
void RunMessageLoop(const fwu::MainDialog& dialog) {
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    const HWND window = dialog.Handle();
    if (window != nullptr && IsDialogMessageA(window, &message) != FALSE) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  // The port's 1 ms time-outs and the millisecond tick need the system timer at its finest resolution.
  const fwu::TimerResolution timerResolution;
  fwu::Win32SerialPort port;
  fwu::Win32Clock clock;
  fwu::ProgramState state{.link = {port, clock}, .progress = {}, .busy = false};

  fwu::MainDialog dialog(state, fwu::CarriedImages());
  if (!dialog.Create(instance)) {
    return 0;
  }
  ShowWindow(dialog.Handle(), SW_SHOW);
  RunMessageLoop(dialog);
  return 0;
}
