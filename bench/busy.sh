# shellcheck shell=bash
# A slow or busy PC on any machine: N programs that compete for the processors at the updater's own priority for
# the whole run, each a loop that never sleeps (`yes` into /dev/null). Sourced by run-bench.sh.
#
#   busy_start N    starts N loops; their process ids go to BUSY_PIDS
#   busy_stop       ends them (only them, by process id) and waits for them; safe to call twice
#   busy_running    prints how many of them still run

BUSY_PIDS=()

busy_start() {
  local count=$1 i
  [[ $count =~ ^[0-9]+$ ]] || {
    echo "busy: the number of busy loops must be a whole number, not '$count'" >&2
    return 2
  }
  for ((i = 0; i < count; i++)); do
    # The loop inherits this shell's niceness, as the updater does: same priority, no favour either way.
    yes >/dev/null 2>&1 &
    BUSY_PIDS+=($!)
  done
}

busy_stop() {
  local pid
  for pid in "${BUSY_PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${BUSY_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  BUSY_PIDS=()
}

busy_running() {
  local pid state alive=0
  for pid in "${BUSY_PIDS[@]}"; do
    # A loop that ended but was not waited for yet is a zombie (Z): it no longer competes.
    state=$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null) || continue
    [ -z "$state" ] || [ "$state" = Z ] || alive=$((alive + 1))
  done
  echo "$alive"
}
