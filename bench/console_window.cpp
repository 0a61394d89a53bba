#include "bench/console_window.h"

#include "app/control_ids.h"

namespace fwu::bench {

namespace {

// Line breaks inside a text are shown as \r and \n, so that every call stays on one line.
std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    if (c == '\r') {
      line += "\\r";
    } else if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
  return line;
}

}  // namespace

void ConsoleWindow::Print(const std::string& line) {
  // What the operator would see is a record of the run; a stream that cannot take it does not stop the update.
  static_cast<void>(std::fputs((line + "\n").c_str(), out_));
}

void ConsoleWindow::ShowMessage(const std::string& text, const std::string& caption, BoxStyle style) {
  boxes_.push_back(text);
  if (style == BoxStyle::Error) {
    ++errorBoxes_;
  }
  Print(std::string("box ") + (style == BoxStyle::Error ? "error" : "plain") + " \"" + OneLine(text) + "\" caption \"" +
        OneLine(caption) + "\"");
}

void ConsoleWindow::SetControlText(int controlId, const std::string& text) {
  // The percentage is set on every block; it is printed when it changes.
  if (controlId == kIdPercentText) {
    if (text == percent_) {
      return;
    }
    percent_ = text;
  }
  Print("text " + std::to_string(controlId) + " \"" + OneLine(text) + "\"");
}

void ConsoleWindow::SetTitle(const std::string& text) {
  Print("title \"" + OneLine(text) + "\"");
}

void ConsoleWindow::ProgressSetRange(std::uint16_t maximum) {
  Print("progress range 0.." + std::to_string(maximum));
}

}  // namespace fwu::bench
