#include "record_store/schema.h"

#include <array>
#include <string_view>

namespace fwu::record_store {

namespace {

// The migrations, numbered from 1; a released one is never changed, only followed by the next.
constexpr std::array<std::string_view, 1> kMigrations{
    // 1: the records, a column for each field that is queried, and the whole record as sent.
    R"sql(
CREATE TABLE record_store_schema (
  version integer PRIMARY KEY,
  applied timestamptz NOT NULL DEFAULT now()
);
-- A record's field that is not what it should be (a hand-edited file) is stored as NULL in its column, never a
-- reason to refuse the record: the whole record is in the jsonb all the same.
CREATE FUNCTION record_time(value text) RETURNS timestamptz LANGUAGE plpgsql STABLE AS $$
BEGIN
  RETURN value::timestamptz;
EXCEPTION WHEN others THEN
  RETURN NULL;
END $$;
CREATE FUNCTION record_integer(value text) RETURNS integer LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  RETURN value::integer;
EXCEPTION WHEN others THEN
  RETURN NULL;
END $$;
CREATE TABLE records (
  record_id uuid PRIMARY KEY,
  arrival bigint GENERATED ALWAYS AS IDENTITY,
  started timestamptz,
  ended timestamptz,
  station text,
  slot text,
  port text,
  operator text,
  lot text,
  outcome text,
  message text,
  device_status integer,
  controller_version text,
  carried_version text,
  program_version text,
  main_sha256 text,
  second_sha256 text,
  usb_serial text,
  record jsonb NOT NULL,
  received timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX records_started ON records (started, arrival);
CREATE INDEX records_station ON records (station, started, arrival);
CREATE INDEX records_lot ON records (lot, started, arrival);
CREATE INDEX records_outcome ON records (outcome, started, arrival);
CREATE INDEX records_slot ON records (slot, started, arrival);
CREATE INDEX records_usb_serial ON records (usb_serial, started) WHERE usb_serial IS NOT NULL;
CREATE INDEX records_device_status ON records (device_status, started) WHERE device_status IS NOT NULL;
)sql",
};

// Any number, the same in every program: migrations of two owners at once take turns.
constexpr char kMigrationLock[] = "SELECT pg_advisory_xact_lock(4163702529)";

int VersionInTable(Connection& connection, std::string& reason) {
  const Result result = connection.Run("SELECT coalesce(max(version), 0) FROM record_store_schema", {}, reason);
  return result ? std::stoi(PQgetvalue(result.get(), 0, 0)) : -1;
}

}  // namespace

int SchemaVersion() {
  return static_cast<int>(kMigrations.size());
}

int DatabaseSchemaVersion(Connection& connection, std::string& reason) {
  const Result exists = connection.Run("SELECT to_regclass('record_store_schema') IS NOT NULL", {}, reason);
  if (!exists) {
    return -1;
  }
  if (std::string_view(PQgetvalue(exists.get(), 0, 0)) != "t") {
    return 0;
  }
  return VersionInTable(connection, reason);
}

bool SchemaUsable(Connection& connection, std::string& reason) {
  const int version = DatabaseSchemaVersion(connection, reason);
  if (version < 0) {
    return false;
  }
  const std::string ours = std::to_string(SchemaVersion());
  if (version == 0) {
    reason = "the database has no records table yet: its owner runs 'fwupdate-cli db migrate --db CONNINFO'";
    return false;
  }
  if (version < SchemaVersion()) {
    reason = "the database's schema is version " + std::to_string(version) + ", this program writes version " + ours +
             ": its owner runs 'fwupdate-cli db migrate --db CONNINFO'";
    return false;
  }
  if (version > SchemaVersion()) {
    reason = "the database's schema is version " + std::to_string(version) + ", newer than this program's " + ours +
             ": install the fwupdate-cli that made it";
    return false;
  }
  return true;
}

bool Migrate(Connection& connection, int& before, int& after, std::string& reason) {
  before = DatabaseSchemaVersion(connection, reason);
  after = before;
  if (before < 0) {
    return false;
  }
  if (before > SchemaVersion()) {
    reason = "the database's schema is version " + std::to_string(before) + ", newer than this program's " +
             std::to_string(SchemaVersion()) + ": nothing changed";
    return false;
  }
  for (int version = before + 1; version <= SchemaVersion(); ++version) {
    if (!connection.Execute("BEGIN", reason) || !connection.Execute(kMigrationLock, reason)) {
      return false;
    }
    // Another owner may have applied it while this one waited for the lock.
    const int now = DatabaseSchemaVersion(connection, reason);
    std::string ignored;
    if (now < 0) {
      connection.Execute("ROLLBACK", ignored);
      return false;
    }
    if (now >= version) {
      connection.Execute("ROLLBACK", ignored);
      after = now;
      continue;
    }
    const std::string sql = std::string(kMigrations[static_cast<std::size_t>(version - 1)]) +
                            "\nINSERT INTO record_store_schema (version) VALUES (" + std::to_string(version) + ");";
    if (!connection.Execute(sql, reason)) {
      connection.Execute("ROLLBACK", ignored);
      reason = "migration " + std::to_string(version) + ": " + reason;
      return false;
    }
    if (!connection.Execute("COMMIT", reason)) {
      return false;
    }
    after = version;
  }
  return true;
}

}  // namespace fwu::record_store
