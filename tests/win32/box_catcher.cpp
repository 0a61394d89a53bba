#include "box_catcher.h"

#include <array>

namespace fwu::test {

namespace {

// A hook procedure gets no context of its own: the one catcher of this thread.
thread_local BoxCatcher* activeCatcher = nullptr;

// The message box's text and icon controls: Windows and Wine number them differently.
constexpr std::array<int, 1> kTextIds = {0xFFFF};
constexpr std::array<int, 2> kIconIds = {0x14, 0x440};

std::string WindowText(HWND window) {
  std::array<char, 1024> text{};
  GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  return text.data();
}

bool IsMessageBox(HWND window) {
  std::array<char, 32> className{};
  GetClassNameA(window, className.data(), static_cast<int>(className.size()));
  return std::string(className.data()) == "#32770" && GetDlgItem(window, kTextIds[0]) != nullptr;
}

bool HasIcon(HWND box) {
  for (const int id : kIconIds) {
    const HWND icon = GetDlgItem(box, id);
    if (icon != nullptr && SendMessageA(icon, STM_GETICON, 0, 0) != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

BoxCatcher::BoxCatcher() {
  activeCatcher = this;
  hook_ = SetWindowsHookExA(WH_CBT, &BoxCatcher::Hook, nullptr, GetCurrentThreadId());
}

BoxCatcher::~BoxCatcher() {
  UnhookWindowsHookEx(hook_);
  activeCatcher = nullptr;
}

std::vector<std::string> BoxCatcher::Texts() const {
  std::vector<std::string> texts;
  for (const Box& box : boxes_) {
    texts.push_back(box.text);
  }
  return texts;
}

LRESULT CALLBACK BoxCatcher::Hook(int code, WPARAM wParam, LPARAM lParam) {
  if (activeCatcher != nullptr) {
    const auto window = reinterpret_cast<HWND>(wParam);  // NOLINT(performance-no-int-to-ptr)
    if (code == HCBT_ACTIVATE) {
      activeCatcher->Activated(window);
    } else if (code == HCBT_DESTROYWND) {
      activeCatcher->seen_.erase(window);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void BoxCatcher::Activated(HWND window) {
  if (seen_.contains(window) || !IsMessageBox(window)) {
    return;
  }
  seen_.insert(window);
  boxes_.push_back({WindowText(GetDlgItem(window, kTextIds[0])), WindowText(window), HasIcon(window)});
  owners_.push_back(GetWindow(window, GW_OWNER));
  if (whileUp_) {
    whileUp_(boxes_.back());
  }
  // The box's own loop picks this up once it runs: the operator's OK.
  PostMessageA(window, WM_COMMAND, IDOK, 0);
}

}  // namespace fwu::test
