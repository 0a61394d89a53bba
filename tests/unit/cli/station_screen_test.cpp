#include "cli/station_screen.h"

#include <gtest/gtest.h>

namespace fwu::cli {
namespace {

// Each slot's line in the operator's words, padded to the widest slot and cut to the terminal; the header's rate
// counts every unit, finished or failed, over the time since start.
TEST(StationScreenTest, SlotLinesAndHeader) {
  const std::string kByPath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2.1.4:1.0-port0";
  const LineModels models(CarriedImages(), 4);
  const auto status = [](station::SlotState state, std::string message = {}) {
    station::SlotStatus s;
    s.state = state;
    s.message = std::move(message);
    return s;
  };
  struct Row {
    SlotView view;
    std::size_t width;
    std::string line;
  };
  const std::vector<Row> rows = {
      {{"s1", status(station::SlotState::WaitingForPort), std::nullopt}, 80, "s1     waiting for a unit (no port)"},
      {{"s1", status(station::SlotState::WaitingForUnit), std::nullopt}, 80, "s1     waiting for a unit"},
      {{"s1", status(station::SlotState::Updating), std::nullopt}, 80, "s1     updating"},
      {{"COM12", status(station::SlotState::Updating), PortProgress{2304, 0, "  0 %", kKindTwoImages, 0}},
       80,
       "COM12  updating 0 % 1:22 left"},
      {{"s1", status(station::SlotState::Finished), std::nullopt}, 80, "s1     finished: remove the unit"},
      {{"s1", status(station::SlotState::Failed, "0012 : Errors"), std::nullopt},
       80,
       "s1     failed: 0012 : Errors: remove the unit"},
      {{"s1", status(station::SlotState::Failed, "0012 : Errors"), std::nullopt}, 20, "s1  failed: 0012 : E"},
      // A by-path name at 80 and 40 columns: its beginning goes first, down to its last eight characters, before the
      // state is cut.
      {{kByPath, status(station::SlotState::Updating), PortProgress{2304, 46, "  2 %"}},
       80,
       "...serial/by-path/pci-0000:00:14.0-usb-0:2.1.4:1.0-port0  updating 2 % 1:14 left"},
      {{kByPath, status(station::SlotState::Finished), std::nullopt}, 40, "...:1.0-port0  finished: remove the unit"},
      {{kByPath, status(station::SlotState::Failed, "     -22 : EOT reception timeout"), std::nullopt},
       40,
       "...port0  failed:      -22 : EOT recepti"},
      {{"s\x1b]", status(station::SlotState::Finished), std::nullopt}, 80, "s\\x1B]  finished: remove the unit"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(SlotLine(row.view, 5, models, row.width), row.line);
  }
  EXPECT_EQ(StationHeader("line-3", {10, 2, 1800}),
            "station line-3   finished 10   failed 2   24.0 units/hour   up 30:00");
  EXPECT_EQ(StationHeader("x", {0, 0, 0}), "station x   finished 0   failed 0   0.0 units/hour   up 0:00");
}

}  // namespace
}  // namespace fwu::cli
