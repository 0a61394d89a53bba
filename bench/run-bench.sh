#!/usr/bin/env bash
# Benchmark of a whole update against the line's floor, and of the updater's processor time.
#
# Runs complete updates of the carried images (program kind 0x10: second image, then main image) against the
# simulated controller at 38400 baud and prints one table:
#   - the floor: line time of every byte both ways, the pauses the protocol fixes (10 ms before every write of
#     the updater, 50 ms after its EOT of a command, 1000 ms after 08 00) and the controller's own reactions,
#     taken along the exchange as fwsim logged it;
#   - the wall time from the first byte of the identification message to the last byte of the final EOT, and
#     wall / floor;
#   - the updater's processor time over the update, and its share of the wall time;
#   - the core's instruction count for a whole update in memory (callgrind), which does not depend on the
#     machine's load.
# A second table, when fwupdate-cli is built, has the command line updating one controller and then sixteen at
# once, each behind its own line (bench/cli-table.sh); a third the production station (bench/station-table.sh).
# Rows: the native updater (fwu_bench_update: RunUpdate on the POSIX port) on the plain line; the same behind a
# USB serial adapter whose latency timer is set to 16 ms (a common default) and to 1 ms; fwupdate.exe under Wine
# when the Windows program and the end-to-end driver are there: the shipped 32-bit program wherever the kernel
# runs 32-bit programs (scripts/wine32-probe.sh; elsewhere the table says why that row was not run) and the 64-bit
# one beside it; and fwupdate-cli through ser2net over RFC 2217 (bench/network-row.sh).
#
# Between the updater and fwsim sits fwu_line_tap: a pseudo-terminal has no baud rate, so the tap carries the
# updater's bytes on at 38400 baud as a UART would, and times every chunk in both directions. For the adapter
# rows it also holds the controller's answers as the adapter would: until 62 bytes wait or the latency timer has
# run out since the first of them arrived.
#
#   bench/run-bench.sh                  build (release preset; mingw-i686 and mingw-x86_64 for the Wine rows), run,
#                                       print
#   bench/run-bench.sh --no-build       use what is built
#   bench/run-bench.sh --busy N         keep N processors busy for the whole run (N loops at the same priority):
#                                       a slow or busy PC, the same on any machine
#   bench/run-bench.sh --native-only    leave out the Wine rows
#   bench/run-bench.sh --wine-only      only the Wine rows
#   bench/run-bench.sh --no-adapters    leave out the two adapter rows
#   bench/run-bench.sh --no-network     leave out the network row (--network-only runs only the network row)
#   bench/run-bench.sh --cli-only       only the command line's table (one port, then sixteen at once)
#   bench/run-bench.sh --station-only   only the production station's table (bench/station-table.sh)
#   bench/run-bench.sh --record-store   add the record store's row (bench/record-store-row.sh: a PostgreSQL of its
#                                       own, 50 senders, 1,000,000 rows; a few minutes); --record-store-only alone
#   bench/run-bench.sh --records-only   only the records table: `records` over 100,000 and 1,000,000 generated
#                                       records (bench/records-table.sh)
#   bench/run-bench.sh --no-station     leave out the production station's table
#
# The logs of the last run stay in build/bench/ (FWU_BENCH_OUT). Exit status: 0 all targets met, 1 a target
# missed or an update failed, 2 the benchmark itself could not run.
set -euo pipefail
cd "$(dirname "$0")/.."
REPO=$(pwd)
readonly REPO
readonly BUILD=${FWU_BENCH_BUILD:-$REPO/build/release}
readonly WIN_BUILD=${FWU_BENCH_WIN_BUILD:-$REPO/build/mingw-x86_64}
readonly WIN32_BUILD=${FWU_BENCH_WIN32_BUILD:-$REPO/build/mingw-i686}
readonly OUT=${FWU_BENCH_OUT:-$REPO/build/bench}
readonly MAIN_IMAGE=$REPO/update/images/main.bin
readonly SECOND_IMAGE=$REPO/update/images/second.bin
# A paced update takes about 85 s; far beyond that something hangs.
readonly UPDATE_LIMIT_S=400

build=1
want_core=1
want_native=1
want_adapters=1
want_wine=1
want_network=1
want_cli=1
want_station=1
want_record_store=
want_records=1
busy=0
while [ $# -gt 0 ]; do
  arg=$1
  shift
  case $arg in
  --no-build) build= ;;
  --busy)
    [[ ${1:-} =~ ^[0-9]+$ ]] || {
      echo "--busy takes the number of processors to keep busy, e.g. --busy 2" >&2
      exit 2
    }
    busy=$1
    shift
    ;;
  --native-only) want_wine= ;;
  --wine-only) want_native='' want_adapters='' want_network='' want_cli='' want_station='' want_records='' ;;
  --no-adapters) want_adapters= ;;
  --no-network) want_network= ;;
  --no-station) want_station= ;;
  --network-only) want_core='' want_native='' want_adapters='' want_wine='' want_cli='' want_station='' want_records='' ;;
  --cli-only) want_core='' want_native='' want_adapters='' want_wine='' want_network='' want_station='' want_records='' ;;
  --station-only) want_core='' want_native='' want_adapters='' want_wine='' want_network='' want_cli='' want_records='' ;;
  --records-only) want_core='' want_native='' want_adapters='' want_wine='' want_network='' want_cli='' want_station='' ;;
  --record-store) want_record_store=1 ;;
  --record-store-only) want_core='' want_native='' want_adapters='' want_wine='' want_network='' want_cli='' \
    want_station='' want_records='' want_record_store=1 ;;
  -h | --help)
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
    exit 0
    ;;
  *)
    echo "unknown option: $arg (try --help)" >&2
    exit 2
    ;;
  esac
done

say() { printf '== %s\n' "$*"; }
die() {
  printf 'run-bench: %s\n' "$*" >&2
  exit 2
}

# shellcheck source=bench/busy.sh
. "$REPO/bench/busy.sh"
SIM_PID=
TAP_PID=
LINE_PIDS=()
# shellcheck disable=SC2317 # called by the EXIT trap
cleanup() {
  for pid in $TAP_PID $SIM_PID "${LINE_PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  busy_stop
}
trap cleanup EXIT

wine_ready() {
  [ -f "$REPO/tests/e2e/lib.sh" ] && [ -f "$REPO/tests/e2e/driver/CMakeLists.txt" ]
}

# The shipped 32-bit program runs wherever the kernel runs 32-bit programs; elsewhere its row is not run, and the
# table says why.
# shellcheck source=scripts/wine32-probe.sh
. "$REPO/scripts/wine32-probe.sh"
wine32_probe

if [ -n "$build" ]; then
  say "Building (release preset)"
  cmake --workflow --preset release >"${TMPDIR:-/tmp}/fwu-bench-build.log" 2>&1 ||
    die "the release build failed (see ${TMPDIR:-/tmp}/fwu-bench-build.log)"
  if [ -n "$want_wine" ] && wine_ready; then
    say "Building the 64-bit Windows program (mingw-x86_64 preset)"
    cmake --workflow --preset mingw-x86_64 >"${TMPDIR:-/tmp}/fwu-bench-build-win.log" 2>&1 ||
      die "the Windows build failed (see ${TMPDIR:-/tmp}/fwu-bench-build-win.log)"
    if [ "$WINE32_STATE" = runs ]; then
      say "Building the shipped 32-bit Windows program (mingw-i686 preset)"
      { cmake --preset mingw-i686 && cmake --build --preset mingw-i686; } >"${TMPDIR:-/tmp}/fwu-bench-build-win32.log" \
        2>&1 || die "the 32-bit Windows build failed (see ${TMPDIR:-/tmp}/fwu-bench-build-win32.log)"
    fi
  fi
fi
for program in sim/fwsim bench/fwu_line_tap bench/fwu_bench_update bench/fwu_bench_core_cost; do
  [ -x "$BUILD/$program" ] || die "no $BUILD/$program (build it: cmake --workflow --preset release)"
done
command -v valgrind >/dev/null || die "valgrind is missing (scripts/install-deps.sh installs it)"
if [ ! -x "$BUILD/cli/fwupdate-cli" ]; then
  [ -n "$want_core$want_native$want_adapters$want_wine" ] || die "no $BUILD/cli/fwupdate-cli (build the release preset)"
  want_cli=
  want_network=
  want_station=
  want_records=
fi

rm -rf "$OUT"
mkdir -p "$OUT"
if [ "$busy" -gt 0 ]; then
  say "Keeping $busy processors busy for the whole run ($busy loops of yes into /dev/null, same priority)"
  busy_start "$busy"
fi
cat /proc/loadavg >"$OUT/load-before"

# --- the line: fwsim behind the tap ------------------------------------------------------------------------------

# Waits up to 10 s for <link> to point at the terminal named on the first line of <file>.
wait_for_link() {
  local link=$1 file=$2 pid=$3 tries=0 path
  while :; do
    path=$(head -n 1 "$file" 2>/dev/null || true)
    if [ -n "$path" ] && [ "$(readlink "$link" 2>/dev/null)" = "$path" ]; then
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || return 1
    ((tries++ < 100)) || return 1
    sleep 0.1
  done
}

# Starts the paced controller and the tap in <dir>; the updater opens <port>. With <latency ms>, the controller's
# answers pass a USB adapter with that latency timer.
start_line() {
  local dir=$1 port=$2 latency=${3:-}
  mkdir -p "$dir"
  "$BUILD/sim/fwsim" --pace --program-kind 10 --log "$dir/sim.log" --link "$dir/controller" \
    --expect-main "$MAIN_IMAGE" --expect-second "$SECOND_IMAGE" --exit-after-update \
    >"$dir/sim.out" 2>"$dir/sim.err" &
  SIM_PID=$!
  wait_for_link "$dir/controller" "$dir/sim.out" "$SIM_PID" || die "fwsim did not start: $(cat "$dir/sim.err")"
  "$BUILD/bench/fwu_line_tap" --device "$dir/controller" --link "$port" --log "$dir/tap.log" \
    ${latency:+--latency-ms "$latency"} >"$dir/tap.out" 2>"$dir/tap.err" &
  TAP_PID=$!
  wait_for_link "$port" "$dir/tap.out" "$TAP_PID" || die "the line tap did not start: $(cat "$dir/tap.err")"
}

# Waits for fwsim to end after the update's last exchange (stopping it after <seconds> at most), then stops
# the tap, which writes its log.
stop_line() {
  local seconds=$1 waited=0
  while kill -0 "$SIM_PID" 2>/dev/null && ((waited++ < seconds * 10)); do
    sleep 0.1
  done
  kill -TERM "$SIM_PID" 2>/dev/null || true
  wait "$SIM_PID" 2>/dev/null || true
  SIM_PID=
  kill -TERM "$TAP_PID" 2>/dev/null || true
  wait "$TAP_PID" 2>/dev/null || true
  TAP_PID=
}

# --- the rows ------------------------------------------------------------------------------------------------------

core_cost() {
  say "Counting the core's instructions for a whole update in memory (callgrind)"
  local figures=$OUT/core.txt profile=$OUT/callgrind.out
  valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$profile" \
    "$BUILD/bench/fwu_bench_core_cost" >"$figures" 2>"$OUT/callgrind.log" ||
    die "the in-memory update failed: $(cat "$figures")"
  local total seams
  total=$(awk '$1 == "totals:" { print $2 }' "$profile")
  # The port, clock and window stand-ins switch counting off on entry and on again on return; the few
  # instructions of each switch are theirs, not the core's.
  seams=$(callgrind_annotate --threshold=100 "$profile" 2>/dev/null |
    awk '/fwu::bench::/ { gsub(",", "", $1); sum += $1 } END { print sum + 0 }')
  [ -n "$total" ] || die "callgrind counted nothing (see $OUT/callgrind.log)"
  echo "instructions=$((total - seams))" >>"$figures"
  echo "seam_instructions=$seams" >>"$figures"
}

# native_row <name> [latency ms]: one update by fwu_bench_update, its logs in $OUT/<name>.
native_row() {
  local name=$1 latency=${2:-}
  say "Native update${latency:+ behind an adapter with a $latency ms latency timer}: fwu_bench_update on the POSIX" \
    "port (about $((latency > 1 ? 105 : 85)) s)"
  local dir=$OUT/$name
  start_line "$dir" "$dir/port" "$latency"
  local status=0
  timeout "$UPDATE_LIMIT_S" "$BUILD/bench/fwu_bench_update" --port "$dir/port" --figures "$dir/cpu.txt" \
    >"$dir/app.out" 2>&1 || status=$?
  stop_line $((status == 0 ? 30 : 0))
  [ "$status" -eq 0 ] || say "the $name update did not finish (exit $status): $(tail -n 3 "$dir/app.out")"
}

# shellcheck source=bench/wine-row.sh
. "$REPO/bench/wine-row.sh"
# shellcheck source=bench/cli-table.sh
. "$REPO/bench/cli-table.sh"
# shellcheck source=bench/network-row.sh
. "$REPO/bench/network-row.sh"
# shellcheck source=bench/station-table.sh
. "$REPO/bench/station-table.sh"
# shellcheck source=bench/records-table.sh
. "$REPO/bench/records-table.sh"

rows=()
if [ -n "$want_core" ]; then
  core_cost
  rows+=(--core "$OUT/core.txt")
fi
if [ -n "$want_native" ]; then
  native_row native
  rows+=(--native "$OUT/native")
fi
if [ -n "$want_adapters" ]; then
  for latency in 16 1; do
    native_row "adapter-$latency" "$latency"
    rows+=(--adapter "$latency" "$OUT/adapter-$latency")
  done
fi
if [ -n "$want_wine" ]; then
  if ! wine_ready; then
    say "No Wine rows: the end-to-end driver (tests/e2e) is not in this tree yet"
  else
    # wine_row_of <row name> <folder name> <Windows build>: the row, or a missed target that says where it broke.
    wine_row_of() {
      if wine_row "$2" "$3"; then
        rows+=(--wine "$1" "$OUT/$2")
      else
        rows+=(--missing "$1" "the update under Wine did not run to its end (see $OUT/$2)")
      fi
    }
    wine32_row="Wine i686 (shipped)"
    case $WINE32_STATE in
    runs)
      wine_row_of "$wine32_row" wine-i686 "$WIN32_BUILD"
      ;;
    no-32-bit)
      say "No $wine32_row row: $WINE32_ANSWER ($WINE32_DETAIL); the 64-bit program's row runs alone"
      rows+=(--not-run "$wine32_row" "$WINE32_ANSWER")
      ;;
    *)
      say "No $wine32_row row: the 32-bit Wine is not installed, though this kernel runs 32-bit programs"
      rows+=(--missing "$wine32_row" "32-bit Wine $WINE32_ANSWER ($WINE32_DETAIL)")
      ;;
    esac
    wine_row_of "Wine x86_64" wine-x86_64 "$WIN_BUILD"
  fi
fi
if [ -n "$want_network" ]; then
  network_row
  rows+=(--network "$OUT/network")
fi
cat /proc/loadavg >"$OUT/load-rows"
[ -z "$want_cli" ] || cli_table
cat /proc/loadavg >"$OUT/load-after"
# The loops must have competed for every row: each one still running now (they end with the script, after the
# station's table).
echo "$busy $(busy_running)" >"$OUT/busy"

# Exit status: the worst of the tables' (2 before 1 before 0).
status=0
worst() {
  if [ "$1" -ne 0 ] && [ "$status" -ne 2 ]; then
    status=$1
  fi
}
if [ ${#rows[@]} -gt 0 ]; then
  echo
  table=0
  python3 "$REPO/bench/analyze.py" "${rows[@]}" --load "$OUT/load-before" "$OUT/load-rows" --busy "$OUT/busy" |
    tee "$OUT/table.txt" || table=${PIPESTATUS[0]}
  worst "$table"
fi
if [ -n "$want_cli" ]; then
  echo
  table=0
  python3 "$REPO/bench/analyze.py" --cli "$OUT/cli" --load "$OUT/load-rows" "$OUT/load-after" --busy "$OUT/busy" |
    tee "$OUT/cli-table.txt" || table=${PIPESTATUS[0]}
  worst "$table"
fi
if [ -n "$want_station" ]; then
  echo
  table=0
  station_table || table=$?
  worst "$table"
fi
if [ -n "$want_records" ]; then
  echo
  table=0
  records_table || table=$?
  worst "$table"
fi
if [ -n "$want_record_store" ]; then
  echo
  table=0
  "$REPO/bench/record-store-row.sh" "$BUILD" | tee "$OUT/record-store-row.txt" || table=2
  worst "$table"
fi
exit "$status"
