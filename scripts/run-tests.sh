#!/usr/bin/env bash
# Runs every test: installs what is missing, checks the formatting, builds both Windows programs (the shipped
# 32-bit one and the 64-bit one) and runs the Windows tests of each under Wine, builds and runs the native unit and
# integration tests (AddressSanitizer and UndefinedBehaviorSanitizer), runs each fuzz harness briefly, and runs
# the end-to-end suite on each Windows program.
#
# Where the kernel runs no 32-bit programs (scripts/wine32-probe.sh), the 32-bit program is still built, and each
# suite that would run it is skipped with a line that says so, and counted. Where the kernel runs them but the
# 32-bit Wine is missing, that is a failed install and those suites fail.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

passed=0
failed=0
failures=()
skipped=()

echo "== install"
if ! scripts/install-deps.sh; then
  # What did install still serves the other suites.
  failed=$((failed + 1))
  failures+=(install)
fi
# shellcheck source=scripts/wine32-probe.sh
. scripts/wine32-probe.sh
wine32_probe
echo "32-bit Wine: $WINE32_ANSWER ($WINE32_DETAIL)"

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

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

# step32 NAME COMMAND...: a suite that runs the 32-bit Windows program, run only where the 32-bit Wine runs.
step32() {
  local name=$1
  shift
  case $WINE32_STATE in
    runs) step "$name" "$@" ;;
    no-32-bit)
      echo
      echo "== $name"
      echo "skipped: this kernel runs no 32-bit programs, so the 32-bit Windows program is built but not run"
      skipped+=("$name")
      ;;
    *)
      echo
      echo "== $name"
      echo "failed: the 32-bit Wine is not installed, though this kernel runs 32-bit programs (see install above)"
      failed=$((failed + 1))
      failures+=("$name")
      ;;
  esac
}

step format scripts/check-format.sh
# The 32-bit program and its tests are built everywhere (warnings are errors); the tests run where they can.
step windows-i686-build bash -c 'cmake --preset mingw-i686 && cmake --build --preset mingw-i686'
step32 windows-i686 ctest --preset mingw-i686
step windows-x86_64 cmake --workflow --preset mingw-x86_64
step native cmake --workflow --preset native
# fwupdate-cli.exe of each MinGW build under its own Wine loader, against the native build's simulated controller.
step32 cli-wine-i686 tests/e2e/run-cli-wine.sh build/mingw-i686
step cli-wine-x86_64 tests/e2e/run-cli-wine.sh build/mingw-x86_64
# The release packages from the committed tree, the .deb built twice to compare bytes, then installed and used.
step package bash -c 'scripts/package.sh --check-reproducible deb && tests/package/run-package-tests.sh'
# shellcheck disable=SC2016 # expanded by the inner shell
step fuzz bash -c 'cmake --workflow --preset fuzz && tests/fuzz/run-fuzzers.sh "${FWU_FUZZ_SECONDS:-12}"'
step32 end-to-end-i686 tests/e2e/run-e2e.sh -b mingw-i686
step end-to-end-x86_64 tests/e2e/run-e2e.sh -b mingw-x86_64

echo
if [ ${#failures[@]} -gt 0 ]; then
  echo "Failed suites: ${failures[*]}"
fi
if [ ${#skipped[@]} -gt 0 ]; then
  echo "Skipped suites (this kernel runs no 32-bit programs): ${skipped[*]}"
fi
echo "total: $passed passed, $failed failed, ${#skipped[@]} skipped"
[ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
