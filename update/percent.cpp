#include "update/percent.h"

#include <array>
#include <cstdio>

namespace fwu {

namespace {

// Room for "%3d %%" of any 32-bit value, with the terminator.
constexpr std::size_t kPercentTextSize = 20;
constexpr std::uint32_t kFull = 100;

}  // namespace

std::uint32_t PercentDone(std::uint32_t done, std::uint32_t total) {
  if (total == 0) {
    return kFull;
  }
  const std::uint32_t tenths = done * 1000U / total;
  return tenths / 10U;
}

std::string PercentText(std::uint32_t percent) {
  std::array<char, kPercentTextSize> text{};
  // A percentage worked out from 32-bit counters is at most 2^32 / 10, well inside an int.
  const int length = std::snprintf(text.data(), text.size(), "%3d %%", static_cast<int>(percent));
  return {text.data(), length > 0 ? static_cast<std::size_t>(length) : 0U};
}

}  // namespace fwu
