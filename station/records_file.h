#pragma once

#include <functional>
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
  // Appends one record (one line of JSON, without its line end), synced, to the file at the path now (opened
  // again when it was moved, replaced or deleted); false with the reason.
  bool Append(const std::string& record, std::string& error);

 private:
  bool Reopen(std::string& error);

  std::mutex mutex_;
  AppendFile file_;
  std::string path_;
  bool lineOpen_ = false;  // the file does not end with a line end: a write was cut short
};

struct RecordsRead {
  std::vector<nlohmann::ordered_json> records;
  std::vector<std::string> warnings;  // "FILE: line N: ...", one per line left out
};

// What a reader is told of each line of a records file: a whole record, or why the line was left out.
struct RecordSink {
  std::function<void(nlohmann::ordered_json&& record)> record;
  std::function<void(std::string&& warning)> warning;  // "FILE: line N: <its fault>; left out"
};

// Why one line is no station record, or empty when it is one (then in record): a record cut short (the station
// stopped while writing it), no JSON at all (garbage), JSON that is no object, another program's object (no
// "slot" or "outcome"), a field of the wrong type (named).
std::string LineFault(std::string_view line, nlohmann::ordered_json& record);

// Every whole record of the text; each line that is none is left out with a warning naming its fault.
void ParseRecords(std::string_view text, const std::string& name, RecordsRead& read);
// A records file read a line at a time, each line given to sink as it comes: memory for one line, whatever the
// file's size. False with the reason when the file cannot be read (missing, a folder, a read error).
bool StreamRecordsFile(const std::string& path, const RecordSink& sink, std::string& error);
// The whole file into read.
bool ReadRecordsFile(const std::string& path, RecordsRead& read, std::string& error);

}  // namespace fwu::station
