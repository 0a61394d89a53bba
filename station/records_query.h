#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
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

// The time in a filter's form without its "Z", or nothing when it is not one.
std::optional<std::string> FilterTime(const std::string& text);

bool Matches(const nlohmann::ordered_json& record, const RecordFilter& filter);

// The records as a table for a person, as CSV for a spreadsheet (a header line, every field of the record, RFC
// 4180 quoting) and as a JSON array.
std::string RecordsTable(const std::vector<nlohmann::ordered_json>& records);
std::string RecordsCsv(const std::vector<nlohmann::ordered_json>& records);
std::string RecordsJson(const std::vector<nlohmann::ordered_json>& records);

// units, finished, failed, each failure message with its count (most frequent first), first and last time.
std::string RecordsSummary(const std::vector<nlohmann::ordered_json>& records);

// What the summary says, counted from records or by a database.
struct RecordsTally {
  std::size_t units = 0;
  std::size_t finished = 0;
  std::map<std::string, std::size_t> failures;  // by message
  std::string first;                            // the earliest start
  std::string last;                             // the latest end (or start)
};
std::string SummaryText(const RecordsTally& tally);

}  // namespace fwu::station
