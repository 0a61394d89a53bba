# shellcheck shell=bash
# The steps of scripts/run-tests.sh, which run side by side in lanes (background shells): each step's output goes
# to a log of its own, is shown in one piece when the step ends, and is counted at the end from the suite's summary
# line, in a fixed order. Lanes wait for what another lane builds through marks. Sourced by run-tests.sh after it
# has set $logs (a folder of its own) and $started (SECONDS at the start).
: "${logs:?a folder for the steps' logs}" "${started:?the run's start in SECONDS}"

passed=0
failed=0
failures=()
skipped=()

# in_step NAME COMMAND...: runs the command as part of step NAME (a step may be several commands, in several
# lanes one after another), its output added to the step's log. A failure is kept for the step's count.
in_step() {
  local name=$1 begun=$SECONDS status=0
  shift
  [ -f "$logs/$name.start" ] || echo $((SECONDS - started)) >"$logs/$name.start"
  "$@" >>"$logs/$name.log" 2>&1 || status=$?
  echo $((SECONDS - begun)) >>"$logs/$name.work"
  [ "$status" -eq 0 ] || [ -f "$logs/$name.status" ] || echo "$status" >"$logs/$name.status"
  return "$status"
}

# finish_step NAME: the step is over; its output is shown now, in one piece.
finish_step() {
  local name=$1
  echo $((SECONDS - started)) >"$logs/$name.end"
  {
    flock 8
    echo
    echo "== $name"
    cat "$logs/$name.log" 2>/dev/null
  } 8>>"$logs/print.lock"
}

# mark NAME: what the command before built is there (or failed to build: its status is kept).
mark() {
  echo $? >"$logs/mark.$1.new" && mv "$logs/mark.$1.new" "$logs/mark.$1"
}

# after NAME...: waits until everything named is marked; fails when any of it failed to build.
after() {
  local name
  for name in "$@"; do
    until [ -f "$logs/mark.$name" ]; do
      sleep 1
    done
    [ "$(cat "$logs/mark.$name")" -eq 0 ] || return 1
  done
}

# not_built STEP WHAT: the step cannot run, since what it runs did not build.
not_built() {
  in_step "$1" bash -c "echo 'not run: $2 did not build (see its step)'; exit 1"
}

# wine32_not_run STEP...: suites that run the 32-bit Windows program, on a machine that cannot run it.
wine32_not_run() {
  local name
  for name in "$@"; do
    if [ "$WINE32_STATE" = no-32-bit ]; then
      echo "skipped: this kernel runs no 32-bit programs, so the 32-bit Windows program is built but not run" \
        >"$logs/$name.log"
      touch "$logs/$name.skipped"
    else
      in_step "$name" bash -c 'echo "failed: the 32-bit Wine is not installed, though this kernel runs 32-bit' \
        'programs (see install above)"; exit 1'
    fi
    finish_step "$name"
  done
}

record_failure() {
  failed=$((failed + 1))
  failures+=("$1")
}

# count_one NAME: counts a finished step's tests from the runner's summary line (ctest's, or "name: N passed, M
# failed"); a step without one counts as one test. A step that failed counts at least one failure.
count_one() {
  local name=$1 log=$logs/$1.log status total bad summary=
  status=$(cat "$logs/$name.status" 2>/dev/null || echo 0)
  local ctest_summary own_summary
  ctest_summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  own_summary=$(grep -E '^[a-z0-9-]+: [0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
  if [ -n "$ctest_summary" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$ctest_summary")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$ctest_summary")
  elif [ -n "$own_summary" ]; then
    summary=$own_summary
    bad=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$summary")
    total=$(($(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$summary") + bad))
  else
    total=1
    bad=$((status == 0 ? 0 : 1))
  fi
  if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then
    bad=1
    total=$((total + 1))
  fi
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$status" -eq 0 ] || failures+=("$name")
}

# count_steps NAME...: each step's times, then the failed and skipped suites and the closing count; fails when
# anything failed.
count_steps() {
  local name work
  for name in "$@"; do
    work=$(awk '{ sum += $1 } END { print sum + 0 }' "$logs/$name.work" 2>/dev/null || echo 0)
    if [ -f "$logs/$name.skipped" ]; then
      skipped+=("$name")
      printf '  %-20s skipped\n' "$name"
      continue
    fi
    printf '  %-20s %5s to %5s, its own commands %5s\n' "$name" "$(cat "$logs/$name.start" 2>/dev/null || echo -)" \
      "$(cat "$logs/$name.end" 2>/dev/null || echo -)" "$work"
    count_one "$name"
  done
  echo
  if [ ${#failures[@]} -gt 0 ]; then
    echo "Failed suites: ${failures[*]}"
  fi
  if [ ${#skipped[@]} -gt 0 ]; then
    echo "Skipped suites (this kernel runs no 32-bit programs): ${skipped[*]}"
  fi
  echo "total: $passed passed, $failed failed, ${#skipped[@]} skipped"
  [ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
}
