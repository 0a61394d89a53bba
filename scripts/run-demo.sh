#!/usr/bin/env bash
# Builds the updater and the simulated controller and runs a firmware update end to end: the controller on a
# pseudo-terminal that the shipped 32-bit Windows program (under the 32-bit Wine) sees as COM7. Where the kernel
# runs no 32-bit programs (scripts/wine32-probe.sh), it says so and runs the 64-bit program under wine64 instead.
#
# With a display (DISPLAY set and answering), the window is yours: pick COM7, press COM OPEN, then UPDATE;
# close the window when you are done. Without one, the update runs on a virtual display, driven through the
# dialog as an operator would, and every step is printed; a screenshot of the window is saved at the end.
#
#   scripts/run-demo.sh            installs what is missing, builds, runs
#   FWU_DEMO_HEADLESS=1 scripts/run-demo.sh   the driven run even when a display is there
set -euo pipefail
cd "$(dirname "$0")/.."

readonly CONTROLLER_VERSION="0107"
readonly UPDATE_TIMEOUT=300
readonly DEMO_DIR=build/demo

# shellcheck source=tests/e2e/lib.sh
. tests/e2e/lib.sh

echo "== Installing what is missing"
scripts/install-deps.sh

# The probe comes with tests/e2e/lib.sh.
wine32_probe
preset=mingw-i686
kind="i686: the shipped build"
if [ "$WINE32_STATE" = no-32-bit ]; then
  echo "== This kernel runs no 32-bit programs, so the shipped 32-bit program cannot run here"
  echo "   ($WINE32_DETAIL): the demo runs the 64-bit program (mingw-x86_64) under wine64 instead"
  preset=mingw-x86_64
  kind="x86_64, in place of the shipped i686 build"
fi

echo "== Building the Windows program (MinGW-w64, $kind), its driver and the simulated controller"
# Configure and build only what the demo runs: the presets' workflows would build and run the test suites too.
mkdir -p "$DEMO_DIR"
build() {
  local preset=$1 log=$DEMO_DIR/build-$1.log
  shift
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" --target "$@"; } >"$log" 2>&1; then
    tail -n 40 "$log"
    e2e_die "the $preset build failed (whole log: $log)"
  fi
}
build "$preset" fwupdate fwu_e2e_driver
build release fwsim

FWU_E2E_BUILD=$preset e2e_find_programs
e2e_setup
demoDir=$(cd "$DEMO_DIR" && pwd)

interactive=
if [ -z "${FWU_DEMO_HEADLESS:-}" ] && e2e_display_reachable; then
  interactive=1
else
  e2e_start_xvfb
fi

echo "== Making a Wine prefix with COM7 mapped to the controller (about 15 s)"
e2e_make_prefix

echo "== Starting the simulated controller (program kind 0x10, firmware $CONTROLLER_VERSION)"
e2e_start_sim "$E2E_WORK" --program-kind 10 --version "$CONTROLLER_VERSION" --pace --log "$demoDir/controller.log" \
  --expect-main "$E2E_MAIN_IMAGE" --expect-second "$E2E_SECOND_IMAGE" ||
  e2e_die "the simulated controller did not start"
echo "   it answers on $E2E_SIM_SLAVE, which the program sees as COM7"

# Prints the controller's memory verdict and returns its exit code.
memory_check() {
  local status=0
  e2e_stop_sim || status=$?
  MEMORY_VERDICT=$(tail -n 1 "$E2E_WORK/sim.out")
  return "$status"
}

if [ -n "$interactive" ]; then
  echo "== Starting the updater ($E2E_BUILD build, under $E2E_APP_LOADER) on $DISPLAY"
  echo "   In its window: pick COM7 in the port list, press COM OPEN, then UPDATE."
  echo "   Close the window when you are done; the controller's memory is checked afterwards."
  e2e_start_app "$E2E_WORK"
  status=0
  e2e_wait_app $((24 * 3600)) || status=$?
  echo "   the updater ended with exit code $status"
  memoryStatus=0
  memory_check || memoryStatus=$?
  echo "Controller memory: ${MEMORY_VERDICT#memory: }"
  exit "$memoryStatus"
fi

echo "== Starting the updater ($E2E_BUILD build, under $E2E_APP_LOADER) on the virtual display $DISPLAY"
echo "   and working its dialog"
e2e_start_app "$E2E_WORK"
cat >"$E2E_WORK/update.txt" <<EOF
timeout|30
wait-dialog
items-end|COM7|COM8|COM9|COM10
select-port|COM7
click|1001
pattern|open
text|1008|FIRMWARE          :$CONTROLLER_VERSION\r\nNEW FIRMWARE  :0213
click|1006
pattern|busy
timeout|$UPDATE_TIMEOUT
box|Finished||none
timeout|30
text|1005|100 %
pattern|open
rect
EOF
cat >"$E2E_WORK/close.txt" <<'EOF'
timeout|30
wait-dialog
click|1002
pattern|closed
close|sc|closed
EOF
status=0
e2e_run_driver "$E2E_WORK/update.txt" "$E2E_WORK/update.transcript" live || status=$?
if [ "$status" -ne 0 ]; then
  e2e_die "the update did not reach Finished (transcript above)"
fi

# The window as the update left it. (Wine does not get the message box's pixels to a virtual X display in
# time for a screen grab, so the picture is taken once "Finished" has been acknowledged.)
screenshot=$demoDir/fwupdate-finished.png
read -r left top right bottom < <(sed -n 's/.*\] rect //p' "$E2E_WORK/update.transcript" | tail -n 1)
xwd -root -silent >"$E2E_WORK/screen.xwd"
convert "$E2E_WORK/screen.xwd" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$screenshot"

e2e_run_driver "$E2E_WORK/close.txt" "$E2E_WORK/close.transcript" live || status=$?
appStatus=0
e2e_wait_app 30 || appStatus=$?
memoryStatus=0
memory_check || memoryStatus=$?

echo
echo "== Result"
echo "Finished"
echo "Controller memory: ${MEMORY_VERDICT#memory: }"
echo "Updater exit code: $appStatus"
echo "Screenshot: $screenshot"
if [ "$status" -ne 0 ] || [ "$appStatus" -ne 0 ] || [ "$memoryStatus" -ne 0 ]; then
  exit 1
fi
