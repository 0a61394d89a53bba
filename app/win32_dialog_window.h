#pragma once

#include <windows.h>

#include <string>

#include "ui/dialog_window.h"

namespace fwu {

// The main dialog as the core sees it: boxes owned by the dialog, its controls by id, its title and progress bar,
// and this thread's message queue.
class Win32DialogWindow : public DialogWindow {
 public:
  Win32DialogWindow() = default;

  // The dialog whose controls these calls reach; null until it exists.
  void Attach(HWND dialog) { dialog_ = dialog; }

  void ShowMessage(const std::string& text, const std::string& caption, BoxStyle style) override;
  void SetControlText(int controlId, const std::string& text) override;
  void SetTitle(const std::string& text) override;
  void ProgressSetRange(std::uint16_t maximum) override;
  void ProgressSetStep(int increment) override;
  void ProgressSetPos(int position) override;
  void ProgressStepIt() override;
  void PumpMessages() override;

 private:
  LRESULT SendToProgressBar(UINT message, WPARAM wParam, LPARAM lParam) const;

  HWND dialog_ = nullptr;
};

}  // namespace fwu
