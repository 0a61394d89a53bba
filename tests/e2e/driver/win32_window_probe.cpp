#include "win32_window_probe.h"

#include <algorithm>
#include <array>

namespace fwu::e2e {

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kStaticClass[] = L"Static";
constexpr wchar_t kTitlePrefix[] = L"UPDATE";
constexpr int kPortSelectorId = 1003;
// The message text of a message box sits in a Static control with this id.
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kTextCapacity = 1024;

std::wstring ClassOf(HWND window) {
  std::array<wchar_t, 64> name{};
  const int length = GetClassNameW(window, name.data(), static_cast<int>(name.size()));
  return std::wstring(name.data(), static_cast<std::size_t>(length > 0 ? length : 0));
}

bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, unsigned timeoutMs, DWORD_PTR& result) {
  return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &result) != 0;
}

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM context) {
  // EnumWindows hands our context back as an integer.
  reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);  // NOLINT(performance-no-int-to-ptr)
  return TRUE;
}

std::vector<HWND> TopLevelDialogs() {
  std::vector<HWND> all;
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&all));
  std::vector<HWND> dialogs;
  for (HWND window : all) {
    if (ClassOf(window) == kDialogClass) {
      dialogs.push_back(window);
    }
  }
  return dialogs;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM context) {
  // EnumWindows hands our context back as an integer.
  reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);  // NOLINT(performance-no-int-to-ptr)
  return TRUE;
}

// Whether the box shows an icon: its icon Static holds one. Under Wine the Static exists in every box and is
// merely left empty when the box has no icon.
bool ShowsIcon(HWND box, unsigned timeoutMs) {
  std::vector<HWND> children;
  EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
  for (HWND child : children) {
    const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    if (ClassOf(child) != kStaticClass || (style & SS_TYPEMASK) != SS_ICON || !Visible(child)) {
      continue;
    }
    DWORD_PTR icon = 0;
    if (SendWithTimeout(child, STM_GETICON, 0, 0, timeoutMs, icon) && icon != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string Narrow(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

HWND FindUpdaterDialog() {
  for (HWND window : TopLevelDialogs()) {
    const std::wstring title = Widen(StoredText(window));
    if (title.rfind(kTitlePrefix, 0) == 0 && GetDlgItem(window, kPortSelectorId) != nullptr) {
      return window;
    }
  }
  return nullptr;
}

std::string StoredText(HWND window) {
  std::array<wchar_t, kTextCapacity> text{};
  const int length = InternalGetWindowText(window, text.data(), static_cast<int>(text.size()));
  return Narrow(std::wstring(text.data(), static_cast<std::size_t>(length > 0 ? length : 0)));
}

bool SentText(HWND window, unsigned timeoutMs, std::string& text) {
  std::array<wchar_t, kTextCapacity> buffer{};
  DWORD_PTR length = 0;
  if (!SendWithTimeout(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), timeoutMs, length)) {
    return false;
  }
  text = Narrow(std::wstring(buffer.data(), std::min<std::size_t>(length, buffer.size() - 1)));
  return true;
}

bool SendText(HWND window, const std::string& text, unsigned timeoutMs) {
  const std::wstring wide = Widen(text);
  DWORD_PTR result = 0;
  return SendWithTimeout(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), timeoutMs, result) &&
         result != 0;
}

bool ComboItems(HWND combo, unsigned timeoutMs, std::vector<std::string>& items) {
  items.clear();
  DWORD_PTR count = 0;
  if (!SendWithTimeout(combo, CB_GETCOUNT, 0, 0, timeoutMs, count) || static_cast<LRESULT>(count) == CB_ERR) {
    return false;
  }
  for (WPARAM i = 0; i < count; ++i) {
    DWORD_PTR length = 0;
    if (!SendWithTimeout(combo, CB_GETLBTEXTLEN, i, 0, timeoutMs, length) || static_cast<LRESULT>(length) == CB_ERR) {
      return false;
    }
    std::wstring item(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendWithTimeout(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()), timeoutMs, copied) ||
        static_cast<LRESULT>(copied) == CB_ERR) {
      return false;
    }
    item.resize(std::min<std::size_t>(copied, length));
    items.push_back(Narrow(item));
  }
  return true;
}

bool ComboSelectExact(HWND combo, const std::string& item, unsigned timeoutMs) {
  const std::wstring wide = Widen(item);
  DWORD_PTR index = 0;
  if (!SendWithTimeout(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wide.c_str()),
                       timeoutMs, index) ||
      static_cast<LRESULT>(index) == CB_ERR) {
    return false;
  }
  DWORD_PTR selected = 0;
  return SendWithTimeout(combo, CB_SETCURSEL, index, 0, timeoutMs, selected) && selected == index;
}

bool PostClick(HWND button) {
  return PostMessageW(button, BM_CLICK, 0, 0) != 0;
}

std::vector<MessageBoxView> OwnedMessageBoxes(HWND owner, unsigned timeoutMs) {
  std::vector<MessageBoxView> boxes;
  for (HWND window : TopLevelDialogs()) {
    if (window == owner || GetWindow(window, GW_OWNER) != owner || !Visible(window)) {
      continue;
    }
    MessageBoxView view;
    view.window = window;
    view.caption = StoredText(window);
    HWND text = GetDlgItem(window, kMessageBoxTextId);
    view.text = text != nullptr ? StoredText(text) : std::string();
    view.hasIcon = ShowsIcon(window, timeoutMs);
    boxes.push_back(view);
  }
  return boxes;
}

bool PressOk(HWND box) {
  HWND ok = GetDlgItem(box, IDOK);
  if (ok != nullptr) {
    return PostClick(ok);
  }
  return PostMessageW(box, WM_COMMAND, IDOK, 0) != 0;
}

CloseOutcome RequestClose(HWND dialog, bool viaSystemMenu, unsigned timeoutMs) {
  DWORD_PTR result = 0;
  const bool answered = viaSystemMenu ? SendWithTimeout(dialog, WM_SYSCOMMAND, SC_CLOSE, 0, timeoutMs, result)
                                      : SendWithTimeout(dialog, WM_CLOSE, 0, 0, timeoutMs, result);
  if (!Exists(dialog)) {
    return CloseOutcome::Closed;
  }
  return answered ? CloseOutcome::Refused : CloseOutcome::NoAnswer;
}

}  // namespace fwu::e2e
