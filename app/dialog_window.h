#pragma once

#include <cstdint>
#include <string>

namespace fwu {

// Message box styles the operator meets: failures carry the error icon, the two outcomes of an update none.
enum class BoxStyle {
  Error,  // error icon, one OK button
  Plain,  // one OK button, no icon
};

// The main dialog as the core sees it: the owner of every message box, its controls by id, its title, the
// progress bar, and the thread's message queue. The Win32 dialog and the tests' recorder implement it.
class DialogWindow {
 public:
  DialogWindow() = default;
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;
  virtual ~DialogWindow() = default;

  // A modal box owned by the dialog; returns once the operator has pressed OK.
  virtual void ShowMessage(const std::string& text, const std::string& caption, BoxStyle style) = 0;
  // Window texts end at their first NUL, as the platform shows them.
  virtual void SetControlText(int controlId, const std::string& text) = 0;
  virtual void SetTitle(const std::string& text) = 0;

  // The progress bar (control 1004): range 0..maximum (16 bits), step increment, position, one step.
  virtual void ProgressSetRange(std::uint16_t maximum) = 0;
  virtual void ProgressSetStep(int increment) = 0;
  virtual void ProgressSetPos(int position) = 0;
  virtual void ProgressStepIt() = 0;

  // Handles every message waiting for the thread without blocking; a quit message is dropped.
  virtual void PumpMessages() = 0;
};

}  // namespace fwu
