#include "cli/suggest.h"

#include <algorithm>
#include <vector>

namespace fwu::cli {

namespace {

// Edits from a to b: a letter inserted, removed, replaced, or two neighbours swapped ("udpate" is one from
// "update").
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    d[i][0] = i;
  }
  for (std::size_t j = 0; j <= b.size(); ++j) {
    d[0][j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t replace = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + replace});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::optional<std::string> Nearest(const std::string& word, const std::vector<std::string>& candidates) {
  constexpr std::size_t kLettersPerEdit = 3;
  const std::size_t allowed = std::max<std::size_t>(1, word.size() / kLettersPerEdit);
  std::optional<std::string> nearest;
  std::size_t best = allowed + 1;
  for (const auto& candidate : candidates) {
    if (const std::size_t distance = Distance(word, candidate); distance < best) {
      best = distance;
      nearest = candidate;
    }
  }
  return nearest;
}

}  // namespace fwu::cli
