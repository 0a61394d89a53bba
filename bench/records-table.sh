# shellcheck shell=bash
# The records table of the benchmark, sourced by run-bench.sh: `fwupdate-cli records` over generated files of
# 100,000 and 1,000,000 records (the table gives their size), as a table, as CSV and with a
# filter that matches nothing: time and peak memory. The files stay in build/bench-records/ (FWU_BENCH_RECORDS)
# for the next run.

records_table() {
  say "Records: 100,000 and 1,000,000 generated records (a few minutes the first time: the files are made)"
  local status=0
  python3 "$REPO/bench/records_bench.py" "$BUILD" "${FWU_BENCH_RECORDS:-$REPO/build/bench-records}" >"$OUT/records-table.txt" \
    2>"$OUT/records-bench.err" || status=$?
  cat "$OUT/records-table.txt"
  [ ! -s "$OUT/records-bench.err" ] || cat "$OUT/records-bench.err"
  return "$status"
}
