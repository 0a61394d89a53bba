#include "station/records_query.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <string_view>

namespace fwu::station {

namespace {

struct Column {
  std::string_view header;
  std::string_view pointer;  // JSON pointer into the record
};

// Every field of a record, in its order, for the CSV; the images as the station writes them, main then second.
constexpr std::array<Column, 31> kCsvColumns{{
    {"started", "/started"},
    {"ended", "/ended"},
    {"seconds", "/seconds"},
    {"station", "/station"},
    {"operator", "/operator"},
    {"lot", "/lot"},
    {"slot", "/slot"},
    {"port", "/port"},
    {"usb_id", "/usb_id"},
    {"usb_serial", "/usb_serial"},
    {"usb_location", "/usb_location"},
    {"outcome", "/outcome"},
    {"message", "/message"},
    {"reason", "/reason"},
    {"result_code", "/result_code"},
    {"device_status", "/device_status"},
    {"device_status_text", "/device_status_text"},
    {"phase", "/phase"},
    {"block_address", "/block_address"},
    {"block_address_text", "/block_address_text"},
    {"blocks_written", "/blocks_written"},
    {"blocks_skipped", "/blocks_skipped"},
    {"controller_version", "/controller_version"},
    {"carried_version", "/carried_version"},
    {"program_version", "/program_version"},
    {"program_commit", "/program_commit"},
    {"main_source", "/images/0/source"},
    {"main_sha256", "/images/0/sha256"},
    {"second_source", "/images/1/source"},
    {"second_sha256", "/images/1/sha256"},
    {"trace", "/trace"},
}};

// The few a person reads first, for the table.
constexpr std::array<Column, 7> kTableColumns{{
    {"started", "/started"},
    {"slot", "/slot"},
    {"outcome", "/outcome"},
    {"seconds", "/seconds"},
    {"blocks", "/blocks_written"},
    {"version before", "/controller_version"},
    {"message", "/message"},
}};

// A field as text: a string as it is, a number as JSON writes it, null or missing as nothing.
std::string Field(const nlohmann::ordered_json& record, std::string_view pointer) {
  const nlohmann::ordered_json::json_pointer at{std::string(pointer)};
  if (!record.contains(at)) {
    return {};
  }
  const nlohmann::ordered_json& value = record.at(at);
  if (value.is_null()) {
    return {};
  }
  return value.is_string() ? value.get<std::string>()
                           : value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// Control bytes (a controller's version text may carry any) shown as "\xNN" in the table.
std::string ForTable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      constexpr std::string_view kHex = "0123456789ABCDEF";
      shown += "\\x";
      shown += kHex[byte >> 4U];
      shown += kHex[byte & 0xFU];
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (const char c : text) {
    quoted += c;
    if (c == '"') {
      quoted += '"';
    }
  }
  return quoted + "\"";
}

// The first length characters of the record's start, without its "Z", to set against a filter's time.
std::string StartedAsLong(const nlohmann::ordered_json& record, std::size_t length) {
  std::string started = Field(record, "/started");
  if (started.ends_with('Z')) {
    started.pop_back();
  }
  return started.substr(0, length);
}

}  // namespace

std::optional<std::string> FilterTime(const std::string& text) {
  std::string time = text;
  if (time.ends_with('Z') || time.ends_with('z')) {
    time.pop_back();
  }
  // YYYY-MM-DD, then THH, :MM, :SS, each optional in turn.
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd";
  constexpr std::array<std::size_t, 4> kLengths{10, 13, 16, 19};
  if (std::ranges::find(kLengths, time.size()) == kLengths.end()) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < time.size(); ++i) {
    const bool digitWanted = kShape[i] == 'd';
    const bool fits = digitWanted ? std::isdigit(static_cast<unsigned char>(time[i])) != 0
                                  : std::toupper(static_cast<unsigned char>(time[i])) == kShape[i];
    if (!fits) {
      return std::nullopt;
    }
  }
  if (time.size() > 10) {
    time[10] = 'T';
  }
  return time;
}

bool Matches(const nlohmann::ordered_json& record, const RecordFilter& filter) {
  if (!filter.since.empty() && StartedAsLong(record, filter.since.size()) < filter.since) {
    return false;
  }
  if (!filter.until.empty() && StartedAsLong(record, filter.until.size()) > filter.until) {
    return false;
  }
  return (filter.outcome.empty() || Field(record, "/outcome") == filter.outcome) &&
         (filter.slot.empty() || Field(record, "/slot") == filter.slot) &&
         (filter.lot.empty() || Field(record, "/lot") == filter.lot);
}

std::string RecordsTable(const std::vector<nlohmann::ordered_json>& records) {
  std::vector<std::vector<std::string>> rows;
  rows.emplace_back();
  for (const Column& column : kTableColumns) {
    rows.back().emplace_back(column.header);
  }
  for (const auto& record : records) {
    rows.emplace_back();
    for (const Column& column : kTableColumns) {
      rows.back().push_back(ForTable(Field(record, column.pointer)));
    }
  }
  std::array<std::size_t, kTableColumns.size()> widths{};
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) {
        line += std::string(widths[i] - row[i].size() + 2, ' ');
      }
    }
    table += line + "\n";
  }
  return table;
}

std::string RecordsCsv(const std::vector<nlohmann::ordered_json>& records) {
  std::string csv;
  for (std::size_t i = 0; i < kCsvColumns.size(); ++i) {
    csv += std::string(i == 0 ? "" : ",") + std::string(kCsvColumns[i].header);
  }
  csv += "\r\n";
  for (const auto& record : records) {
    for (std::size_t i = 0; i < kCsvColumns.size(); ++i) {
      csv += std::string(i == 0 ? "" : ",") + CsvField(Field(record, kCsvColumns[i].pointer));
    }
    csv += "\r\n";
  }
  return csv;
}

std::string RecordsJson(const std::vector<nlohmann::ordered_json>& records) {
  constexpr int kIndent = 2;
  return nlohmann::ordered_json(records).dump(kIndent, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
         "\n";
}

std::string RecordsSummary(const std::vector<nlohmann::ordered_json>& records) {
  RecordsTally tally;
  for (const auto& record : records) {
    ++tally.units;
    if (Field(record, "/outcome") == "finished") {
      ++tally.finished;
    } else {
      ++tally.failures[Field(record, "/message")];
    }
    const std::string started = Field(record, "/started");
    const std::string ended = Field(record, "/ended");
    tally.first = tally.first.empty() || (!started.empty() && started < tally.first) ? started : tally.first;
    tally.last = std::max(tally.last, ended.empty() ? started : ended);
  }
  return SummaryText(tally);
}

std::string SummaryText(const RecordsTally& tally) {
  std::string summary = "units: " + std::to_string(tally.units) + ", finished: " + std::to_string(tally.finished) +
                        ", failed: " + std::to_string(tally.units - tally.finished) + "\n";
  std::map<std::string, std::size_t> shown;
  for (const auto& [message, count] : tally.failures) {
    shown[ForTable(message)] += count;
  }
  std::vector<std::pair<std::string, std::size_t>> byCount(shown.begin(), shown.end());
  std::ranges::stable_sort(byCount, [](const auto& a, const auto& b) { return a.second > b.second; });
  for (const auto& [message, count] : byCount) {
    summary += "  " + std::to_string(count) + " x " + message + "\n";
  }
  if (tally.units != 0) {
    summary += "first: " + tally.first + ", last: " + tally.last + "\n";
  }
  return summary;
}

}  // namespace fwu::station
