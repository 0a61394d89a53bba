# shellcheck shell=bash
# The production station's table of the benchmark, sourced by run-bench.sh: `fwupdate-cli station` with eight
# slots and three units plugged into each one after another, every unit a paced controller behind its own
# 38400-baud line tap. bench/station_bench.py plugs the units, measures and prints the table: every unit finished
# with its memory equal, from plug-in to the update's first byte at most 1.5 s, and while every slot waits for a
# unit (no port, then a silent controller on every port) at most 0.5 % of one core.

station_table() {
  say "Production station: 8 slots, 3 units each one after another (about 6 minutes)"
  local status=0
  python3 "$REPO/bench/station_bench.py" "$BUILD" "$OUT/station" "$MAIN_IMAGE" "$SECOND_IMAGE" \
    >"$OUT/station-table.txt" 2>"$OUT/station-bench.err" || status=$?
  cat "$OUT/station-table.txt"
  [ ! -s "$OUT/station-bench.err" ] || cat "$OUT/station-bench.err"
  return "$status"
}
