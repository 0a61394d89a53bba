#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/dialog_window.h"

namespace fwu::test {

// The dialog window as a recorder: every call in order, plus the state the operator would see.
class RecordingWindow : public DialogWindow {
 public:
  struct Box {
    std::string text;
    std::string caption;
    BoxStyle style;
    bool operator==(const Box&) const = default;
  };

  void ShowMessage(const std::string& text, const std::string& caption, BoxStyle style) override;
  void SetControlText(int controlId, const std::string& text) override;
  void SetTitle(const std::string& text) override;
  void ProgressSetRange(std::uint16_t maximum) override;
  void ProgressSetStep(int increment) override;
  void ProgressSetPos(int position) override;
  void ProgressStepIt() override;
  void PumpMessages() override;

  // Runs whenever a message box is shown, before it is "dismissed" (a test can act while the box is up).
  void OnMessageBox(std::function<void(const Box&)> hook) { onBox_ = std::move(hook); }

  // Every call, in order, as short texts: "box:<text>|<caption>|error", "text:1005:<text>", "title:<text>",
  // "range:<max>", "step:<n>", "pos:<n>", "stepit", "pump".
  [[nodiscard]] const std::vector<std::string>& Log() const { return log_; }
  [[nodiscard]] const std::vector<Box>& Boxes() const { return boxes_; }
  // The texts as shown: a window text ends at its first NUL.
  [[nodiscard]] std::string ControlText(int controlId) const;
  [[nodiscard]] std::string Title() const { return Shown(title_); }
  [[nodiscard]] int ProgressPos() const { return pos_; }
  [[nodiscard]] int ProgressMax() const { return max_; }
  [[nodiscard]] int Pumps() const { return pumps_; }

 private:
  static std::string Shown(const std::string& text) { return text.substr(0, text.find('\0')); }

  std::vector<std::string> log_;
  std::vector<Box> boxes_;
  std::map<int, std::string> texts_;
  std::string title_;
  std::function<void(const Box&)> onBox_;
  int max_ = 100;
  int step_ = 10;
  int pos_ = 0;
  int pumps_ = 0;
};

}  // namespace fwu::test
