#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "station/records_file.h"
#include "station/records_query.h"

namespace fwu::station {
namespace {

// A file a crash cut in the middle of a record: the reader leaves the torn line out with a warning naming it,
// and the next record appended starts a line of its own, so nothing after the crash is lost.
TEST(RecordsTest, ATornLineIsLeftOutAndTheNextRecordIsWhole) {
  const std::string path = (std::filesystem::temp_directory_path() / "fwu-records-test.jsonl").string();
  std::ofstream(path, std::ios::trunc) << R"({"slot":"a","outcome":"finished"})"
                                       << "\n"
                                       << R"({"slot":"b","outc)";
  RecordsFile file;
  std::string error;
  ASSERT_TRUE(file.Open(path, error)) << error;
  ASSERT_TRUE(file.Append(R"({"slot":"c","outcome":"device_error"})", error)) << error;

  RecordsRead read;
  ASSERT_TRUE(ReadRecordsFile(path, read, error)) << error;
  ASSERT_EQ(read.records.size(), 2U);
  EXPECT_EQ(read.records[0]["slot"], "a");
  EXPECT_EQ(read.records[1]["slot"], "c");
  EXPECT_EQ(read.warnings, std::vector<std::string>{
                               path + ": line 2: not a whole record (cut short when the station stopped?); left out"});
  std::filesystem::remove(path);
}

std::vector<nlohmann::ordered_json> SmallShift() {
  const char* lines =
      R"({"started":"2025-03-04T08:00:01.000Z","ended":"2025-03-04T08:01:30.000Z","slot":"s1","lot":"L1","outcome":"finished","message":"Finished","seconds":89.1}
{"started":"2025-03-04T08:02:00.000Z","ended":"2025-03-04T08:02:03.000Z","slot":"s2","lot":"L1","outcome":"device_error","message":"0012 : Errors","device_status":18}
{"started":"2025-03-04T09:10:00.000Z","ended":"2025-03-04T09:10:40.000Z","slot":"s1","lot":"L2","outcome":"link_failure","message":"     -11 : When sending the command, ACK reception timeout"}
{"started":"2025-03-05T07:00:00.000Z","ended":"2025-03-05T07:00:02.000Z","slot":"s2","lot":"L2","outcome":"device_error","message":"0012 : Errors","operator":"Ann \"Q\", B"}
)";
  RecordsRead read;
  ParseRecords(lines, "shift", read);
  return read.records;
}

// Filters by time (a date, an hour, a minute; --until takes in the whole of what it names), outcome, slot, lot.
TEST(RecordsTest, FiltersChooseTheRecords) {
  struct Row {
    RecordFilter filter;
    std::vector<std::string> started;  // the records chosen, by their start
  };
  const std::vector<Row> rows = {
      {{},
       {"2025-03-04T08:00:01.000Z", "2025-03-04T08:02:00.000Z", "2025-03-04T09:10:00.000Z",
        "2025-03-05T07:00:00.000Z"}},
      {{"2025-03-04T09", "", "", "", ""}, {"2025-03-04T09:10:00.000Z", "2025-03-05T07:00:00.000Z"}},
      {{"", "2025-03-04", "", "", ""},
       {"2025-03-04T08:00:01.000Z", "2025-03-04T08:02:00.000Z", "2025-03-04T09:10:00.000Z"}},
      {{"2025-03-04T08:01", "2025-03-04T09:10", "", "", ""}, {"2025-03-04T08:02:00.000Z", "2025-03-04T09:10:00.000Z"}},
      {{"", "", "device_error", "", ""}, {"2025-03-04T08:02:00.000Z", "2025-03-05T07:00:00.000Z"}},
      {{"", "", "", "s1", "L2"}, {"2025-03-04T09:10:00.000Z"}},
  };
  const auto records = SmallShift();
  for (const Row& row : rows) {
    std::vector<std::string> started;
    for (const auto& record : records) {
      if (Matches(record, row.filter)) {
        started.push_back(record["started"]);
      }
    }
    EXPECT_EQ(started, row.started) << row.filter.since << " " << row.filter.until << " " << row.filter.outcome;
  }
  EXPECT_EQ(FilterTime("2025-03-04t13:05Z"), "2025-03-04T13:05");
  EXPECT_EQ(FilterTime("2025-3-4"), std::nullopt);
  EXPECT_EQ(FilterTime("yesterday"), std::nullopt);
}

// The CSV quotes what needs it, leaves missing fields empty, and the summary counts each failure message.
TEST(RecordsTest, CsvAndSummary) {
  const auto records = SmallShift();
  const std::string csv = RecordsCsv(records);
  const std::string header = csv.substr(0, csv.find("\r\n"));
  EXPECT_TRUE(header.starts_with("started,ended,seconds,station,operator,lot,slot,port,")) << header;
  EXPECT_NE(csv.find("\r\n2025-03-04T08:02:00.000Z,2025-03-04T08:02:03.000Z,,,,L1,s2,,,,,device_error,0012 : Errors,,,"
                     "18,"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find(",\"Ann \"\"Q\"\", B\",L2,s2,"), std::string::npos) << csv;
  EXPECT_EQ(RecordsSummary(records),
            "units: 4, finished: 1, failed: 3\n"
            "  2 x 0012 : Errors\n"
            "  1 x      -11 : When sending the command, ACK reception timeout\n"
            "first: 2025-03-04T08:00:01.000Z, last: 2025-03-05T07:00:02.000Z\n");
}

}  // namespace
}  // namespace fwu::station
