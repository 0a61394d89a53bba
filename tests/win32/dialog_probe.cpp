// Looks at the running fwupdate.exe from outside, as the operator would: waits for its dialog, checks the title,
// the port selector and the buttons, and prints what it saw. With --close it asks the dialog to close instead
// and waits until it is gone.
//
//   dialog_probe.exe --title "<expected title>"
//   dialog_probe.exe --close
//
// Exit code 0 when everything is as expected. Another process's combo box items come through the wide calls
// only: under Wine the ANSI ones hand back UTF-16.
#include <windows.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr auto kWaitLimit = std::chrono::seconds(60);
constexpr DWORD kPollMs = 50;

struct Finder {
  HWND found = nullptr;
};

std::string Narrow(const wchar_t* text) {
  std::string narrow;
  for (; *text != L'\0'; ++text) {
    narrow.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  }
  return narrow;
}

std::string Text(HWND window) {
  std::array<wchar_t, 512> text{};
  SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  return Narrow(text.data());
}

bool IsUpdaterDialog(HWND window) {
  std::array<wchar_t, 32> className{};
  GetClassNameW(window, className.data(), static_cast<int>(className.size()));
  return std::wstring(className.data()) == L"#32770" && GetDlgItem(window, 1006) != nullptr &&
         GetDlgItem(window, 1003) != nullptr && IsWindowVisible(window) != FALSE;
}

BOOL CALLBACK Visit(HWND window, LPARAM finder) {
  if (IsUpdaterDialog(window)) {
    reinterpret_cast<Finder*>(finder)->found = window;  // NOLINT(performance-no-int-to-ptr)
    return FALSE;
  }
  return TRUE;
}

HWND FindDialog() {
  Finder finder;
  EnumWindows(&Visit, reinterpret_cast<LPARAM>(&finder));
  return finder.found;
}

HWND WaitForDialog() {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (const HWND dialog = FindDialog(); dialog != nullptr) {
      return dialog;
    }
    if (std::chrono::steady_clock::now() - start > kWaitLimit) {
      return nullptr;
    }
    Sleep(kPollMs);
  }
}

class Checker {
 public:
  void Expect(bool ok, const std::string& what, const std::string& seen) {
    std::printf("%s %s: %s\n", ok ? "ok  " : "FAIL", what.c_str(), seen.c_str());
    failed_ = failed_ || !ok;
  }
  [[nodiscard]] bool Failed() const { return failed_; }

 private:
  bool failed_ = false;
};

std::vector<std::string> SelectorEntries(HWND selector) {
  std::vector<std::string> entries;
  const auto count = SendMessageW(selector, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::array<wchar_t, 512> text{};
    SendMessageW(selector, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
    entries.push_back(Narrow(text.data()));
  }
  return entries;
}

int Inspect(const std::string& expectedTitle) {
  const HWND dialog = WaitForDialog();
  if (dialog == nullptr) {
    std::printf("FAIL no updater dialog appeared\n");
    return 1;
  }
  Checker check;
  check.Expect(Text(dialog) == expectedTitle, "title", "\"" + Text(dialog) + "\"");

  const HWND selector = GetDlgItem(dialog, 1003);
  const std::vector<std::string> entries = SelectorEntries(selector);
  std::string listed;
  for (const std::string& entry : entries) {
    listed += "\"" + entry + "\" ";
  }
  const std::vector<std::string> fixed = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                          "COM6", "COM7", "COM8", "COM9", "COM10"};
  const bool endsWithFixed =
      entries.size() >= fixed.size() && std::equal(fixed.begin(), fixed.end(), entries.end() - 10);
  check.Expect(endsWithFixed, "selector lists the present ports, then COM1 to COM10", listed);
  const auto selection = SendMessageW(selector, CB_GETCURSEL, 0, 0);
  check.Expect(selection == 0 && !entries.empty() && Text(selector) == entries.front(), "first entry selected",
               Text(selector));

  const std::array<std::pair<int, bool>, 5> closedPattern = {
      {{1003, true}, {1001, true}, {1002, false}, {1006, false}, {1009, false}}};
  for (const auto& [id, enabled] : closedPattern) {
    const bool isEnabled = IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
    check.Expect(isEnabled == enabled, "control " + std::to_string(id) + (enabled ? " enabled" : " disabled"),
                 isEnabled ? "enabled" : "disabled");
  }
  check.Expect(Text(GetDlgItem(dialog, 1005)) == "0%", "percentage", Text(GetDlgItem(dialog, 1005)));

  // Paint everything now, so that a picture taken after this shows the finished window.
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  return check.Failed() ? 1 : 0;
}

int Close() {
  const HWND dialog = FindDialog();
  if (dialog == nullptr) {
    std::printf("FAIL no updater dialog to close\n");
    return 1;
  }
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  const auto start = std::chrono::steady_clock::now();
  while (IsWindow(dialog) != FALSE) {
    if (std::chrono::steady_clock::now() - start > kWaitLimit) {
      std::printf("FAIL the dialog did not close\n");
      return 1;
    }
    Sleep(kPollMs);
  }
  std::printf("ok   closed\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--title") {
    return Inspect(args[1]);
  }
  if (args.size() == 1 && args[0] == "--close") {
    return Close();
  }
  std::printf("usage: dialog_probe.exe --title <expected title> | --close\n");
  return 2;
}
