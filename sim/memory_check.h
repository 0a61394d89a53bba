#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fwu::sim {

// How one region compares with the image it should hold.
struct RegionVerdict {
  bool equal = false;
  std::string text;  // "main equal", or "main differs: ..." naming the first difference
};

RegionVerdict CompareRegion(std::string_view name, std::span<const std::uint8_t> expected,
                            std::span<const std::uint8_t> actual);

// "memory: main equal, second equal": the verdicts in order.
std::string VerdictLine(const std::vector<RegionVerdict>& verdicts);

}  // namespace fwu::sim
