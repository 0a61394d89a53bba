#include "app/win32_main_dialog.h"

#include <array>

#include "app/control_ids.h"
#include "app/dialog_adapter.h"
#include "app/dialog_template_ids.h"
#include "serial/port_connection.h"
#include "serial/win32_enumerate.h"
#include "update/update_sequence.h"
#include "update/versions.h"

namespace fwu {

// The resource compiler reads the template's ids from a C header; they must be the ids the program uses.
static_assert(IDC_COM_OPEN == kIdComOpen);
static_assert(IDC_COM_CLOSE == kIdComClose);
static_assert(IDC_PORT_SELECTOR == kIdPortSelector);
static_assert(IDC_PROGRESS_BAR == kIdProgressBar);
static_assert(IDC_PERCENT_TEXT == kIdPercentText);
static_assert(IDC_UPDATE == kIdUpdate);
static_assert(IDC_VERSION_TEXT == kIdVersionText);
static_assert(IDC_VERSION_READ == kIdVersionRead);
static_assert(IDC_SPARE_TEXT == kIdSpareText);

namespace {

constexpr char kTemplateName[] = "IDD_DIALOG1";

// Offered after the ports the system reports, for adapters whose drivers do not announce themselves.
constexpr std::array<const char*, 10> kFixedPortNames = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                                         "COM6", "COM7", "COM8", "COM9", "COM10"};

// The selector text is read with room for 9 characters and the terminator: a port name up to COM999999, and of a
// longer entry only its start, which is all that OpenPort keeps before the "(" of the description.
constexpr int kSelectorTextCapacity = 10;

void EnableControl(HWND dialog, int controlId, bool enable) {
  EnableWindow(GetDlgItem(dialog, controlId), enable ? TRUE : FALSE);
}

}  // namespace

void SetButtonStates(HWND dialog, ButtonPattern pattern) {
  EnableControl(dialog, kIdPortSelector, pattern.closedSide);
  EnableControl(dialog, kIdComOpen, pattern.closedSide);
  EnableControl(dialog, kIdComClose, pattern.openSide);
  EnableControl(dialog, kIdUpdate, pattern.openSide);
  EnableControl(dialog, kIdVersionRead, pattern.openSide);
}

bool MainDialog::Create(HINSTANCE module) {
  // This object travels as the creation value; WM_INITDIALOG, which runs inside this call, stores it.
  const HWND created =
      CreateDialogParamA(module, kTemplateName, nullptr, &MainDialog::Procedure, reinterpret_cast<LPARAM>(this));
  return created != nullptr;
}

INT_PTR CALLBACK MainDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  }
  // The window's user data is the one way back from the platform's callback to this object. Messages that come
  // before WM_INITDIALOG (the font, the sizes) find none yet and get the default handling.
  auto* self = reinterpret_cast<MainDialog*>(  // NOLINT(performance-no-int-to-ptr)
      GetWindowLongPtrA(dialog, DWLP_USER));
  if (self == nullptr) {
    return FALSE;
  }
  if (message == WM_INITDIALOG) {
    self->dialog_ = dialog;
    self->window_.Attach(dialog);
  }
  return self->OnMessage(message, wParam);
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return FALSE;  // no initial keyboard focus
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return FALSE;
    case WM_CLOSE:
      return OnClose();
    case WM_DESTROY:
      OnDestroy();
      return TRUE;
    default:
      return FALSE;
  }
}

void MainDialog::OnInitDialog() {
  ShowTitle(window_, images_.main);
  FillPortSelector();
  SetButtonStates(dialog_, kClosedPattern);
}

void MainDialog::FillPortSelector() {
  const HWND selector = GetDlgItem(dialog_, kIdPortSelector);
  const LRESULT count = SendMessageA(selector, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    SendMessageA(selector, CB_DELETESTRING, 0, 0);
  }
  EnumeratePorts(selector);
  for (const char* name : kFixedPortNames) {
    SendMessageA(selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  }
  SendMessageA(selector, CB_SETCURSEL, 0, 0);
}

// Only the control id counts; the notification code is not looked at. Esc and Enter arrive as IDCANCEL and IDOK
// and do nothing, so the window never closes by a key. While an update runs, every button is disabled; a command
// that reaches the dialog all the same (sent by another program) is ignored, so the update is never entered twice.
void MainDialog::OnCommand(int controlId) {
  if (state_.busy) {
    return;
  }
  switch (controlId) {
    case kIdComOpen:
      OnComOpen();
      break;
    case kIdComClose:
      OnComClose();
      break;
    case kIdUpdate:
      OnUpdate();
      break;
    case kIdVersionRead:
      OnVersionRead();
      break;
    default:
      break;
  }
}

void MainDialog::OnComOpen() {
  std::array<char, kSelectorTextCapacity> selectorText{};
  GetDlgItemTextA(dialog_, kIdPortSelector, selectorText.data(), kSelectorTextCapacity);
  if (!OpenPort(state_.link.port, window_, selectorText.data())) {
    return;
  }
  SetButtonStates(dialog_, kOpenPattern);
  // Whatever this read finds, the port stays open: the controller may simply not be in boot mode yet.
  ReadVersions(state_.link, window_, images_.main);
}

void MainDialog::OnComClose() {
  ClosePort(state_.link.port);
  SetButtonStates(dialog_, kClosedPattern);
}

void MainDialog::OnVersionRead() {
  ReadVersions(state_.link, window_, images_.main);
}

// The update runs on this thread and lets window messages through between blocks, so this procedure may run
// again inside it: the disabled buttons, the greyed close item and the busy flag keep those nested visits
// harmless. A controller left half-written by a closed window would not start again.
void MainDialog::OnUpdate() {
  EnableCloseItem(false);
  SetButtonStates(dialog_, kBusyPattern);
  // Show the disabled buttons before the long transfer keeps the thread away from painting.
  InvalidateRect(dialog_, nullptr, TRUE);
  UpdateWindow(dialog_);
  state_.busy = true;
  RunUpdate(state_.link, window_, state_.progress, images_);
  state_.busy = false;
  SetButtonStates(dialog_, state_.link.port.IsOpen() ? kOpenPattern : kClosedPattern);
  EnableCloseItem(true);
}

void MainDialog::EnableCloseItem(bool enable) {
  // Greying the system menu's Close item greys the caption's close box with it.
  EnableMenuItem(GetSystemMenu(dialog_, FALSE), SC_CLOSE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

INT_PTR MainDialog::OnClose() {
  if (state_.busy) {
    return FALSE;
  }
  DestroyWindow(dialog_);
  return TRUE;
}

void MainDialog::OnDestroy() {
  dialog_ = nullptr;
  window_.Attach(nullptr);
  PostQuitMessage(0);
}

}  // namespace fwu
