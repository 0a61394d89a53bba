#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

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
  EXPECT_EQ(read.warnings,
            std::vector<std::string>{path +
                                     ": line 2: a record cut short (the station stopped while writing it?); left out"});
  std::filesystem::remove(path);
}

// Log rotation moves the file away, or someone deletes or replaces it, while the station runs: each record goes to
// the file at the path as it is then, made again where needed, and nothing to a file only the station still sees.
TEST(RecordsTest, EachRecordGoesToTheFileAtThePath) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "fwu-records-rotation";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "r.jsonl").string();
  const auto lines = [](const std::string& file) {
    RecordsRead read;
    std::string error;
    ReadRecordsFile(file, read, error);
    std::vector<std::string> slots;
    for (const auto& record : read.records) {
      slots.push_back(record["slot"]);
    }
    return slots;
  };
  struct Row {
    const char* name;
    std::function<void()> change;  // what happens to the file before the record
    std::vector<std::string> atPath;
  };
  const std::vector<Row> rows = {
      {"moved away", [&] { std::filesystem::rename(path, path + ".1"); }, {"moved away"}},
      {"moved away, then deleted",
       [&] {
         std::filesystem::rename(path, path + ".2");
         std::filesystem::remove(path + ".2");
       },
       {"moved away, then deleted"}},
      {"deleted", [&] { std::filesystem::remove(path); }, {"deleted"}},
      {"replaced",
       [&] {
         std::ofstream(path + ".new") << R"({"slot":"x","outcome":"finished","started":"s"})"
                                      << "\n{\"sl";
         std::filesystem::rename(path + ".new", path);
       },
       {"x", "replaced"}},
  };
  RecordsFile file;
  std::string error;
  ASSERT_TRUE(file.Open(path, error)) << error;
  ASSERT_TRUE(file.Append(R"({"slot":"first","outcome":"finished","started":"s"})", error)) << error;
  for (const Row& row : rows) {
    row.change();
    ASSERT_TRUE(file.Append(std::string(R"({"outcome":"finished","started":"s","slot":")") + row.name + "\"}", error))
        << row.name << ": " << error;
    EXPECT_EQ(lines(path), row.atPath) << row.name;
  }
  EXPECT_EQ(lines(path + ".1"), std::vector<std::string>{"first"});

  // A path that cannot be made again: the record is refused with the reason, and the slot stops on it.
  std::filesystem::remove_all(dir);
  EXPECT_FALSE(file.Append(R"({"slot":"lost","outcome":"finished","started":"s"})", error));
  EXPECT_NE(error.find("r.jsonl: No such file or directory (it was moved or deleted, and cannot be made again)"),
            std::string::npos)
      << error;
}

// Each line that is no record is left out with its own fault named; the records around it are read.
TEST(RecordsTest, EachUnreadableLineIsNamedForWhatItIs) {
  const std::string good = R"({"slot":"s1","outcome":"finished","started":"2026-01-01T00:00:00Z"})";
  struct Row {
    std::string line;
    std::string fault;
  };
  const std::vector<Row> rows = {
      {R"({"slot":"s1","outcome":"finis)", "a record cut short (the station stopped while writing it?)"},
      {"#!garbage {", "not JSON (at character 1): no record"},
      {R"({"slot":"s1"} tail)", "not JSON (at character 16): no record"},
      {"[1,2]", "JSON array, not a record"},
      {R"({"name":"build 7","status":"ok"})",
       "a JSON object without \"slot\": not a station record (another program's?)"},
      {R"({"slot":"s1","outcome":"finished","started":12345})", "field \"started\" is number, where a text belongs"},
      {R"({"slot":"s1","outcome":"finished","started":"t","blocks_written":"486"})",
       "field \"blocks_written\" is string, where a number belongs"},
      {R"({"slot":"s1","outcome":"finished","started":"t","images":{}})",
       "field \"images\" is object, where a list belongs"},
  };
  std::string text;
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    text += good + "\n" + rows[i].line + "\n";
    expected.push_back("f: line " + std::to_string(2 * i + 2) + ": " + rows[i].fault + "; left out");
  }
  RecordsRead read;
  ParseRecords(text + std::string(2'000'000, 'x') + "\n" + good, "f", read);
  expected.push_back("f: line " + std::to_string(2 * rows.size() + 1) +
                     ": longer than 1048576 bytes: no record; left out");
  EXPECT_EQ(read.warnings, expected);
  EXPECT_EQ(read.records.size(), rows.size() + 1);

  const std::string folder = std::filesystem::temp_directory_path().string();
  std::string error;
  EXPECT_FALSE(ReadRecordsFile(folder, read, error));
  EXPECT_EQ(error, folder + ": a folder, not a records file");
}

// A filter no record can match is refused, with what is taken; what exists is taken.
TEST(RecordsTest, FiltersThatCannotMatchAreRefused) {
  struct Row {
    std::string since;
    std::string until;
    std::string outcome;
    std::string refusal;  // the start of the message; empty: taken
  };
  const std::vector<Row> rows = {
      {"2026-13-01", "", "", "--since '2026-13-01': not a time; write a date and time that exist"},
      {"", "2026-02-30", "", "--until '2026-02-30': not a time"},
      {"2025-02-29", "", "", "--since '2025-02-29': not a time"},
      {"2026-01-01T24", "", "", "--since '2026-01-01T24': not a time"},
      {"2026-01-01T23:60", "", "", "--since '2026-01-01T23:60': not a time"},
      {"", "", "finshed",
       "--outcome 'finshed': no record has that outcome; one of: finished, open_failed, no_boot_loader, "
       "program_unknown, device_error, link_failure, interrupted, internal_error"},
      {"2024-02-29T23:59:59Z", "2026-12-31", "link_failure", ""},
  };
  for (const Row& row : rows) {
    RecordFilter filter;
    const std::string refusal = MakeFilter(row.since, row.until, row.outcome, "", "", filter);
    EXPECT_TRUE(refusal.starts_with(row.refusal) && refusal.empty() == row.refusal.empty())
        << row.since << row.until << row.outcome << ": " << refusal;
  }
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
  EXPECT_EQ(RecordsJson(records), nlohmann::ordered_json(records).dump(2) + "\n");
  EXPECT_EQ(RecordsJson({}), "[]\n");
  EXPECT_EQ(RecordsSummary(records),
            "units: 4, finished: 1, failed: 3\n"
            "  2 x 0012 : Errors\n"
            "  1 x      -11 : When sending the command, ACK reception timeout\n"
            "first: 2025-03-04T08:00:01.000Z, last: 2025-03-05T07:00:02.000Z\n");
}

}  // namespace
}  // namespace fwu::station
