#pragma once

#include <windows.h>

#include "app/program_state.h"
#include "app/win32_dialog_window.h"
#include "update/images.h"

namespace fwu {

// Which buttons the operator may press: the port selector and "COM OPEN" on the closed side, "COM CLOSE",
// "UPDATE" and "VERSION READ" on the open side.
struct ButtonPattern {
  bool closedSide;
  bool openSide;
};
inline constexpr ButtonPattern kClosedPattern{true, false};
inline constexpr ButtonPattern kOpenPattern{false, true};
inline constexpr ButtonPattern kBusyPattern{false, false};

void SetButtonStates(HWND dialog, ButtonPattern pattern);

// The program's one window: the modeless dialog IDD_DIALOG1, whose buttons drive the port, the version read and
// the update. The window's user data points back at this object, and the dialog procedure hands each message to
// the member function that handles it.
class MainDialog {
 public:
  MainDialog(ProgramState& state, FirmwareImages images) : state_(state), images_(images) {}
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;
  ~MainDialog() = default;

  // Creates the dialog from the template in module; false when it cannot be created.
  bool Create(HINSTANCE module);
  // The dialog while it exists; null before it is created and again once it is destroyed.
  [[nodiscard]] HWND Handle() const { return dialog_; }

 private:
  static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam);

  void OnInitDialog();
  void OnCommand(int controlId);
  INT_PTR OnClose();
  void OnDestroy();

  void OnComOpen();
  void OnComClose();
  void OnUpdate();
  void OnVersionRead();

  void FillPortSelector();
  void EnableCloseItem(bool enable);

  ProgramState& state_;
  FirmwareImages images_;
  HWND dialog_ = nullptr;
  Win32DialogWindow window_;
};

}  // namespace fwu
