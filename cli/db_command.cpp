#include "cli/db_command.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "cli/outcome.h"
#include "record_store/connection.h"
#include "record_store/conninfo.h"
#include "record_store/insert.h"
#include "record_store/query.h"
#include "record_store/schema.h"
#include "record_store/sender.h"
#include "record_store/spool.h"

namespace fwu::cli {

namespace {

namespace store = fwu::record_store;

// Records read from the database before they are formatted: a few at a time, so that memory stays small however
// many match.
constexpr std::size_t kFormatBatch = 1000;
// Lines of a file per statement in `db import`.
constexpr std::size_t kImportBatch = 1000;

void Print(std::FILE* out, const std::string& text) {
  static_cast<void>(std::fputs(text.c_str(), out));
}

bool Fail(const std::string& text) {
  Print(stderr, "fwupdate-cli: " + text + "\n");
  return false;
}

// Connects, with the reason on standard error when it cannot; the schema's fit is checked when asked.
bool Connect(store::Connection& connection, const std::string& conninfo, bool checkSchema) {
  std::string reason;
  if (!connection.Open(conninfo, reason) || (checkSchema && !store::SchemaUsable(connection, reason))) {
    return Fail("the database: " + reason);
  }
  return true;
}

class SenderLink : public DatabaseLink {
 public:
  SenderLink(const std::string& conninfo, const std::string& recordsPath,
             std::function<void(const std::string& note)> changed)
      : sender_(conninfo, recordsPath, [changed = std::move(changed)](const store::SenderStatus& status) {
          changed(status.reason.empty() ? "the database: every record sent" : store::StatusText(status));
        }) {
    sender_.Start();
  }
  void RecordWritten() override { sender_.Wake(); }
  [[nodiscard]] std::string Note() const override {
    const store::SenderStatus status = sender_.Status();
    const std::string text = store::StatusText(status);
    return text.empty() ? "the database: " + std::to_string(status.sent) + " records sent" : text;
  }

 private:
  store::Sender sender_;
};

// The records, in batches, through the same formatting as a records file's.
class RecordsOutput {
 public:
  explicit RecordsOutput(std::string format) : format_(std::move(format)) {}

  void Add(const std::string& text) {
    nlohmann::ordered_json record = nlohmann::ordered_json::parse(text, nullptr, false);
    if (record.is_discarded()) {
      return;
    }
    batch_.push_back(std::move(record));
    if (format_ != "table" && batch_.size() >= kFormatBatch) {
      Flush();
    }
  }

  void Finish() {
    if (format_ == "table") {
      Print(stdout, station::RecordsTable(batch_));
      batch_.clear();
      return;
    }
    Flush();
    if (format_ == "json") {
      Print(stdout, any_ ? "\n]\n" : "[]\n");
    }
  }

 private:
  void Flush() {
    if (batch_.empty()) {
      return;
    }
    if (format_ == "csv") {
      std::string csv = station::RecordsCsv(batch_);
      if (any_) {
        csv.erase(0, csv.find('\n') + 1);  // the header once
      }
      Print(stdout, csv);
    } else {
      // "[\n  {...},\n  {...}\n]\n": the items, joined to those before.
      std::string json = station::RecordsJson(batch_);
      json = json.substr(2, json.size() - 5);
      Print(stdout, (any_ ? ",\n" : "[\n") + json);
    }
    any_ = true;
    batch_.clear();
  }

  std::string format_;
  std::vector<nlohmann::ordered_json> batch_;
  bool any_ = false;
};

}  // namespace

bool DatabaseOptionTaken(const std::string& conninfo) {
  const std::string fault = store::ConnInfoFault(conninfo);
  return fault.empty() || Fail(fault);
}

std::unique_ptr<DatabaseLink> StartDatabaseLink(const std::string& conninfo, const std::string& recordsPath,
                                                std::function<void(const std::string& note)> changed) {
  return std::make_unique<SenderLink>(conninfo, recordsPath, std::move(changed));
}

int RunDbMigrate(const std::string& conninfo) {
  store::Connection connection;
  if (!DatabaseOptionTaken(conninfo)) {
    return kExitUsage;
  }
  if (!Connect(connection, conninfo, false)) {
    return kExitInternal;
  }
  int before = 0;
  int after = 0;
  std::string reason;
  if (!store::Migrate(connection, before, after, reason)) {
    Fail("the database: " + reason);
    return kExitInternal;
  }
  Print(stdout, before == after ? "the database's schema is version " + std::to_string(after) + ": nothing to do\n"
                                : "the database's schema: version " + std::to_string(before) + " -> " +
                                      std::to_string(after) + "\n");
  return kExitFinished;
}

int RunDbImport(const std::string& conninfo, const std::vector<std::string>& files) {
  store::Connection connection;
  if (!DatabaseOptionTaken(conninfo)) {
    return kExitUsage;
  }
  if (!Connect(connection, conninfo, true)) {
    return kExitInternal;
  }
  for (const std::string& file : files) {
    std::uint64_t offset = 0;
    std::size_t records = 0;
    std::size_t others = 0;
    std::int64_t stored = 0;
    for (;;) {
      store::SpoolBatch batch;
      std::string reason;
      if (!store::ReadSpool(file, offset, kImportBatch, batch, reason)) {
        Fail("cannot read " + reason);
        return kExitUsage;
      }
      if (batch.end == offset) {
        break;
      }
      const std::int64_t added = batch.recordCount == 0 ? 0 : store::InsertRecords(connection, batch.records, reason);
      if (added < 0) {
        Fail("the database: " + file + ": " + reason + " (" + std::to_string(stored) +
             " records stored before; importing again is safe)");
        return kExitInternal;
      }
      stored += added;
      records += batch.recordCount;
      others += batch.lines - batch.recordCount;
      offset = batch.end;
    }
    Print(stdout, file + ": " + std::to_string(records) + " records, " + std::to_string(stored) + " new" +
                      (others == 0 ? std::string()
                                   : ", " + std::to_string(others) +
                                         (others == 1 ? " line that is no record" : " lines that are no record")) +
                      "\n");
  }
  return kExitFinished;
}

int RunRecordsFromDatabase(const RecordsOptions& options, const station::RecordFilter& filter) {
  if (!DatabaseOptionTaken(options.db)) {
    return kExitUsage;
  }
  store::Connection connection;
  if (!Connect(connection, options.db, true)) {
    return kExitInternal;
  }
  const store::RecordQuery query{filter.since, filter.until, filter.outcome, filter.slot, filter.lot, options.station};
  store::QueryFailure failure;
  store::RecordCounts counts;
  RecordsOutput output(options.format);
  if (!store::CountRecords(connection, query, counts, failure) ||
      !store::StreamRecords(
          connection, query, [&](const std::string& record) { output.Add(record); }, failure)) {
    Fail("the database: " + failure.reason);
    return failure.refused ? kExitUsage : kExitInternal;
  }
  output.Finish();
  station::RecordsTally tally{counts.units, counts.finished, {}, counts.first, counts.last};
  for (const auto& [message, count] : counts.failures) {
    tally.failures[message] += count;
  }
  const std::string summary = station::SummaryText(tally);
  Print(options.format == "table" ? stdout : stderr, (options.format == "table" ? "\n" : "") + summary);
  return kExitFinished;
}

bool StoreUpdateRecords(const std::string& conninfo, const std::vector<std::string>& records) {
  store::Connection connection;
  if (!Connect(connection, conninfo, true)) {
    return false;
  }
  std::string array;
  for (const std::string& record : records) {
    array += (array.empty() ? "[" : ",") + record;
  }
  std::string reason;
  if (store::InsertRecords(connection, array + "]", reason) < 0) {
    return Fail("the database: " + reason);
  }
  return true;
}

}  // namespace fwu::cli
