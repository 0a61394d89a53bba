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

// The bar with inner cells between its brackets.
std::string Bar(const LineState& state, std::size_t cells) {
  const std::size_t filled =
      state.totalSteps == 0 ? 0 : std::size_t{state.stepsDone} * cells / std::size_t{state.totalSteps};
  std::string bar(cells + 2, '.');
  bar.front() = '[';
  bar.back() = ']';
  std::fill_n(bar.begin() + 1, std::min(filled, cells), '#');
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
    static_cast<void>(std::snprintf(text.data(), text.size(), "%ld:%02ld:%02ld", total / kSecondsPerHour,
                                    total % kSecondsPerHour / kSecondsPerMinute, total % kSecondsPerMinute));
  } else {
    static_cast<void>(
        std::snprintf(text.data(), text.size(), "%ld:%02ld", total / kSecondsPerMinute, total % kSecondsPerMinute));
  }
  return text.data();
}

namespace {

// What a live line shows besides the port, the percentage, the time left and the outcome, which it always shows.
struct Layout {
  bool blocks = true;
  std::size_t barCells = kBarWidth;  // 0: no bar
  bool elapsed = true;
};

// Built by appending: GCC 12 warns of an overlap that cannot happen in `" " + std::string` at -O3.
std::string Compose(const LineState& state, const std::string& name, const Layout& layout) {
  std::string line = name;
  if (layout.barCells != 0) {
    line += ' ';
    line += Bar(state, layout.barCells);
  }
  line += ' ';
  line += state.percent.empty() ? std::string("  0 %") : state.percent;
  if (layout.blocks && state.totalSteps != 0) {
    line += "  ";
    line += Blocks(state);
  }
  std::string times = layout.elapsed ? ClockText(state.elapsed) + " elapsed" : std::string();
  if (state.remaining) {
    times += times.empty() ? "" : ", ";
    times += ClockText(*state.remaining) + " left";
  }
  for (const std::string& part : {times, Status(state)}) {
    if (!part.empty()) {
      line += "  ";
      line += part;
    }
  }
  return line;
}

}  // namespace

std::string LiveLine(const LineState& state, std::size_t width) {
  // As the terminal narrows the line gives up, in this order: the block counts, the bar's width down to a few
  // cells, the elapsed time, the beginning of a long port name down to its last characters, the bar, then more of
  // the name. The percentage, the time left and the outcome stay whole.
  constexpr std::size_t kBarFrame = 3;  // the space before the bar and its brackets
  constexpr std::size_t kFewestCells = 6;
  constexpr std::size_t kNameKept = 20;
  const std::string name = Printable(state.port);
  // The line's length without the port's name and the bar.
  const auto rest = [&](Layout layout) {
    layout.barCells = 0;
    return Compose(state, "", layout).size();
  };
  // The widest bar (at most the full one) that fits beside a name of nameLength; false when not even the fewest
  // cells do.
  const auto fitBar = [&](Layout& layout, std::size_t nameLength) {
    const std::size_t used = nameLength + rest(layout) + kBarFrame;
    if (used + kFewestCells > width) {
      return false;
    }
    layout.barCells = std::min(kBarWidth, width - used);
    return true;
  };
  Layout layout;
  if (name.size() + rest(layout) + kBarFrame + kBarWidth <= width) {
    return Compose(state, name, layout);
  }
  layout.blocks = false;
  if (fitBar(layout, name.size())) {
    return Compose(state, name, layout);
  }
  layout.elapsed = false;
  if (fitBar(layout, name.size())) {
    return Compose(state, name, layout);
  }
  const std::size_t besideFewest = rest(layout) + kBarFrame + kFewestCells;
  if (width >= besideFewest + std::min(name.size(), kNameKept)) {
    layout.barCells = kFewestCells;
    return Compose(state, KeepEnd(name, width - besideFewest), layout);
  }
  layout.barCells = 0;
  std::string line = Compose(state, KeepEnd(name, width > rest(layout) ? width - rest(layout) : 0), layout);
  // A terminal of a handful of columns: nothing is left to give up.
  line.resize(std::min(line.size(), width));
  return line;
}

std::string KeepEnd(const std::string& text, std::size_t width) {
  constexpr std::string_view kCut = "...";
  if (text.size() <= width) {
    return text;
  }
  if (width <= kCut.size()) {
    return text.substr(text.size() - width);
  }
  return std::string(kCut) + text.substr(text.size() - (width - kCut.size()));
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
      static_cast<void>(std::snprintf(escaped.data(), escaped.size(), "\\x%02X", static_cast<unsigned>(byte)));
      shown += escaped.data();
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace fwu::cli
