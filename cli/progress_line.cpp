#include "cli/progress_line.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace fwu::cli {

namespace {

constexpr std::size_t kBarWidth = 24;
constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 3600;

std::string Blocks(const LineState& state) {
  return std::to_string(state.stepsDone) + "/" + std::to_string(state.totalSteps) + " blocks (" +
         std::to_string(state.sent) + " sent)";
}

std::string Times(const LineState& state) {
  std::string text = ClockText(state.elapsed) + " elapsed";
  if (state.remaining) {
    text += ", " + ClockText(*state.remaining) + " left";
  }
  return text;
}

std::string Bar(const LineState& state) {
  const std::size_t filled =
      state.totalSteps == 0 ? 0 : std::size_t{state.stepsDone} * kBarWidth / std::size_t{state.totalSteps};
  std::string bar(kBarWidth + 2, '.');
  bar.front() = '[';
  bar.back() = ']';
  std::fill_n(bar.begin() + 1, std::min(filled, kBarWidth), '#');
  return bar;
}

// Before the bar starts, and after the run, the line says so instead of counting.
std::string Status(const LineState& state) {
  if (!state.ended.empty()) {
    return state.ended;
  }
  return state.totalSteps == 0 ? "entering boot mode" : "";
}

}  // namespace

std::string ClockText(double seconds) {
  const long total = std::lround(std::max(0.0, seconds));
  std::array<char, 32> text{};
  if (total >= kSecondsPerHour) {
    std::snprintf(text.data(), text.size(), "%ld:%02ld:%02ld", total / kSecondsPerHour,
                  total % kSecondsPerHour / kSecondsPerMinute, total % kSecondsPerMinute);
  } else {
    std::snprintf(text.data(), text.size(), "%ld:%02ld", total / kSecondsPerMinute, total % kSecondsPerMinute);
  }
  return text.data();
}

std::string LiveLine(const LineState& state, std::size_t width) {
  std::string line = Printable(state.port) + " " + Bar(state) + " " + (state.percent.empty() ? "  0 %" : state.percent);
  if (state.totalSteps != 0) {
    line += "  " + Blocks(state);
  }
  line += "  " + Times(state);
  if (const std::string status = Status(state); !status.empty()) {
    line += "  " + status;
  }
  if (line.size() > width) {
    line.resize(width);
  }
  return line;
}

std::string PlainLine(const LineState& state) {
  std::string line = Printable(state.port) + ": " + (state.percent.empty() ? "  0 %" : state.percent);
  if (state.totalSteps != 0) {
    line += ", " + Blocks(state);
  }
  return line + ", " + Times(state);
}

std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      std::array<char, 8> escaped{};
      std::snprintf(escaped.data(), escaped.size(), "\\x%02X", static_cast<unsigned>(byte));
      shown += escaped.data();
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace fwu::cli
