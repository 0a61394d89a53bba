#pragma once

#include <cstdint>
#include <string>

namespace fwu {

// Percent of a transfer's block positions done, truncated: the tenths are taken first, then dropped. The product
// wraps at 2^32 like the bar's own 32-bit arithmetic; the step counts in use stay far below that. A transfer
// without positions has nothing left to do.
std::uint32_t PercentDone(std::uint32_t done, std::uint32_t total);

// The percentage label's text, "%3d %%".
std::string PercentText(std::uint32_t percent);

}  // namespace fwu
