#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fwu::cli {

// One port's progress as a line shows it.
struct LineState {
  std::string port;
  std::uint32_t stepsDone = 0;
  std::uint32_t totalSteps = 0;  // 0 before the bar starts (boot-mode entry, versions, program kind)
  std::uint32_t sent = 0;        // blocks written so far
  std::string percent;           // the dialog's "%3d %%"
  double elapsed = 0;
  std::optional<double> remaining;  // from the line model, once the bar has started
  std::string ended;                // the outcome's name once the run has ended
};

// Minutes and seconds, "1:23"; hours when needed, "1:02:03".
std::string ClockText(double seconds);

// The live line on a terminal: port, bar, percentage, blocks, elapsed and remaining time; at most width
// characters, so that it never wraps and the cursor can come back to it.
std::string LiveLine(const LineState& state, std::size_t width);
// text in at most width characters: whole, or "..." and its end, where port names differ.
std::string KeepEnd(const std::string& text, std::size_t width);
// The line for a log: no bar, nothing that needs a cursor.
std::string PlainLine(const LineState& state);

// Bytes that a terminal would take as control characters, shown as \xNN.
std::string Printable(const std::string& text);

}  // namespace fwu::cli
