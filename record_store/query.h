#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "record_store/connection.h"

namespace fwu::record_store {

// Which records to read, as `records` takes them: times in UTC as far as wanted ("2025-03-04", "2025-03-04T13",
// "2025-03-04T13:05", "2025-03-04T13:05:09"; until takes in the whole of what it names); empty means any.
struct RecordQuery {
  std::string since;
  std::string until;
  std::string outcome;
  std::string slot;
  std::string lot;
  std::string station;
};

// Why a query failed; refused: the server could not read a filter's value (a time that does not exist).
struct QueryFailure {
  std::string reason;
  bool refused = false;
};

// The matching records, oldest start first (then in the order they arrived), one at a time as the JSON the
// station wrote: the server sorts and filters, and rows come one by one, so memory does not grow with their number.
bool StreamRecords(Connection& connection, const RecordQuery& query,
                   const std::function<void(const std::string& record)>& each, QueryFailure& failure);

// What a summary of the matching records needs, counted by the server.
struct RecordCounts {
  std::uint64_t units = 0;
  std::uint64_t finished = 0;
  std::vector<std::pair<std::string, std::uint64_t>> failures;  // message, count
  std::string first;                                            // the earliest start, "2025-03-04T13:05:09Z"
  std::string last;                                             // the latest end (or start)
};
bool CountRecords(Connection& connection, const RecordQuery& query, RecordCounts& counts, QueryFailure& failure);

}  // namespace fwu::record_store
