#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "station/append_file.h"

namespace fwu::station {

// The station's records: one JSON object per line, appended one record at a time and put on the disk before the
// slot shows its result, so that a crash or a power loss loses at most the updates in flight. Shared by the
// slots; each append is whole.
class RecordsFile {
 public:
  // Opens (creates) the file. A last line that a crash cut short is closed with a line end first: the next
  // record starts a line of its own, and the torn piece stays a line that readers leave out.
  bool Open(const std::string& path, std::string& error);
  // Appends one record (one line of JSON, without its line end), synced; false with the reason.
  bool Append(const std::string& record, std::string& error);

 private:
  std::mutex mutex_;
  AppendFile file_;
  std::string path_;
  bool lineOpen_ = false;  // the file does not end with a line end: a write was cut short
};

struct RecordsRead {
  std::vector<nlohmann::ordered_json> records;
  std::vector<std::string> warnings;  // "FILE: line N: ...", one per line left out
};

// Every whole record of the text; a line that is no JSON object (cut by a crash) is left out with a warning.
void ParseRecords(std::string_view text, const std::string& name, RecordsRead& read);
// The same for a file; false with the reason when it cannot be read.
bool ReadRecordsFile(const std::string& path, RecordsRead& read, std::string& error);

}  // namespace fwu::station
