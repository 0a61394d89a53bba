#pragma once

#include <libpq-fe.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fwu::record_store {

struct ResultFree {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

// The reason of a failure as a line for a person: libpq's first line without its "connection to server at ...
// failed:" and "FATAL:" prefixes: "connection refused", "password authentication failed for user "station"".
// libpq's messages carry no password.
std::string ShortReason(const std::string& libpqMessage);

// One connection to the database, opened from a CONNINFO that ConnInfoFault took; libpq's environment applies
// (PGHOST, PGSERVICE, PGPASSFILE, PGSSLMODE, ...). Another thread may Cancel what it is waiting for.
class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // Connects; false with the reason. Waits at most 10 s for the server unless CONNINFO says otherwise.
  bool Open(const std::string& conninfo, std::string& reason);
  void Close();
  [[nodiscard]] bool IsOpen() const { return connection_ != nullptr; }
  // Whether the link to the server is still good (false after the server went away).
  [[nodiscard]] bool Healthy() const;

  // Runs one statement with text parameters; a null result with the reason when it failed.
  Result Run(const std::string& sql, const std::vector<std::string>& parameters, std::string& reason);
  // Runs statements that return nothing; false with the reason.
  bool Execute(const std::string& sql, std::string& reason);

  // Asks the server to give up the statement under way; safe from another thread.
  void Cancel();

  // The SQLSTATE of the last failed statement ("22007": a value the server could not read), or "".
  [[nodiscard]] const std::string& LastState() const { return lastState_; }
  [[nodiscard]] PGconn* Raw() const { return connection_; }
  // The reason of a failed result, and its SQLSTATE kept for LastState.
  std::string Failure(const PGresult* result);

 private:
  PGconn* connection_ = nullptr;
  std::string lastState_;
  std::mutex cancelMutex_;
  PGcancel* cancel_ = nullptr;
};

}  // namespace fwu::record_store
