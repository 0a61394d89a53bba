#!/usr/bin/env bash
# Runs every test: installs what is missing, checks the formatting, builds both Windows programs (the shipped
# 32-bit one and the 64-bit one) and runs the Windows tests of each under Wine, builds and runs the native unit and
# integration tests (AddressSanitizer and UndefinedBehaviorSanitizer), runs each fuzz harness briefly, and runs
# the end-to-end suite on each Windows program.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

scripts/install-deps.sh || exit 1

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
passed=0
failed=0
failures=()

# step NAME COMMAND...: runs one suite, shows its output, and counts its tests from the runner's summary line.
step() {
  local name=$1
  shift
  echo
  echo "== $name"
  "$@" 2>&1 | tee "$logs/$name.log"
  local status=${PIPESTATUS[0]}
  local total bad
  if summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/$name.log" | tail -1); then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  elif summary=$(grep -E '^[a-z0-9-]+: [0-9]+ passed, [0-9]+ failed' "$logs/$name.log" | tail -1); then
    bad=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$summary")
    total=$(( $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$summary") + bad ))
  else
    total=1
    bad=$(( status == 0 ? 0 : 1 ))
  fi
  if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then
    bad=1
    total=$(( total + 1 ))
  fi
  passed=$(( passed + total - bad ))
  failed=$(( failed + bad ))
  if [ "$status" -ne 0 ]; then
    failures+=("$name")
  fi
}

step format scripts/check-format.sh
step windows-i686 cmake --workflow --preset mingw-i686
step windows-x86_64 cmake --workflow --preset mingw-x86_64
step native cmake --workflow --preset native
# fwupdate-cli.exe of each MinGW build under its own Wine loader, against the native build's simulated controller.
step cli-wine-i686 tests/e2e/run-cli-wine.sh build/mingw-i686 /usr/lib/wine/wine
step cli-wine-x86_64 tests/e2e/run-cli-wine.sh build/mingw-x86_64 /usr/lib/wine/wine64
# The release packages from the committed tree, the .deb built twice to compare bytes, then installed and used.
step package bash -c 'scripts/package.sh --check-reproducible deb && tests/package/run-package-tests.sh'
# shellcheck disable=SC2016 # expanded by the inner shell
step fuzz bash -c 'cmake --workflow --preset fuzz && tests/fuzz/run-fuzzers.sh "${FWU_FUZZ_SECONDS:-12}"'
for preset in mingw-i686 mingw-x86_64; do
  step "end-to-end-${preset#mingw-}" tests/e2e/run-e2e.sh -b "$preset"
done

echo
if [ ${#failures[@]} -gt 0 ]; then
  echo "Failed suites: ${failures[*]}"
fi
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
