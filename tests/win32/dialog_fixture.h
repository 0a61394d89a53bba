#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "app/win32_main_dialog.h"
#include "box_catcher.h"
#include "support/scripted_port.h"
#include "support/virtual_clock.h"

namespace fwu::test {

// The enabled state of the five controls that SetButtonStates switches, in its order.
struct Pattern {
  bool selector;
  bool comOpen;
  bool comClose;
  bool update;
  bool versionRead;
  bool operator==(const Pattern&) const = default;
};
inline constexpr Pattern kClosed{true, true, false, false, false};
inline constexpr Pattern kOpen{false, false, true, true, true};
inline constexpr Pattern kBusy{false, false, false, false, false};
std::string Describe(const Pattern& pattern);

// A main image with a model name and a version, and an erased second image.
struct TestImages {
  std::vector<std::uint8_t> main;
  std::vector<std::uint8_t> second;
  [[nodiscard]] FirmwareImages Images() const { return {main, second}; }
};
TestImages MakeImages(const std::string& modelName, const std::string& version);

// The real dialog from the real template, driven by messages, with the serial line and the clock in memory and
// every message box caught.
class DialogHarness {
 public:
  explicit DialogHarness(FirmwareImages images);
  DialogHarness(const DialogHarness&) = delete;
  DialogHarness& operator=(const DialogHarness&) = delete;
  ~DialogHarness();

  [[nodiscard]] HWND Window() const { return window_; }
  [[nodiscard]] bool Created() const { return window_ != nullptr; }
  [[nodiscard]] bool Alive() const { return IsWindow(window_) != FALSE; }

  // A button's command as the dialog manager sends it, whether the button is enabled or not.
  void Press(int controlId) const;
  // What the operator typed into (or picked in) the port selector.
  void SetSelectorText(const std::string& text) const;
  [[nodiscard]] Pattern Buttons() const;
  [[nodiscard]] bool CloseItemGreyed() const;
  [[nodiscard]] std::string Title() const;
  [[nodiscard]] std::string ControlText(int controlId) const;
  [[nodiscard]] std::vector<std::string> SelectorEntries() const;
  [[nodiscard]] int SelectorSelection() const;
  // Sends WM_CLOSE; true when the dialog is gone afterwards.
  bool RequestClose() const;
  // The exit code of the quit message the dialog posted, taken off the queue; empty when none was posted.
  std::optional<WPARAM> TakeQuit() const;

  VirtualClock clock;
  ScriptedPort port{clock, false};
  ProgramState state{.link = {port, clock}, .progress = {}, .busy = false};
  BoxCatcher boxes;

 private:
  std::unique_ptr<MainDialog> dialog_;
  HWND window_ = nullptr;
};

}  // namespace fwu::test
