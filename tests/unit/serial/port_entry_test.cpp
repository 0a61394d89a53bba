#include "serial/port_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fwu {
namespace {

struct EntryCase {
  const char* name;
  std::optional<std::string_view> portName;
  std::optional<std::string_view> description;
  std::string expected;
};

TEST(PortEntryTest, NameThenDescriptionInParentheses) {
  const std::vector<EntryCase> cases = {
      {"typical", "COM3", "Communications Port", "COM3(Communications Port)"},
      {"two digits", "COM12", "USB Serial Port", "COM12(USB Serial Port)"},
      {"no description", "COM4", std::nullopt, "COM4((null))"},
      {"no name", std::nullopt, "USB Serial Port", "(null)(USB Serial Port)"},
      {"neither", std::nullopt, std::nullopt, "(null)((null))"},
      {"empty description", "COM5", "", "COM5()"},
      {"empty name", "", "Modem", "(Modem)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PortEntry(c.portName, c.description), c.expected) << c.name;
  }
}

TEST(PortEntryTest, EntryIsCutAt255Characters) {
  struct LengthCase {
    const char* name;
    std::size_t nameLength;
    std::size_t descriptionLength;
    std::size_t expectedLength;
  };
  // name + "(" + description + ")": 255 fits exactly, 256 loses the closing parenthesis.
  const std::vector<LengthCase> cases = {
      {"exactly 255", 4, 249, 255},
      {"one over", 4, 250, 255},
      {"long description", 5, 1000, 255},
      {"name fills the buffer", 256, 10, 255},
  };
  for (const auto& c : cases) {
    const std::string name(c.nameLength, 'N');
    const std::string description(c.descriptionLength, 'd');
    const std::string entry = PortEntry(name, description);
    ASSERT_EQ(entry.size(), c.expectedLength) << c.name;
    std::string full = name;
    full.append("(").append(description).append(")");
    EXPECT_EQ(entry, full.substr(0, c.expectedLength)) << c.name;
  }
  EXPECT_EQ(PortEntry("COM4", std::string(249, 'd')).back(), ')');
  EXPECT_EQ(PortEntry("COM4", std::string(250, 'd')).back(), 'd');
}

TEST(PortEntryTest, BufferTextEndsAtFirstNulOrAtTheEnd) {
  std::array<char, kPortNameBufferSize> full{};
  full.fill('C');
  EXPECT_EQ(BufferText(full), std::string(kPortNameBufferSize, 'C')) << "a value with no terminator stays inside";

  std::array<char, kPortNameBufferSize> named{};
  const std::string_view com7 = "COM7";
  std::copy(com7.begin(), com7.end(), named.begin());
  named[5] = 'X';  // bytes after the terminator are not part of the name
  EXPECT_EQ(BufferText(named), "COM7");

  EXPECT_EQ(BufferText(std::span<const char>{}), "");
  const std::array<char, 3> nulFirst = {'\0', 'A', 'B'};
  EXPECT_EQ(BufferText(nulFirst), "");
}

TEST(PortEntryTest, UnterminatedPortNameStillMakesABoundedEntry) {
  std::array<char, kPortNameBufferSize> full{};
  full.fill('P');
  const std::string entry = PortEntry(BufferText(full), "Communications Port");
  EXPECT_EQ(entry, std::string(kMaxPortEntryLength, 'P'));
}

}  // namespace
}  // namespace fwu
