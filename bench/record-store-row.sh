#!/usr/bin/env bash
# The record store's row: a PostgreSQL 15 of its own (tests/support/pg-cluster.sh); one station's sender, then 50
# senders at once, 1,000 records each (records per second, the slowest record's delay from its append to the
# commit); then `records --db` over 1,000,000 rows as CSV: --since one day, --lot X, --outcome device_error, and
# every row with the summary (counted by the server), each with its time and peak memory.
#
#   bench/record-store-row.sh BUILD_DIR
set -euo pipefail
build=${1:-build/release}
root=$(cd "$(dirname "$0")/.." && pwd)
cluster="$root/tests/support/pg-cluster.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/fwu-record-store-bench.XXXXXX")
trap '"$cluster" remove "$work/pg" >/dev/null 2>&1; rm -rf "$work"' EXIT

port=$("$cluster" start "$work/pg")
db="host=$work/pg/socket port=$port dbname=records user=postgres"
"$build/cli/fwupdate-cli" db migrate --db "$db" >/dev/null

senders() {
  local n=$1 out
  mkdir -p "$work/s$n"
  out=$("$build/bench/fwu_record_store_bench" "$db" "$work/s$n" "$n" 1000)
  read -r rows rate slowest <<<"$out"
  printf '%-44s %9s rows  %7s records/s  slowest %7s ms\n' "senders: $n x 1,000 records" "$rows" "$rate" "$slowest"
}
senders 1
"$cluster" sql "$work/pg" "TRUNCATE records" >/dev/null
senders 50

# 1,000,000 rows over a year, one a ~31 s, 8 slots, 20 lots, 2 % device errors, made by the server itself.
"$cluster" sql "$work/pg" "TRUNCATE records;
INSERT INTO records (record_id, started, ended, station, slot, port, operator, lot, outcome, message, device_status,
                     record)
SELECT gen_random_uuid(), t, t + interval '40 s', 'line-' || (n % 5), 'slot' || (n % 8), '/dev/ttyUSB' || (n % 8),
       'Ann', 'L' || (n % 20), o, m, s,
       jsonb_build_object('record_id', gen_random_uuid(), 'slot', 'slot' || (n % 8), 'port', '/dev/ttyUSB' || (n % 8),
         'station', 'line-' || (n % 5), 'operator', 'Ann', 'lot', 'L' || (n % 20), 'outcome', o, 'message', m,
         'device_status', s, 'blocks_written', 486, 'controller_version', '1.00', 'carried_version', '0213',
         'started', to_char(t AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'),
         'ended', to_char((t + interval '40 s') AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), 'seconds', 40.1)
FROM (SELECT n, timestamptz '2025-01-01 00:00:00+00' + n * interval '31.5 s' AS t,
             CASE WHEN n % 50 = 0 THEN 'device_error' ELSE 'finished' END AS o,
             CASE WHEN n % 50 = 0 THEN '0012 : Errors' ELSE 'Finished' END AS m,
             CASE WHEN n % 50 = 0 THEN 18 END AS s
      FROM generate_series(1, 1000000) AS n) AS g;
VACUUM ANALYZE records;" >/dev/null

query() {
  local name=$1
  shift
  /usr/bin/time -f '%e %M' -o "$work/time" "$build/cli/fwupdate-cli" records --db "$db" "$@" >"$work/out" 2>"$work/err"
  read -r seconds kb <"$work/time"
  printf '%-44s %9s rows  %7s s       peak %5s MB\n' "records --db, 1,000,000 rows: $name" \
    "$(($(wc -l <"$work/out") - 1))" "$seconds" "$((kb / 1024))"
}
query "--since one day" --since 2025-06-01 --until 2025-06-01 --format csv
query "--lot L7 (50,000)" --lot L7 --format csv
query "--outcome device_error (20,000)" --outcome device_error --format csv
query "every row, with the summary" --format csv
