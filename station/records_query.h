#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace fwu::station {

// Which records to show. Times are UTC, written as the records write them, as far as wanted: "2025-03-04",
// "2025-03-04T13", "2025-03-04T13:05", "2025-03-04T13:05:09", with or without a closing "Z".
struct RecordFilter {
  std::string since;  // started at or after; empty: from the first
  std::string until;  // started at or before (a date alone takes in that whole day); empty: to the last
  std::string outcome;
  std::string slot;
  std::string lot;
};

// The time in a filter's form without its "Z", or nothing when it is not one (a date that does not exist, such as
// 2026-02-30, is none).
std::optional<std::string> FilterTime(const std::string& text);

// The outcomes a record can have, as the station writes them.
const std::vector<std::string_view>& OutcomeNames();

// The filter of a command line: empty when every value is one a record can match, otherwise what is wrong and
// what would be taken ("--outcome 'finshed': no record has that outcome; one of: finished, ...").
std::string MakeFilter(const std::string& since, const std::string& until, const std::string& outcome,
                       const std::string& slot, const std::string& lot, RecordFilter& filter);

bool Matches(const nlohmann::ordered_json& record, const RecordFilter& filter);

// What the summary says, counted from records or by a database.
struct RecordsTally {
  std::size_t units = 0;
  std::size_t finished = 0;
  std::map<std::string, std::size_t> failures;  // by message
  std::string first;                            // the earliest start
  std::string last;                             // the latest end (or start)
};
std::string SummaryText(const RecordsTally& tally);

enum class RecordsFormat { Table, Csv, Json };

// The chosen records as they come, a file at a time, kept only in the form they are printed in: what the report
// holds is about the size of its output, whatever the size of the files read. The summary is counted as they
// come.
class RecordsReport {
 public:
  explicit RecordsReport(RecordsFormat format) : format_(format) {}
  void Add(const nlohmann::ordered_json& record);
  // The records sorted by their start (those that start together in the order they came): a table, CSV with its
  // header, or a JSON array.
  [[nodiscard]] std::string Output();
  // The same, handed to write a piece at a time, so that it is not held whole in memory a second time.
  void Write(const std::function<void(std::string_view)>& write);
  // units, finished, failed, each failure message with its count (most frequent first), first and last time.
  [[nodiscard]] std::string Summary() const;

 private:
  struct Row {
    std::string text;  // the record's start, then its output: cells apart by NUL for the table
    std::size_t keyLength;
  };
  void WriteTable(const std::function<void(std::string_view)>& write) const;

  RecordsFormat format_;
  std::vector<Row> rows_;
  RecordsTally tally_;
};

// The records as a table for a person, as CSV for a spreadsheet (a header line, every field of the record, RFC
// 4180 quoting) and as a JSON array.
std::string RecordsTable(const std::vector<nlohmann::ordered_json>& records);
std::string RecordsCsv(const std::vector<nlohmann::ordered_json>& records);
std::string RecordsJson(const std::vector<nlohmann::ordered_json>& records);

std::string RecordsSummary(const std::vector<nlohmann::ordered_json>& records);

}  // namespace fwu::station
