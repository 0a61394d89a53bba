#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/dialog_window.h"

namespace fwu::bench {

// The dialog as a headless run shows it: message boxes, the version display and the percentage, one line each
// on a stream. The bar itself is not printed: the percentage says the same in a hundredth of the lines.
class ConsoleWindow : public DialogWindow {
 public:
  explicit ConsoleWindow(std::FILE* out) : out_(out) {}

  void ShowMessage(const std::string& text, const std::string& caption, BoxStyle style) override;
  void SetControlText(int controlId, const std::string& text) override;
  void SetTitle(const std::string& text) override;
  void ProgressSetRange(std::uint16_t maximum) override;
  void ProgressSetStep(int /*increment*/) override {}
  void ProgressSetPos(int /*position*/) override {}
  void ProgressStepIt() override {}
  void PumpMessages() override {}

  // The texts of the boxes shown, in order.
  [[nodiscard]] const std::vector<std::string>& Boxes() const { return boxes_; }
  [[nodiscard]] int ErrorBoxes() const { return errorBoxes_; }

 private:
  void Print(const std::string& line);

  std::FILE* out_;
  std::vector<std::string> boxes_;
  int errorBoxes_ = 0;
  std::string percent_;
};

}  // namespace fwu::bench
