#include "serial/port_entry.h"

#include <algorithm>

namespace fwu {

namespace {

// What the operator sees for a name or description the device did not give.
constexpr std::string_view kAbsentPart = "(null)";

}  // namespace

std::string BufferText(std::span<const char> buffer) {
  const auto nul = std::find(buffer.begin(), buffer.end(), '\0');
  return {buffer.begin(), nul};
}

std::string PortEntry(std::optional<std::string_view> portName, std::optional<std::string_view> description) {
  std::string entry;
  entry.reserve(kMaxPortEntryLength);
  entry.append(portName.value_or(kAbsentPart));
  entry.append("(");
  entry.append(description.value_or(kAbsentPart));
  entry.append(")");
  if (entry.size() > kMaxPortEntryLength) {
    entry.resize(kMaxPortEntryLength);
  }
  return entry;
}

}  // namespace fwu
