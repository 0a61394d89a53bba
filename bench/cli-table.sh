# shellcheck shell=bash
# The command line's table of the benchmark, sourced by run-bench.sh: `fwupdate-cli update` on one simulated
# controller, then on sixteen at once, each controller (fwsim --pace) behind its own 38400-baud line tap. Every port
# must finish with the controller's memory equal to the images; the slowest of the sixteen may take at most 2 %
# longer than the single port of the same run, and the program's processor time (getrusage of the child, all its
# threads) may be at most 0.5 % of its wall time for the single port and 0.3 % per port for the sixteen.
# analyze.py --cli prints the table.

readonly CLI_PORTS=16

# cli_run <dir> <ports>: starts <ports> lines in <dir>/port-N, runs one `fwupdate-cli update` on all of them with
# its JSON summary and figures in <dir>, then waits for every controller to end after its update.
cli_run() {
  local dir=$1 count=$2 n ports=() sims=() taps=()
  mkdir -p "$dir"
  for ((n = 1; n <= count; n++)); do
    start_line "$dir/port-$n" "$dir/port-$n/port"
    ports+=("$dir/port-$n/port")
    sims+=("$SIM_PID")
    taps+=("$TAP_PID")
    LINE_PIDS+=("$SIM_PID" "$TAP_PID")
    SIM_PID=
    TAP_PID=
  done
  local status=0
  timeout "$UPDATE_LIMIT_S" python3 "$REPO/bench/timed.py" "$dir/figures.txt" \
    "$BUILD/cli/fwupdate-cli" update --json "$dir/result.json" "${ports[@]}" >"$dir/cli.out" 2>&1 || status=$?
  [ "$status" -eq 0 ] || say "fwupdate-cli on $count port(s) ended with exit status $status: $(tail -n 3 "$dir/cli.out")"
  # Each controller ends once its update's last exchange has been closed; a failed port's is stopped here.
  local waited=0 pid
  for pid in "${sims[@]}"; do
    while kill -0 "$pid" 2>/dev/null && ((status == 0 && waited++ < 300)); do
      sleep 0.1
    done
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  for pid in "${taps[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}

cli_table() {
  say "Command line: fwupdate-cli update on one controller (about 85 s), then on $CLI_PORTS at once (about 90 s)"
  cli_run "$OUT/cli/single" 1
  cli_run "$OUT/cli/multi" "$CLI_PORTS"
}
