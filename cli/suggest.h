#pragma once

#include <optional>
#include <string>
#include <vector>

namespace fwu::cli {

// The candidate that word was most likely meant to be: the nearest by letters swapped, missing, extra or wrong,
// when at most a third of word's letters (and at least one) are off; nothing when none is that near.
std::optional<std::string> Nearest(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace fwu::cli
