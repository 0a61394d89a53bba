#include "record_store/query.h"

#include <array>
#include <string_view>

namespace fwu::record_store {

namespace {

struct Where {
  std::string sql;
  std::vector<std::string> parameters;

  // Adds a condition; each "?" in it is the next parameter, in turn.
  void Add(std::string condition, const std::vector<std::string>& values) {
    for (const std::string& value : values) {
      parameters.push_back(value);
      // Built in two steps: GCC 12 at -O3 takes a literal added to a temporary string for an overlapping copy.
      std::string placeholder = std::to_string(parameters.size());
      placeholder.insert(placeholder.begin(), '$');
      condition.replace(condition.find('?'), 1, placeholder);
    }
    sql += (sql.empty() ? " WHERE " : " AND ") + condition;
  }
};

// A filter's time, as far as it was written, made whole ("2025-03-04T13" → "2025-03-04T13:00:00"), and the step
// to the next such time: until takes in the whole hour it names.
std::pair<std::string, std::string> WholeTime(std::string time) {
  if (time.ends_with('Z') || time.ends_with('z')) {
    time.pop_back();
  }
  constexpr std::array<std::pair<std::size_t, std::string_view>, 4> kSteps{
      {{10, "1 day"}, {13, "1 hour"}, {16, "1 minute"}, {19, "1 second"}}};
  constexpr std::string_view kMidnight = "T00:00:00";
  std::string_view step = "1 second";
  for (const auto& [length, next] : kSteps) {
    if (time.size() == length) {
      step = next;
    }
  }
  if (time.size() < kSteps.back().first && time.size() >= kSteps.front().first) {
    time += kMidnight.substr(time.size() - kSteps.front().first);
  }
  return {time, std::string(step)};
}

Where WhereOf(const RecordQuery& query) {
  Where where;
  if (!query.since.empty()) {
    where.Add("started >= ?::timestamp AT TIME ZONE 'UTC'", {WholeTime(query.since).first});
  }
  if (!query.until.empty()) {
    const auto [time, step] = WholeTime(query.until);
    where.Add("started < (?::timestamp + ?::interval) AT TIME ZONE 'UTC'", {time, step});
  }
  for (const auto& [column, value] : {std::pair{"outcome", &query.outcome}, std::pair{"slot", &query.slot},
                                      std::pair{"lot", &query.lot}, std::pair{"station", &query.station}}) {
    if (!value->empty()) {
      where.Add(std::string(column) + " = ?", {*value});
    }
  }
  return where;
}

void Fail(Connection& connection, const std::string& reason, QueryFailure& failure) {
  failure.reason = reason;
  // Class 22, data exception: a filter's value the server could not read.
  failure.refused = connection.LastState().starts_with("22");
}

}  // namespace

bool StreamRecords(Connection& connection, const RecordQuery& query,
                   const std::function<void(const std::string& record)>& each, QueryFailure& failure) {
  const Where where = WhereOf(query);
  const std::string sql = "SELECT record::text FROM records" + where.sql + " ORDER BY started NULLS FIRST, arrival";
  std::vector<const char*> values;
  for (const std::string& parameter : where.parameters) {
    values.push_back(parameter.c_str());
  }
  PGconn* raw = connection.Raw();
  if (PQsendQueryParams(raw, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr,
                        0) == 0 ||
      PQsetSingleRowMode(raw) == 0) {
    Fail(connection, ShortReason(PQerrorMessage(raw)), failure);
    return false;
  }
  bool good = true;
  // Every result is taken, the failed one too, so that the connection is ready for the next statement.
  while (Result row{PQgetResult(raw)}) {
    const ExecStatusType status = PQresultStatus(row.get());
    if (status == PGRES_SINGLE_TUPLE) {
      each(std::string(PQgetvalue(row.get(), 0, 0), static_cast<std::size_t>(PQgetlength(row.get(), 0, 0))));
    } else if (status != PGRES_TUPLES_OK && good) {
      good = false;
      Fail(connection, connection.Failure(row.get()), failure);
    }
  }
  return good;
}

bool CountRecords(Connection& connection, const RecordQuery& query, RecordCounts& counts, QueryFailure& failure) {
  const Where where = WhereOf(query);
  constexpr char kUtc[] = "YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"";
  std::string reason;
  const Result totals = connection.Run(
      std::string("SELECT count(*), count(*) FILTER (WHERE outcome = 'finished'), coalesce(to_char(min(started) AT "
                  "TIME ZONE 'UTC', '") +
          kUtc + "'), ''), coalesce(to_char(max(coalesce(ended, started)) AT TIME ZONE 'UTC', '" + kUtc +
          "'), '') FROM records" + where.sql,
      where.parameters, reason);
  if (!totals) {
    Fail(connection, reason, failure);
    return false;
  }
  counts.units = std::stoull(PQgetvalue(totals.get(), 0, 0));
  counts.finished = std::stoull(PQgetvalue(totals.get(), 0, 1));
  counts.first = PQgetvalue(totals.get(), 0, 2);
  counts.last = PQgetvalue(totals.get(), 0, 3);
  const std::string failed = where.sql.empty() ? " WHERE" : where.sql + " AND";
  const Result messages = connection.Run("SELECT coalesce(message, ''), count(*) FROM records" + failed +
                                             " outcome IS DISTINCT FROM 'finished' GROUP BY 1 ORDER BY 1",
                                         where.parameters, reason);
  if (!messages) {
    Fail(connection, reason, failure);
    return false;
  }
  for (int row = 0; row < PQntuples(messages.get()); ++row) {
    counts.failures.emplace_back(PQgetvalue(messages.get(), row, 0), std::stoull(PQgetvalue(messages.get(), row, 1)));
  }
  return true;
}

}  // namespace fwu::record_store
