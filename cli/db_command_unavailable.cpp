#include <cstdio>

#include "cli/db_command.h"
#include "cli/outcome.h"

// The Windows programs carry no database client (there is no libpq built for MinGW): --db and `db` are refused,
// saying what to do instead.
namespace fwu::cli {

namespace {

constexpr char kNoDatabase[] =
    "fwupdate-cli: this build has no PostgreSQL client (the Windows programs carry none), so --db and 'db' are not "
    "available here; keep the records file, and load it from a Linux machine with 'fwupdate-cli db import --db "
    "CONNINFO FILE', or run the station on Linux with --db\n";

int Refuse() {
  static_cast<void>(std::fputs(kNoDatabase, stderr));
  return kExitUsage;
}

}  // namespace

bool DatabaseOptionTaken(const std::string& /*conninfo*/) {
  Refuse();
  return false;
}

std::unique_ptr<DatabaseLink> StartDatabaseLink(const std::string& /*conninfo*/, const std::string& /*recordsPath*/,
                                                std::function<void(const std::string& note)> /*changed*/) {
  return nullptr;
}

int RunDbMigrate(const std::string& /*conninfo*/) {
  return Refuse();
}

int RunDbImport(const std::string& /*conninfo*/, const std::vector<std::string>& /*files*/) {
  return Refuse();
}

int RunRecordsFromDatabase(const RecordsOptions& /*options*/, const station::RecordFilter& /*filter*/) {
  return Refuse();
}

bool StoreUpdateRecords(const std::string& /*conninfo*/, const std::vector<std::string>& /*records*/) {
  Refuse();
  return false;
}

}  // namespace fwu::cli
