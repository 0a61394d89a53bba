#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace fwu::record_store {

// A new record's id: a random UUID (version 4), "0b6c3f9e-5d1a-4e2b-9c47-1f0a2b3c4d5e". The key of the record in
// the database, so that a record sent twice is stored once.
std::string NewRecordId();

// The id of a record written before records carried one: a name-based UUID (version 8, from the SHA-256 of the
// record as one compact line), so that importing the same old file again finds the same ids.
std::string DerivedRecordId(const nlohmann::ordered_json& record);

// Whether text is a UUID in its usual 8-4-4-4-12 hex form.
bool IsRecordId(std::string_view text);

// The record's own "record_id" when it holds a UUID; otherwise the derived one.
std::string RecordIdOf(const nlohmann::ordered_json& record);

}  // namespace fwu::record_store
