#include "script.h"

#include <cstdio>

namespace fwu::e2e {

namespace {

constexpr char kSeparator = '|';
constexpr char kEscape = '\\';
constexpr char kComment = '#';

bool Unescape(char code, char& out) {
  switch (code) {
    case 'r':
      out = '\r';
      return true;
    case 'n':
      out = '\n';
      return true;
    case 't':
      out = '\t';
      return true;
    case kEscape:
    case kSeparator:
      out = code;
      return true;
    default:
      return false;
  }
}

bool SplitFields(const std::string& line, std::vector<std::string>& fields, std::string& error) {
  fields.assign(1, std::string());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == kSeparator) {
      fields.emplace_back();
    } else if (c == kEscape) {
      char plain = 0;
      if (i + 1 >= line.size() || !Unescape(line[i + 1], plain)) {
        error = "unknown escape at column " + std::to_string(i + 1);
        return false;
      }
      fields.back() += plain;
      ++i;
    } else {
      fields.back() += c;
    }
  }
  return true;
}

}  // namespace

bool ParseScript(const std::string& text, std::vector<Step>& steps, std::string& error) {
  steps.clear();
  std::size_t start = 0;
  int lineNumber = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.empty() || line.front() == kComment) {
      continue;
    }
    std::vector<std::string> fields;
    std::string fieldError;
    if (!SplitFields(line, fields, fieldError)) {
      error = "line " + std::to_string(lineNumber) + ": " + fieldError;
      return false;
    }
    Step step;
    step.line = lineNumber;
    step.verb = fields.front();
    step.args.assign(fields.begin() + 1, fields.end());
    steps.push_back(step);
  }
  return true;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char hex[8];
          static_cast<void>(
              std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c))));
          out += hex;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace fwu::e2e
