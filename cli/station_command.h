#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace fwu::cli {

struct StationOptions {
  std::vector<std::string> slots;
  ImageFiles images;
  std::string records;  // empty: "<station>-records.jsonl" in the current folder
  std::string station;  // empty: the machine's name
  std::string operatorName;
  std::string lot;
  std::string traceDir;  // empty: no traces
  std::uint32_t maxFailures = 0;
  std::string db;  // "" none: a libpq CONNINFO, the records also sent there
};

// The production station: every slot updates each unit plugged into it once, records it and waits for it to be
// removed, until Ctrl-C.
int RunStationCommand(const StationOptions& options);

struct RecordsOptions {
  std::vector<std::string> files;
  std::string since;
  std::string until;
  std::string outcome;
  std::string slot;
  std::string lot;
  std::string format = "table";  // table, csv, json
  std::string db;                // read from this database (libpq CONNINFO) instead of files
  std::string station;           // with db: only this station
};

// The records of one or more stations, filtered, as a table, CSV or JSON, and a summary.
int RunRecordsCommand(const RecordsOptions& options);

}  // namespace fwu::cli
