#!/usr/bin/env bash
# The test command's steps run side by side and are counted at the end (scripts/test-steps.sh), and the
# benchmark's busy loops start and stop (bench/busy.sh).
#   steps_and_busy_test.sh <source dir> <work dir>
set -u
src=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
# shellcheck source=tests/support/checks.sh
. "$src/tests/support/checks.sh"

# The closing count of a run whose steps ended in every way a step can, each lane writing its own log.
counted() (
  logs=$work/logs started=$SECONDS
  mkdir -p "$logs"
  # shellcheck source=scripts/test-steps.sh
  . "$src/scripts/test-steps.sh"
  WINE32_STATE=no-32-bit
  in_step tests bash -c 'echo "100% tests passed, 0 tests failed out of 12"' &
  in_step cli bash -c 'echo "cli-wine: 5 passed, 1 failed"; exit 1' &
  (in_step build true && false; mark built) &
  (after built || not_built e2e "the program") &
  wait
  in_step crash bash -c 'echo "80% tests passed, 0 tests failed out of 3"; exit 139'
  wine32_not_run e2e-32 >/dev/null
  count_steps tests cli e2e crash e2e-32 build
)
expected='Failed suites: cli e2e crash
Skipped suites (this kernel runs no 32-bit programs): e2e-32
total: 21 passed, 3 failed, 1 skipped'
check "steps in parallel lanes are counted as one run" test "$(counted | tail -3)" = "$expected"

# shellcheck source=bench/busy.sh
. "$src/bench/busy.sh"
busy_start 2
check "two busy loops run" test "$(busy_running)" = 2
pids=("${BUSY_PIDS[@]}")
busy_stop
check "busy_stop ends both loops" bash -c "! kill -0 ${pids[*]} 2>/dev/null"
check "a busy count that is no number is refused" bash -c ". '$src/bench/busy.sh'; ! busy_start two 2>/dev/null"
echo "steps-and-busy: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
