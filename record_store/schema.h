#pragma once

#include <string>

#include "record_store/connection.h"

namespace fwu::record_store {

// The schema this program reads and writes; `db migrate` brings a database to it.
int SchemaVersion();

// The database's schema version: 0 when it has none yet; -1 with the reason when it cannot be read.
int DatabaseSchemaVersion(Connection& connection, std::string& reason);

// Whether a station can store its records there: false with the reason and what to do when the schema is missing,
// older (`fwupdate-cli db migrate` as the schema's owner) or newer (this program is older than the database).
bool SchemaUsable(Connection& connection, std::string& reason);

// Applies the migrations the database lacks, in order, each in one transaction; two at once wait for each other.
// The version before and after; false with the reason (the failed migration changed nothing).
bool Migrate(Connection& connection, int& before, int& after, std::string& reason);

}  // namespace fwu::record_store
