#pragma once

#include <string>
#include <vector>

namespace fwu::e2e {

// One step of an operator scenario: a verb and its arguments, from one line of the script.
struct Step {
  int line = 0;
  std::string verb;
  std::vector<std::string> args;
};

// Reads a scenario: one step per line, fields separated by '|', so that the blanks inside the dialog's texts
// stay exactly as written. Inside a field, \r \n \t \\ and \| stand for themselves. Empty lines and lines
// starting with '#' are skipped. Returns false with a message naming the line when the text is malformed.
bool ParseScript(const std::string& text, std::vector<Step>& steps, std::string& error);

// A text as the transcript shows it: in double quotes, with line breaks and other control characters
// escaped, so that a missing blank or a stray carriage return is visible.
std::string Quote(const std::string& text);

}  // namespace fwu::e2e
