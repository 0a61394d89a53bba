#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "app/dialog_window.h"

namespace fwu {

// The main dialog as the core sees it: boxes owned by the dialog, its controls by id, its title and progress bar,
// and this thread's message queue.
//
// The update steps the bar once per block position, 2304 times, and every move of the control repaints it at
// once: under Wine about a millisecond a step, and where the images hold long erased stretches the steps come
// back to back while the line stands idle. So the window keeps the bar's position itself and moves the control
// only when the length it fills changes; in between, the control would paint the same picture again. Likewise a
// text is set only when it differs from what the control shows.
class Win32DialogWindow : public DialogWindow {
 public:
  Win32DialogWindow() = default;

  // The dialog whose controls these calls reach; null until it exists. The bar's state is read from the control.
  void Attach(HWND dialog);

  void ShowMessage(const std::string& text, const std::string& caption, BoxStyle style) override;
  void SetControlText(int controlId, const std::string& text) override;
  void SetTitle(const std::string& text) override;
  void ProgressSetRange(std::uint16_t maximum) override;
  void ProgressSetStep(int increment) override;
  void ProgressSetPos(int position) override;
  void ProgressStepIt() override;
  void PumpMessages() override;

 private:
  // The bar as the update has set it. The control's own values until an update starts: 0..100, step 10.
  struct Bar {
    int minimum = 0;
    int maximum = 100;
    int step = 10;
    int position = 0;
  };

  // A control of the dialog. Under Wine each look-up by id asks the server, so handles are kept.
  HWND Control(int controlId);
  LRESULT SendToProgressBar(UINT message, WPARAM wParam, LPARAM lParam) const;
  // Moves the control to the kept position when that changes the length it fills, or when the position is an end
  // of the range, so that a full or reset bar holds exactly its end.
  void ShowBar();
  // Width in pixels of the area the control fills, measured as it measures it.
  void MeasureBar();
  // Where the fill ends, in pixels from the start of that area, at a position.
  [[nodiscard]] int FilledPixels(int position) const;

  HWND dialog_ = nullptr;
  HWND progressBar_ = nullptr;
  std::map<int, HWND> controls_;
  Bar bar_;
  int barPixels_ = 0;
  bool pumped_ = false;   // whether the queue has been looked at yet
  DWORD lastPumpMs_ = 0;  // when it was last looked at, on the multimedia timer's tick
};

}  // namespace fwu
