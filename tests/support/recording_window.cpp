#include "support/recording_window.h"

namespace fwu::test {

void RecordingWindow::ShowMessage(const std::string& text, const std::string& caption, BoxStyle style) {
  boxes_.push_back({text, caption, style});
  log_.push_back("box:" + text + "|" + caption + (style == BoxStyle::Error ? "|error" : "|plain"));
  if (onBox_) {
    onBox_(boxes_.back());
  }
}

void RecordingWindow::SetControlText(int controlId, const std::string& text) {
  texts_[controlId] = text;
  log_.push_back("text:" + std::to_string(controlId) + ":" + text);
}

void RecordingWindow::SetTitle(const std::string& text) {
  title_ = text;
  log_.push_back("title:" + text);
}

void RecordingWindow::ProgressSetRange(std::uint16_t maximum) {
  max_ = maximum;
  log_.push_back("range:" + std::to_string(maximum));
}

void RecordingWindow::ProgressSetStep(int increment) {
  step_ = increment;
  log_.push_back("step:" + std::to_string(increment));
}

void RecordingWindow::ProgressSetPos(int position) {
  pos_ = position;
  log_.push_back("pos:" + std::to_string(position));
}

void RecordingWindow::ProgressStepIt() {
  // The platform's bar wraps to its minimum when a step passes the maximum.
  pos_ += step_;
  if (pos_ > max_) {
    pos_ = 0;
  }
  log_.push_back("stepit");
}

void RecordingWindow::PumpMessages() {
  ++pumps_;
  log_.push_back("pump");
}

std::string RecordingWindow::ControlText(int controlId) const {
  const auto it = texts_.find(controlId);
  return it == texts_.end() ? std::string() : Shown(it->second);
}

}  // namespace fwu::test
