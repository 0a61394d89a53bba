#include "cli/summary.h"

#include <gtest/gtest.h>

namespace fwu::cli {
namespace {

PortReport Stopped(const std::string& port, Outcome outcome) {
  PortReport report;
  report.port = port;
  report.verdict.outcome = outcome;
  report.seconds = 90.2;
  return report;
}

// A record says the device status and the block address as the outcome lines do, and when the run began and
// ended.
TEST(SummaryTest, ARecordShowsCodesAsTheTextsDoAndItsTimesInIso8601) {
  PortReport report = Stopped("/dev/ttyUSB0", Outcome::DeviceError);
  report.verdict.deviceStatus = 0x12;
  report.verdict.blockAddress = 0x4000;
  report.startedAt = std::chrono::sys_days{std::chrono::year{2025} / 3 / 14} + std::chrono::hours{9} +
                     std::chrono::minutes{26} + std::chrono::milliseconds{53'600};
  report.endedAt = report.startedAt + std::chrono::seconds{90};
  report.images = {{"main", "main.hex", "6ebd"}};
  const nlohmann::ordered_json record = PortRecord(report);
  EXPECT_EQ(record["device_status"], 18);
  EXPECT_EQ(record["device_status_text"], "0012");
  EXPECT_EQ(record["block_address_text"], "0x04000");
  EXPECT_EQ(record["started"], "2025-03-14T09:26:53Z");
  EXPECT_EQ(record["ended"], "2025-03-14T09:28:23Z");
  EXPECT_EQ(record["images"][0]["source"], "main.hex");
  EXPECT_EQ(record["reason"], nullptr);
}

// The closing table on a terminal: no line wraps, whatever the port names; in a log they stay whole.
TEST(SummaryTest, TheClosingTableFitsTheTerminal) {
  const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  const std::vector<PortReport> reports = {Stopped(byId, Outcome::Finished),
                                           Stopped("/tmp/line3", Outcome::DeviceError)};
  for (const std::size_t width : {39U, 79U}) {
    const std::string table = FinalTable(reports, width);
    std::size_t start = 0;
    for (std::size_t end = table.find('\n'); end != std::string::npos; end = table.find('\n', start = end + 1)) {
      EXPECT_LE(end - start, width) << table;
    }
    EXPECT_NE(table.find("port0  finished      0       1:30\n"), std::string::npos) << table;
  }
  EXPECT_NE(FinalTable(reports).find(byId + "  finished"), std::string::npos);
}

// A stop request's status is the signal's; the first failing port decides, in the order given.
TEST(SummaryTest, TheExitStatusIsTheFirstFailingPortsAndAStopsIsTheSignals) {
  EXPECT_EQ(CombinedExitStatus({Stopped("a", Outcome::Finished), Stopped("b", Outcome::Interrupted)}, 143), 143);
  EXPECT_EQ(CombinedExitStatus({Stopped("a", Outcome::LinkFailure), Stopped("b", Outcome::Interrupted)}, 129), 7);
  EXPECT_EQ(CombinedExitStatus({Stopped("a", Outcome::Finished)}, 0), 0);
}

}  // namespace
}  // namespace fwu::cli
