#include "cli/suggest.h"

#include <gtest/gtest.h>

namespace fwu::cli {
namespace {

TEST(SuggestTest, NamesTheNearestCommandOrOptionOnlyWhenItIsNear) {
  const std::vector<std::string> commands = {"ports", "versions", "update", "info", "image"};
  const std::vector<std::string> options = {"--help", "--main", "--second", "--json", "--trace"};
  struct Case {
    std::string word;
    const std::vector<std::string>& candidates;
    std::optional<std::string> nearest;
  };
  const Case cases[] = {
      {"udpate", commands, "update"}, {"updte", commands, "update"},     {"version", commands, "versions"},
      {"port", commands, "ports"},    {"flash", commands, std::nullopt}, {"imag", commands, "image"},
      {"--jsno", options, "--json"},  {"--mian", options, "--main"},     {"--verbose", options, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Nearest(c.word, c.candidates), c.nearest) << c.word;
  }
}

}  // namespace
}  // namespace fwu::cli
