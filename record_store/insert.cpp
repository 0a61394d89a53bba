#include "record_store/insert.h"

namespace fwu::record_store {

namespace {

// The columns come from the record itself, on the server: one place says which field goes where.
constexpr char kInsert[] = R"sql(
INSERT INTO records (record_id, started, ended, station, slot, port, operator, lot, outcome, message, device_status,
                     controller_version, carried_version, program_version, main_sha256, second_sha256, usb_serial,
                     record)
SELECT (r->>'record_id')::uuid, record_time(r->>'started'), record_time(r->>'ended'), r->>'station', r->>'slot',
       r->>'port', r->>'operator', r->>'lot', r->>'outcome', r->>'message', record_integer(r->>'device_status'),
       r->>'controller_version', r->>'carried_version', r->>'program_version',
       (SELECT i->>'sha256' FROM jsonb_array_elements(CASE jsonb_typeof(r->'images') WHEN 'array'
               THEN r->'images' ELSE '[]' END) AS i WHERE i->>'image' = 'main' LIMIT 1),
       (SELECT i->>'sha256' FROM jsonb_array_elements(CASE jsonb_typeof(r->'images') WHEN 'array'
               THEN r->'images' ELSE '[]' END) AS i WHERE i->>'image' = 'second' LIMIT 1),
       r->>'usb_serial', r
FROM jsonb_array_elements($1::jsonb) WITH ORDINALITY AS batch(r, n)
ORDER BY n
ON CONFLICT (record_id) DO NOTHING
)sql";

}  // namespace

std::int64_t InsertRecords(Connection& connection, const std::string& jsonArray, std::string& reason) {
  const Result result = connection.Run(kInsert, {jsonArray}, reason);
  if (!result) {
    return -1;
  }
  return std::stoll(PQcmdTuples(result.get()));
}

}  // namespace fwu::record_store
