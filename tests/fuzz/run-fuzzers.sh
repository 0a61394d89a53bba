#!/usr/bin/env bash
# Runs every fuzz harness for a while, each from its seed corpus (the wire examples) in a scratch copy, and fails
# on the first finding. Usage: tests/fuzz/run-fuzzers.sh [seconds per harness, default 15] [build dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-15}
build=${2:-build/fuzz}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Findings outlive the run, to be read and replayed.
findings="$build/findings"
mkdir -p "$findings"

status=0
passed=0
failed=0
for fuzzer in "$build"/tests/fuzz/fuzz_*; do
  name=${fuzzer##*/fuzz_}
  mkdir -p "$work/$name"
  if [ -d "tests/fuzz/corpus/$name" ]; then
    cp "tests/fuzz/corpus/$name"/* "$work/$name"/
  fi
  # A single input that runs for 20 s is a hang.
  if "$fuzzer" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 -artifact_prefix="$findings/$name-" "$work/$name" \
      >"$work/$name.log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$name.log" | grep -o '[0-9]*$' || echo '?')
    echo "fuzz $name: no finding in ${seconds}s ($runs runs)"
    passed=$((passed + 1))
  else
    echo "fuzz $name: FINDING, input kept in $findings"
    tail -40 "$work/$name.log"
    status=1
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
exit $status
