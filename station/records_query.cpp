#include "station/records_query.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <string_view>
#include <tuple>
#include <utility>

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

// Whether a time of the filter's shape names one that exists: a month of the year, a day of that month (29
// February in leap years only), an hour of the day, a minute and a second.
bool RealTime(const std::string& time) {
  const auto number = [&](std::size_t at, std::size_t digits) { return std::stoi(time.substr(at, digits)); };
  const int year = number(0, 4);
  const int month = number(5, 2);
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) {
    return false;
  }
  const int days = kDays[static_cast<std::size_t>(month - 1)] + (month == 2 && leap ? 1 : 0);
  const int day = number(8, 2);
  constexpr std::array<std::pair<std::size_t, int>, 3> kClock{{{11, 23}, {14, 59}, {17, 59}}};
  return day >= 1 && day <= days && std::ranges::all_of(kClock, [&](const auto& part) {
           return time.size() <= part.first || number(part.first, 2) <= part.second;
         });
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
  if (!RealTime(time)) {
    return std::nullopt;
  }
  return time;
}

const std::vector<std::string_view>& OutcomeNames() {
  static const std::vector<std::string_view> names = {"finished",        "open_failed",   "no_boot_loader",
                                                      "program_unknown", "device_error",  "link_failure",
                                                      "interrupted",     "internal_error"};
  return names;
}

std::string MakeFilter(const std::string& since, const std::string& until, const std::string& outcome,
                       const std::string& slot, const std::string& lot, RecordFilter& filter) {
  filter = {{}, {}, outcome, slot, lot};
  for (const auto& [text, field, name] :
       {std::tuple{&since, &filter.since, "--since"}, std::tuple{&until, &filter.until, "--until"}}) {
    if (text->empty()) {
      continue;
    }
    const auto time = FilterTime(*text);
    if (!time) {
      return std::string(name) + " '" + *text +
             "': not a time; write a date and time that exist, in UTC, as 2025-03-04, 2025-03-04T13, "
             "2025-03-04T13:05 or 2025-03-04T13:05:09";
    }
    *field = *time;
  }
  if (!outcome.empty() && std::ranges::find(OutcomeNames(), outcome) == OutcomeNames().end()) {
    std::string names;
    for (const std::string_view name : OutcomeNames()) {
      names += (names.empty() ? "" : ", ") + std::string(name);
    }
    return "--outcome '" + outcome + "': no record has that outcome; one of: " + names;
  }
  return {};
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

void RecordsReport::Add(const nlohmann::ordered_json& record) {
  const std::string started = Field(record, "/started");
  std::string text = started;
  switch (format_) {
    case RecordsFormat::Table:
      for (const Column& column : kTableColumns) {
        text += '\0';
        text += ForTable(Field(record, column.pointer));
      }
      break;
    case RecordsFormat::Csv:
      for (std::size_t i = 0; i < kCsvColumns.size(); ++i) {
        text += std::string(i == 0 ? "" : ",") + CsvField(Field(record, kCsvColumns[i].pointer));
      }
      text += "\r\n";
      break;
    case RecordsFormat::Json: {
      // As the element of an array dumped with an indent of two: each of its lines two further in.
      constexpr int kIndent = 2;
      const std::string dumped = record.dump(kIndent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
      text += "  ";
      for (const char c : dumped) {
        text += c;
        if (c == '\n') {
          text += "  ";
        }
      }
      break;
    }
  }
  rows_.push_back({std::move(text), started.size()});

  ++tally_.units;
  if (Field(record, "/outcome") == "finished") {
    ++tally_.finished;
  } else {
    ++tally_.failures[Field(record, "/message")];
  }
  const std::string ended = Field(record, "/ended");
  tally_.first = tally_.first.empty() || (!started.empty() && started < tally_.first) ? started : tally_.first;
  tally_.last = std::max(tally_.last, ended.empty() ? started : ended);
}

std::string RecordsReport::Output() {
  std::string output;
  Write([&](std::string_view piece) { output += piece; });
  return output;
}

void RecordsReport::Write(const std::function<void(std::string_view)>& write) {
  const auto key = [](const Row& row) { return std::string_view(row.text).substr(0, row.keyLength); };
  std::ranges::stable_sort(rows_, [&](const Row& a, const Row& b) { return key(a) < key(b); });
  // Row by row: the output is never held a second time beside the rows.
  const auto body = [](const Row& row) { return std::string_view(row.text).substr(row.keyLength); };
  if (format_ == RecordsFormat::Csv) {
    std::string header;
    for (std::size_t i = 0; i < kCsvColumns.size(); ++i) {
      header += std::string(i == 0 ? "" : ",") + std::string(kCsvColumns[i].header);
    }
    write(header + "\r\n");
    for (const Row& row : rows_) {
      write(body(row));
    }
  } else if (format_ == RecordsFormat::Json) {
    if (rows_.empty()) {
      write("[]\n");
      return;
    }
    write("[\n");
    for (const Row& row : rows_) {
      write(body(row));
      write(&row == &rows_.back() ? "\n" : ",\n");
    }
    write("]\n");
  } else {
    WriteTable(write);
  }
}

void RecordsReport::WriteTable(const std::function<void(std::string_view)>& write) const {
  // The cells of a row: what follows each NUL after the start.
  const auto cells = [](const Row& row) {
    std::vector<std::string_view> split;
    std::string_view rest = std::string_view(row.text).substr(row.keyLength);
    while (!rest.empty()) {
      rest.remove_prefix(1);
      const std::size_t end = rest.find('\0');
      split.push_back(rest.substr(0, end));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    split.resize(kTableColumns.size());
    return split;
  };
  std::array<std::size_t, kTableColumns.size()> widths{};
  for (std::size_t i = 0; i < kTableColumns.size(); ++i) {
    widths[i] = kTableColumns[i].header.size();
  }
  for (const Row& row : rows_) {
    const auto split = cells(row);
    for (std::size_t i = 0; i < split.size(); ++i) {
      widths[i] = std::max(widths[i], split[i].size());
    }
  }
  const auto addLine = [&](const std::vector<std::string_view>& line) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
      text += line[i];
      if (i + 1 < line.size()) {
        text.append(widths[i] - line[i].size() + 2, ' ');
      }
    }
    write(text + '\n');
  };
  std::vector<std::string_view> header;
  for (const Column& column : kTableColumns) {
    header.push_back(column.header);
  }
  addLine(header);
  for (const Row& row : rows_) {
    addLine(cells(row));
  }
}

std::string RecordsReport::Summary() const {
  return SummaryText(tally_);
}

std::string SummaryText(const RecordsTally& tally) {
  std::string summary = "units: " + std::to_string(tally.units) + ", finished: " + std::to_string(tally.finished) +
                        ", failed: " + std::to_string(tally.units - tally.finished) + "\n";
  // Messages that read alike once made fit for a table count as one.
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

namespace {

std::string Report(const std::vector<nlohmann::ordered_json>& records, RecordsFormat format, bool summary) {
  RecordsReport report(format);
  for (const auto& record : records) {
    report.Add(record);
  }
  return summary ? report.Summary() : report.Output();
}

}  // namespace

std::string RecordsTable(const std::vector<nlohmann::ordered_json>& records) {
  return Report(records, RecordsFormat::Table, false);
}

std::string RecordsCsv(const std::vector<nlohmann::ordered_json>& records) {
  return Report(records, RecordsFormat::Csv, false);
}

std::string RecordsJson(const std::vector<nlohmann::ordered_json>& records) {
  return Report(records, RecordsFormat::Json, false);
}

std::string RecordsSummary(const std::vector<nlohmann::ordered_json>& records) {
  return Report(records, RecordsFormat::Table, true);
}

}  // namespace fwu::station
