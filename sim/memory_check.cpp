#include "sim/memory_check.h"

#include "protocol/hex_text.h"

namespace fwu::sim {

namespace {}  // namespace

RegionVerdict CompareRegion(std::string_view name, std::span<const std::uint8_t> expected,
                            std::span<const std::uint8_t> actual) {
  RegionVerdict verdict;
  const std::string prefix(name);
  if (expected.size() != actual.size()) {
    verdict.text = prefix + " differs: the expected image has " + std::to_string(expected.size()) +
                   " bytes, the region " + std::to_string(actual.size());
    return verdict;
  }
  std::size_t first = actual.size();
  std::size_t count = 0;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (expected[i] != actual[i]) {
      first = count == 0 ? i : first;
      ++count;
    }
  }
  if (count == 0) {
    verdict.equal = true;
    verdict.text = prefix + " equal";
    return verdict;
  }
  verdict.text = prefix + " differs: " + std::to_string(count) + (count == 1 ? " byte" : " bytes") +
                 ", the first at offset 0x" + HexValue(static_cast<unsigned>(first), 5) + " (expected " +
                 HexValue(expected[first], 2) + ", found " + HexValue(actual[first], 2) + ")";
  return verdict;
}

std::string VerdictLine(const std::vector<RegionVerdict>& verdicts) {
  std::string line = "memory:";
  for (std::size_t i = 0; i < verdicts.size(); ++i) {
    line += (i == 0 ? " " : ", ") + verdicts[i].text;
  }
  return line;
}

}  // namespace fwu::sim
