#include "cli/progress_line.h"

#include <gtest/gtest.h>

namespace fwu::cli {
namespace {

TEST(ProgressLineTest, TimesRoundToWholeSecondsAndGainHoursWhenNeeded) {
  const std::vector<std::pair<double, std::string>> cases = {{0.0, "0:00"},  {-3.0, "0:00"},    {59.5, "1:00"},
                                                             {82.1, "1:22"}, {3599.4, "59:59"}, {3600.0, "1:00:00"}};
  for (const auto& [seconds, text] : cases) {
    EXPECT_EQ(ClockText(seconds), text) << seconds;
  }
}

// A live line that wrapped would leave the cursor below where the next redraw expects it.
TEST(ProgressLineTest, ALiveLineNeverOutgrowsTheTerminalAndControlBytesAreShownNotSent) {
  LineState state{
      "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\x1b[2J", 1152, 2304, 469, " 50 %", 40.4, 3.2, ""};
  for (const std::size_t width : {20U, 79U, 200U}) {
    const std::string line = LiveLine(state, width);
    EXPECT_LE(line.size(), width);
    EXPECT_EQ(line.find('\x1b'), std::string::npos);
  }
  EXPECT_EQ(LiveLine(state, 500),
            "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\\x1B[2J "
            "[############............]  50 %  1152/2304 blocks (469 sent)  0:40 elapsed, 0:03 left");
  EXPECT_EQ(PlainLine({"COM7", 0, 0, 0, "", 1.0, std::nullopt, ""}), "COM7:   0 %, 0:01 elapsed");
}

}  // namespace
}  // namespace fwu::cli
