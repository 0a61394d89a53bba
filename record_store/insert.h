#pragma once

#include <cstdint>
#include <string>

#include "record_store/connection.h"

namespace fwu::record_store {

// Stores the records of a JSON array (objects, each with its "record_id") in one statement: all or none. A record
// whose id is already there is left as it was, so sending again is harmless. The number newly stored; -1 with
// the reason.
std::int64_t InsertRecords(Connection& connection, const std::string& jsonArray, std::string& reason);

}  // namespace fwu::record_store
