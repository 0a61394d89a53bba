#include "station/records_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace fwu::station {

namespace {

// Whether the file exists and its last byte is not a line end.
bool EndsInsideALine(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file || file.tellg() <= 0) {
    return false;
  }
  file.seekg(-1, std::ios::end);
  return file.get() != '\n';
}

}  // namespace

bool RecordsFile::Open(const std::string& path, std::string& error) {
  path_ = path;
  lineOpen_ = EndsInsideALine(path);
  return file_.Open(path, error);
}

bool RecordsFile::Append(const std::string& record, std::string& error) {
  const std::lock_guard lock(mutex_);
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
  return true;
}

void ParseRecords(std::string_view text, const std::string& name, RecordsRead& read) {
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
      continue;
    }
    nlohmann::ordered_json record = nlohmann::ordered_json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object()) {
      read.warnings.push_back(name + ": line " + std::to_string(lineNumber) +
                              ": not a whole record (cut short when the station stopped?); left out");
      continue;
    }
    read.records.push_back(std::move(record));
  }
}

bool ReadRecordsFile(const std::string& path, RecordsRead& read, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ParseRecords(text, path, read);
  return true;
}

}  // namespace fwu::station
