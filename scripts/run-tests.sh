#!/usr/bin/env bash
# Runs every test: installs what is missing, checks the formatting, builds both Windows programs (the shipped
# 32-bit one and the 64-bit one) and runs the Windows tests of each under Wine, builds and runs the native unit and
# integration tests (AddressSanitizer and UndefinedBehaviorSanitizer), runs each fuzz harness briefly, and runs
# the end-to-end suite on each Windows program.
#
#   scripts/run-tests.sh           everything (what CI runs)
#   scripts/run-tests.sh --quick   day-to-day: the native build's unit and integration tests only
#
# Each program is built once, and what only waits runs beside what computes: the builds, the package step and the
# fuzzers take their turns in one lane, while the suites that run a program against the simulated controller (the Windows tests under Wine,
# fwupdate-cli.exe under Wine, the end-to-end suites, the native tests) start in lanes of their own as soon as what
# they run is built. Every suite has its own Wine prefix, display and COM7 link. A suite's output is shown in one
# piece when it ends; the times of every suite and the closing count come last.
#
# Where the kernel runs no 32-bit programs (scripts/wine32-probe.sh), the 32-bit program is still built, and each
# suite that would run it is skipped with a line that says so, and counted. Where the kernel runs them but the
# 32-bit Wine is missing, that is a failed install and those suites fail.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

quick=
case ${1:-} in
  "") ;;
  --quick) quick=1 ;;
  *)
    sed -n '7,8p' "$0" | sed 's/^# *//' >&2
    exit 2
    ;;
esac

logs=$(mktemp -d)
lane_pids=()
# shellcheck disable=SC2317 # called by the EXIT trap
stop_lanes() {
  local pid
  for pid in "${lane_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  rm -rf "$logs"
}
trap stop_lanes EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
started=$SECONDS

# shellcheck source=scripts/test-steps.sh
. scripts/test-steps.sh

if [ -n "$quick" ]; then
  # The tests need what the full run installs; a machine without it runs the full command once.
  in_step native cmake --workflow --preset native
  finish_step native
  count_steps native
  exit $?
fi

# The build tools first; the rest (Wine, the package tools, the tools the tests call) installs while the builds run.
echo "== install (build tools)"
install_status=0
scripts/install-deps.sh --build-tools || install_status=$?
# shellcheck source=scripts/wine32-probe.sh
. scripts/wine32-probe.sh
(
  in_step install scripts/install-deps.sh
  mark installed
  wine32_probe
  echo "32-bit Wine: $WINE32_ANSWER ($WINE32_DETAIL)" >>"$logs/install.log"
  finish_step install
) &
lane_pids+=($!)

# The computing lane. Each build is marked when it is there, so that the lanes that run it can start.
(
  in_step format scripts/check-format.sh
  finish_step format
  # The simulated controller first: every suite that talks to a controller runs it.
  in_step native cmake --preset native &&
    in_step native cmake --build --preset native --target fwsim
  mark sim
  in_step windows-x86_64 cmake --preset mingw-x86_64 &&
    in_step windows-x86_64 cmake --build --preset mingw-x86_64
  mark mingw-x86_64
  # The 32-bit program and its tests are built everywhere (warnings are errors); the tests run where they can.
  in_step windows-i686-build cmake --preset mingw-i686 &&
    in_step windows-i686-build cmake --build --preset mingw-i686
  mark mingw-i686
  finish_step windows-i686-build
  in_step native cmake --build --preset native
  mark native
  # The release packages from the committed tree, the .deb built twice to compare bytes, then installed and used.
  after installed
  in_step package scripts/package.sh --check-reproducible deb &&
    in_step package tests/package/run-package-tests.sh
  finish_step package
  # shellcheck disable=SC2016 # expanded by the inner shell
  in_step fuzz bash -c 'cmake --workflow --preset fuzz && tests/fuzz/run-fuzzers.sh "${FWU_FUZZ_SECONDS:-12}"'
  finish_step fuzz
) &
lane_pids+=($!)

(
  after installed
  after native || { not_built native native; finish_step native; exit; }
  in_step native ctest --preset native
  finish_step native
) &
lane_pids+=($!)

# wine_suites BITS PRESET STEP...: suites of one Windows build, one after another in a lane of their own: its
# Windows tests (ctest), fwupdate-cli.exe under Wine and the end-to-end suite, the last two against the simulated
# controller. A lane of the 32-bit build runs only where the 32-bit Wine runs.
wine_suites() {
  local bits=$1 preset=$2
  shift 2
  local steps=("$@")
  after installed
  wine32_probe
  if [ "$bits" = 32 ] && [ "$WINE32_STATE" != runs ]; then
    wine32_not_run "${steps[@]}"
    return
  fi
  local name needs
  for name in "${steps[@]}"; do
    needs=("$preset" sim)
    [[ $name != windows-* ]] || needs=("$preset")
    if after "${needs[@]}"; then
      case $name in
        windows-*) in_step "$name" ctest --preset "$preset" ;;
        cli-wine-*) in_step "$name" tests/e2e/run-cli-wine.sh "build/$preset" ;;
        end-to-end-*) in_step "$name" tests/e2e/run-e2e.sh -b "$preset" ;;
      esac
    else
      not_built "$name" "${needs[*]}"
    fi
    finish_step "$name"
  done
}
for bits in 32 64; do
  preset=mingw-x86_64
  [ "$bits" = 64 ] || preset=mingw-i686
  suffix=${preset#mingw-}
  wine_suites "$bits" "$preset" "windows-$suffix" "cli-wine-$suffix" &
  lane_pids+=($!)
  wine_suites "$bits" "$preset" "end-to-end-$suffix" &
  lane_pids+=($!)
done

wait "${lane_pids[@]}"
lane_pids=()

echo
echo "Times (seconds from the start of the run; the whole run took $((SECONDS - started)) s):"
if [ "$install_status" -ne 0 ] || [ -f "$logs/install.status" ]; then
  record_failure install
fi
[ ! -f "$logs/install.end" ] || printf '  %-20s %5s to %5s\n' install "$(cat "$logs/install.start")" "$(cat "$logs/install.end")"
count_steps format windows-i686-build windows-i686 windows-x86_64 native cli-wine-i686 cli-wine-x86_64 package fuzz \
  end-to-end-i686 end-to-end-x86_64
