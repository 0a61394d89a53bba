#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/station_command.h"
#include "station/records_query.h"

namespace fwu::cli {

// A station's link to the record store: a sender, off the slots' threads, that ships the records file's records
// the database does not have yet.
class DatabaseLink {
 public:
  virtual ~DatabaseLink() = default;
  // A record was appended to the records file: never waits for the database.
  virtual void RecordWritten() = 0;
  // "12 records waiting for the database since 10:03: connection refused"; empty while all goes well.
  [[nodiscard]] virtual std::string Note() const = 0;
};

// Whether --db CONNINFO can be used; when not, says why on standard error (a password written into it; a build
// without the database client).
bool DatabaseOptionTaken(const std::string& conninfo);

// Starts sending the records of recordsPath; changed gets the note each time its reason changes.
std::unique_ptr<DatabaseLink> StartDatabaseLink(const std::string& conninfo, const std::string& recordsPath,
                                                std::function<void(const std::string& note)> changed);

// `db migrate`, `db import FILE...`, and `records --db`: exit statuses as kDbStatuses says.
int RunDbMigrate(const std::string& conninfo);
int RunDbImport(const std::string& conninfo, const std::vector<std::string>& files);
int RunRecordsFromDatabase(const RecordsOptions& options, const station::RecordFilter& filter);

// `update --db`: the run's records, each with its record id, stored at the end; false (said on standard error)
// when they could not be.
bool StoreUpdateRecords(const std::string& conninfo, const std::vector<std::string>& records);

inline constexpr char kDbStatuses[] = R"(
Exit status:
  0    done
  1    the database could not be reached, refused the login, or its schema does not fit (the reason is shown)
  2    bad command line: a password written into CONNINFO, a filter the database cannot read, a file that
       cannot be read)";

}  // namespace fwu::cli
