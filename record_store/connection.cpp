#include "record_store/connection.h"

#include <array>
#include <cctype>

namespace fwu::record_store {

std::string ShortReason(const std::string& libpqMessage) {
  std::string line = libpqMessage.substr(0, libpqMessage.find('\n'));
  // "connection to server at "db" (10.0.0.5), port 5432 failed: Connection refused"
  if (line.starts_with("connection to server")) {
    constexpr std::string_view kFailed = "failed: ";
    if (const auto failed = line.find(kFailed); failed != std::string::npos) {
      line.erase(0, failed + kFailed.size());
    }
  }
  for (const std::string_view prefix : std::array<std::string_view, 3>{"FATAL:  ", "ERROR:  ", "fe_sendauth: "}) {
    if (line.starts_with(prefix)) {
      line.erase(0, prefix.size());
    }
  }
  line.erase(line.find_last_not_of(" \t\r") + 1);
  // "Connection refused" as the middle of a sentence; "SSL ..." stays as it is.
  if (line.size() > 1 && std::isupper(static_cast<unsigned char>(line[0])) != 0 &&
      std::islower(static_cast<unsigned char>(line[1])) != 0) {
    line[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
  }
  return line.empty() ? std::string("the database gave no reason") : line;
}

Connection::~Connection() {
  Close();
}

bool Connection::Open(const std::string& conninfo, std::string& reason) {
  Close();
  // Earlier entries are defaults that CONNINFO (expanded from dbname) overrides.
  const std::array<const char*, 5> keywords{"connect_timeout", "application_name", "tcp_user_timeout", "dbname",
                                            nullptr};
  const std::array<const char*, 5> values{"10", "fwupdate-cli", "15000", conninfo.c_str(), nullptr};
  PGconn* connection = PQconnectdbParams(keywords.data(), values.data(), 1);
  if (connection == nullptr) {
    reason = "out of memory";
    return false;
  }
  if (PQstatus(connection) != CONNECTION_OK) {
    reason = ShortReason(PQerrorMessage(connection));
    PQfinish(connection);
    return false;
  }
  connection_ = connection;
  const std::lock_guard lock(cancelMutex_);
  cancel_ = PQgetCancel(connection_);
  return true;
}

void Connection::Close() {
  {
    const std::lock_guard lock(cancelMutex_);
    if (cancel_ != nullptr) {
      PQfreeCancel(cancel_);
      cancel_ = nullptr;
    }
  }
  if (connection_ != nullptr) {
    PQfinish(connection_);
    connection_ = nullptr;
  }
}

bool Connection::Healthy() const {
  return connection_ != nullptr && PQstatus(connection_) == CONNECTION_OK;
}

Result Connection::Run(const std::string& sql, const std::vector<std::string>& parameters, std::string& reason) {
  if (connection_ == nullptr) {
    reason = "not connected";
    return nullptr;
  }
  std::vector<const char*> values;
  values.reserve(parameters.size());
  for (const std::string& parameter : parameters) {
    values.push_back(parameter.c_str());
  }
  Result result(PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                             nullptr, 0));
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    reason = Failure(result.get());
    return nullptr;
  }
  return result;
}

bool Connection::Execute(const std::string& sql, std::string& reason) {
  if (connection_ == nullptr) {
    reason = "not connected";
    return false;
  }
  const Result result(PQexec(connection_, sql.c_str()));
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    reason = Failure(result.get());
    return false;
  }
  return true;
}

std::string Connection::Failure(const PGresult* result) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  lastState_ = state != nullptr ? state : "";
  const char* message = result != nullptr ? PQresultErrorMessage(result) : "";
  return ShortReason(message[0] != '\0' ? message : PQerrorMessage(connection_));
}

void Connection::Cancel() {
  const std::lock_guard lock(cancelMutex_);
  if (cancel_ != nullptr) {
    std::array<char, 256> error{};
    static_cast<void>(PQcancel(cancel_, error.data(), static_cast<int>(error.size())));
  }
}

}  // namespace fwu::record_store
