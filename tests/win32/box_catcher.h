#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace fwu::test {

// Catches every message box this thread opens while it lives: records its text, caption and whether it carries
// the error icon, lets the test look around while the box is up, then presses OK. Message boxes are modal, so
// without this a test would wait for an operator.
class BoxCatcher {
 public:
  struct Box {
    std::string text;
    std::string caption;
    bool errorIcon = false;
    bool operator==(const Box&) const = default;
  };

  BoxCatcher();
  BoxCatcher(const BoxCatcher&) = delete;
  BoxCatcher& operator=(const BoxCatcher&) = delete;
  ~BoxCatcher();

  // Runs while a box is up, before OK is pressed.
  void WhileUp(std::function<void(const Box&)> action) { whileUp_ = std::move(action); }
  [[nodiscard]] const std::vector<Box>& Boxes() const { return boxes_; }
  [[nodiscard]] std::vector<std::string> Texts() const;
  // The window that owned each box.
  [[nodiscard]] const std::vector<HWND>& Owners() const { return owners_; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
  void Activated(HWND window);

  HHOOK hook_ = nullptr;
  std::set<HWND> seen_;
  std::vector<Box> boxes_;
  std::vector<HWND> owners_;
  std::function<void(const Box&)> whileUp_;
};

}  // namespace fwu::test
