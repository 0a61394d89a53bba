#include "station/records_file.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fwu::station {

namespace {

// A record that keeps landing in a file deleted under it is given up after this many writes.
constexpr int kAppendTries = 3;

// Whether the file exists and its last byte is not a line end.
bool EndsInsideALine(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file || file.tellg() <= 0) {
    return false;
  }
  file.seekg(-1, std::ios::end);
  return file.get() != '\n';
}

// A record is a few kilobytes; a longer line is no record, and is not kept whole to be told so.
constexpr std::size_t kLongestLine = 1U << 20U;
constexpr std::size_t kReadChunk = 64U * 1024U;

// What makes a line a station record at all.
constexpr std::array<const char*, 2> kRequiredFields{"slot", "outcome"};

enum class Kind : std::uint8_t { Text, Number, List };

struct FieldType {
  std::string_view name;
  Kind kind;  // null is taken for each, as the station writes null where it knows nothing
};

// The fields the readers use, with the type the station writes.
constexpr std::array<FieldType, 28> kFieldTypes{{
    {"slot", Kind::Text},
    {"port", Kind::Text},
    {"usb_id", Kind::Text},
    {"usb_serial", Kind::Text},
    {"usb_location", Kind::Text},
    {"station", Kind::Text},
    {"operator", Kind::Text},
    {"lot", Kind::Text},
    {"outcome", Kind::Text},
    {"message", Kind::Text},
    {"reason", Kind::Text},
    {"result_code", Kind::Number},
    {"device_status", Kind::Number},
    {"device_status_text", Kind::Text},
    {"phase", Kind::Text},
    {"block_address", Kind::Number},
    {"block_address_text", Kind::Text},
    {"blocks_written", Kind::Number},
    {"blocks_skipped", Kind::Number},
    {"controller_version", Kind::Text},
    {"carried_version", Kind::Text},
    {"started", Kind::Text},
    {"ended", Kind::Text},
    {"seconds", Kind::Number},
    {"program_version", Kind::Text},
    {"program_commit", Kind::Text},
    {"images", Kind::List},
    {"trace", Kind::Text},
}};

bool Fits(const nlohmann::ordered_json& value, Kind kind) {
  switch (kind) {
    case Kind::Text:
      return value.is_string();
    case Kind::Number:
      return value.is_number();
    case Kind::List:
      return value.is_array();
  }
  return false;
}

const char* KindText(Kind kind) {
  switch (kind) {
    case Kind::Text:
      return "a text";
    case Kind::Number:
      return "a number";
    case Kind::List:
      return "a list";
  }
  return "";
}

// Where a line's JSON first goes wrong: a SAX reader that keeps nothing but that place.
struct FirstSyntaxError : nlohmann::json_sax<nlohmann::ordered_json> {
  std::size_t at = 0;  // the first character of the token that went wrong, counted from 1
  bool atEnd = false;  // the text ended inside the JSON
  bool null() override { return true; }
  bool boolean(bool /*value*/) override { return true; }
  bool number_integer(number_integer_t /*value*/) override { return true; }
  bool number_unsigned(number_unsigned_t /*value*/) override { return true; }
  bool number_float(number_float_t /*value*/, const string_t& /*text*/) override { return true; }
  bool string(string_t& /*value*/) override { return true; }
  bool binary(binary_t& /*value*/) override { return true; }
  bool start_object(std::size_t /*elements*/) override { return true; }
  bool key(string_t& /*value*/) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t /*elements*/) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t position, const std::string& /*token*/,
                   const nlohmann::detail::exception& /*error*/) override {
    at = position;
    atEnd = position > length;
    return false;
  }
  std::size_t length = 0;
};

RecordSink CollectInto(RecordsRead& read) {
  return {[&read](nlohmann::ordered_json&& record) { read.records.push_back(std::move(record)); },
          [&read](std::string&& warning) { read.warnings.push_back(std::move(warning)); }};
}

// Cuts what is read into lines, however it comes in pieces, and hands each to the sink judged.
class LineSplitter {
 public:
  LineSplitter(const std::string& name, const RecordSink& sink) : name_(name), sink_(sink) {}

  void Take(std::string_view text) {
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      const std::string_view piece = text.substr(0, end);
      if (line_.size() + piece.size() <= kLongestLine) {
        line_.append(piece);
      } else {
        tooLong_ = true;
      }
      if (end == std::string_view::npos) {
        return;
      }
      text.remove_prefix(end + 1);
      Judge();
    }
  }

  // The last line, if the file does not end with a line end.
  void End() {
    if (!line_.empty() || tooLong_) {
      Judge();
    }
  }

 private:
  void Judge() {
    ++number_;
    std::string_view line = line_;
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    std::string fault;
    nlohmann::ordered_json record;
    if (tooLong_) {
      fault = "longer than " + std::to_string(kLongestLine) + " bytes: no record";
    } else if (line.find_first_not_of(" \t") != std::string_view::npos) {
      fault = LineFault(line, record);
      if (fault.empty()) {
        sink_.record(std::move(record));
      }
    }
    if (!fault.empty()) {
      sink_.warning(name_ + ": line " + std::to_string(number_) + ": " + fault + "; left out");
    }
    line_.clear();
    tooLong_ = false;
  }

  const std::string& name_;
  const RecordSink& sink_;
  std::string line_;
  bool tooLong_ = false;
  std::size_t number_ = 0;
};

}  // namespace

bool RecordsFile::Open(const std::string& path, std::string& error) {
  path_ = path;
  lineOpen_ = EndsInsideALine(path);
  return file_.Open(path, error);
}

bool RecordsFile::Append(const std::string& record, std::string& error) {
  const std::lock_guard lock(mutex_);
  // Each record goes to the file at the path, as every reader of the path finds it: a file moved away by log
  // rotation, replaced or deleted is left, and the path opened (made) again. A record that went to a file deleted
  // while it was written is written again; one that went to a file moved away meanwhile stays there, in the
  // rotated file, once.
  for (int tries = 0; tries < kAppendTries; ++tries) {
    if (!file_.AtPath() && !Reopen(error)) {
      return false;
    }
    std::string line = lineOpen_ ? "\n" : "";
    line += record;
    line += '\n';
    if (!file_.AppendAndSync(line, error)) {
      error = path_ + ": " + error;
      // Part of the line may be in the file: the next record must not be glued to it.
      lineOpen_ = true;
      return false;
    }
    lineOpen_ = false;
    if (!file_.Deleted()) {
      return true;
    }
  }
  error = path_ + ": deleted each time a record was written to it";
  return false;
}

bool RecordsFile::Reopen(std::string& error) {
  if (!file_.Open(path_, error)) {
    error += " (it was moved or deleted, and cannot be made again)";
    return false;
  }
  lineOpen_ = EndsInsideALine(path_);
  return true;
}

std::string LineFault(std::string_view line, nlohmann::ordered_json& record) {
  record = nlohmann::ordered_json::parse(line, nullptr, false);
  if (record.is_discarded()) {
    FirstSyntaxError error;
    error.length = line.size();
    nlohmann::ordered_json::sax_parse(line, &error);
    // A record the station was writing when it stopped is its beginning: valid JSON up to where it ends.
    if (error.atEnd) {
      return "a record cut short (the station stopped while writing it?)";
    }
    return "not JSON (at character " + std::to_string(error.at) + "): no record";
  }
  if (!record.is_object()) {
    return std::string("JSON ") + record.type_name() + ", not a record";
  }
  for (const char* key : kRequiredFields) {
    if (!record.contains(key)) {
      return std::string("a JSON object without \"") + key + "\": not a station record (another program's?)";
    }
  }
  for (const FieldType& field : kFieldTypes) {
    const auto value = record.find(field.name);
    if (value == record.end() || value->is_null() || Fits(*value, field.kind)) {
      continue;
    }
    return std::string("field \"") + std::string(field.name) + "\" is " + value->type_name() + ", where " +
           KindText(field.kind) + " belongs";
  }
  return {};
}

void ParseRecords(std::string_view text, const std::string& name, RecordsRead& read) {
  const RecordSink sink = CollectInto(read);
  LineSplitter lines(name, sink);
  lines.Take(text);
  lines.End();
}

bool StreamRecordsFile(const std::string& path, const RecordSink& sink, std::string& error) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    error = path + ": a folder, not a records file";
    return false;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  LineSplitter lines(path, sink);
  std::vector<char> buffer(kReadChunk);
  while (true) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
    if (got == 0) {
      break;
    }
    lines.Take(std::string_view(buffer.data(), got));
  }
  if (std::ferror(file.get()) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  lines.End();
  return true;
}

bool ReadRecordsFile(const std::string& path, RecordsRead& read, std::string& error) {
  return StreamRecordsFile(path, CollectInto(read), error);
}

}  // namespace fwu::station
