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

// Narrow terminals: the line gives up the block counts, then bar cells, the elapsed time, the beginning of the
// port's name and the bar, and never cuts the percentage, the time left or the outcome.
TEST(ProgressLineTest, ANarrowLiveLineShrinksTheBarAndThenThePortNameButKeepsPercentageAndTimeLeft) {
  const LineState running{"/tmp/line1", 452, 2304, 252, " 19 %", 46.2, 39.4, ""};
  const LineState byId{
      "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", 452, 2304, 252, " 19 %", 46.2, 39.4, ""};
  const LineState failed{"/tmp/line3", 0, 0, 0, "", 0.2, std::nullopt, "device_error"};
  struct Case {
    const LineState& state;
    std::size_t width;
    std::string line;
  };
  const Case cases[] = {
      {running, 79, "/tmp/line1 [####....................]  19 %  0:46 elapsed, 0:39 left"},
      {running, 50, "/tmp/line1 [#.....]  19 %  0:46 elapsed, 0:39 left"},
      {running, 39, "/tmp/line1 [#........]  19 %  0:39 left"},
      {running, 30, "/tmp/line1  19 %  0:39 left"},
      {byId, 79, "...by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 [#.....]  19 %  0:39 left"},
      {byId, 39, "...A50285BI-if00-port0  19 %  0:39 left"},
      {failed, 39, "/tmp/line3 [......]   0 %  device_error"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LiveLine(c.state, c.width), c.line) << c.width;
  }
  for (std::size_t width = 17; width <= 160; ++width) {
    for (const LineState* state : {&running, &byId}) {
      const std::string line = LiveLine(*state, width);
      EXPECT_LE(line.size(), width);
      EXPECT_NE(line.find(" 19 %  "), std::string::npos) << line;
      EXPECT_TRUE(line.ends_with("0:39 left")) << line;
    }
  }
}

}  // namespace
}  // namespace fwu::cli
