#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fwu::e2e {

// Everything here works from outside the updater's process, as a second program on the same desktop does.
// Texts are read with the wide calls: across processes the narrow ones hand back UTF-16 under Wine.

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// The window calls answer with the platform's BOOL; these give plain bools.
inline bool Exists(HWND window) {
  return IsWindow(window) != FALSE;
}
inline bool Visible(HWND window) {
  return IsWindowVisible(window) != FALSE;
}
inline bool Enabled(HWND window) {
  return IsWindowEnabled(window) != FALSE;
}

// The updater's main dialog: a top-level dialog whose title begins with "UPDATE" and that has the port
// selector. Null while there is none.
HWND FindUpdaterDialog();

// The text a window holds, read without sending it a message, so that it works while the updater's thread
// is busy talking to the controller.
std::string StoredText(HWND window);

// Texts that only the control itself knows (the selector's edit field and list) need a message; the owner's
// thread answers it when it next looks at its queue, so these wait up to timeoutMs.
bool SentText(HWND window, unsigned timeoutMs, std::string& text);
bool SendText(HWND window, const std::string& text, unsigned timeoutMs);
bool ComboItems(HWND combo, unsigned timeoutMs, std::vector<std::string>& items);
bool ComboSelectExact(HWND combo, const std::string& item, unsigned timeoutMs);

// A click as the button itself would see it from the mouse; posted, so the driver does not wait for the
// handler (an update runs for a minute inside it).
bool PostClick(HWND button);

struct MessageBoxView {
  HWND window = nullptr;
  std::string text;
  std::string caption;
  bool hasIcon = false;
};

// The visible message boxes whose owner is the given window.
std::vector<MessageBoxView> OwnedMessageBoxes(HWND owner, unsigned timeoutMs);
bool PressOk(HWND box);

enum class CloseOutcome { Closed, Refused, NoAnswer };
// Asks the dialog to close, either with WM_CLOSE or through the system menu's Close command, and waits until
// its thread has handled the request: a window that still exists afterwards has refused.
CloseOutcome RequestClose(HWND dialog, bool viaSystemMenu, unsigned timeoutMs);

}  // namespace fwu::e2e
