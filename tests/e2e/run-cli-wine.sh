#!/usr/bin/env bash
# fwupdate-cli.exe under Wine, as a script on a production line would run it: `ports` lists without failing, and
# `update COM7` against the simulated controller on a pseudo-terminal ends "Finished" with exit status 0, a JSON
# record saying so, and the controller's memory equal to the carried images.
#
#   tests/e2e/run-cli-wine.sh [BUILD_DIR] [WINE_LOADER]
#
# BUILD_DIR is a MinGW build (default build/mingw-x86_64); WINE_LOADER runs its .exe: /usr/lib/wine/wine64 for
# the 64-bit build (the default), /usr/lib/wine/wine for the 32-bit one. The simulated controller comes from
# build/release or build/native (FWU_SIM overrides). Prints "cli-wine: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tests/wine/wine-common.sh
. "$root/tests/wine/wine-common.sh"

build=${1:-$root/build/mingw-x86_64}
loader=${2:-/usr/lib/wine/wine64}
exe=$build/cli/fwupdate-cli.exe
sim=${FWU_SIM:-}
for candidate in "$root/build/release/sim/fwsim" "$root/build/native/sim/fwsim"; do
  [ -n "$sim" ] || { [ -x "$candidate" ] && sim=$candidate; }
done
[ -f "$exe" ] || { echo "cli-wine: $exe is not built"; exit 1; }
[ -x "$sim" ] || { echo "cli-wine: no simulated controller built (release or native preset)"; exit 1; }
[ -x "$loader" ] || { echo "cli-wine: no Wine loader $loader"; exit 1; }

work=$(mktemp -d /tmp/fwu-cli-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1 || true
  wine_stop_xvfb
  [ -n "${FWU_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=tests/support/checks.sh
. "$root/tests/support/checks.sh"

wine_start_xvfb "$work" 1024x768x24 10 || { echo "cli-wine: Xvfb did not start"; exit 1; }
wine_make_prefix "$work/prefix.log" 1024x768 "$loader" || { echo "cli-wine: $wine_prefix_failure"; exit 1; }
# COM7 leads to a symlink of ours, re-pointed by the simulated controller; the server reads it when it starts.
"$loader" reg add 'HKEY_LOCAL_MACHINE\Software\Wine\Ports' /v COM7 /t REG_SZ /d "$work/com7" /f \
  >>"$work/prefix.log" 2>&1 || { echo "cli-wine: could not map COM7"; exit 1; }
wineserver -k >>"$work/prefix.log" 2>&1 || true
# A server of our own, started apart: it may dump its object lists at shutdown after serial use, and that
# would otherwise land in the output of whichever program started it.
wineserver -p >/dev/null 2>&1

# Wine's output goes to files: its background processes would hold a pipe open.
"$loader" "$exe" ports >"$work/ports.out" 2>&1
check "ports exits 0" test $? -eq 0

"$sim" --link "$work/com7" --expect-main "$root/update/images/main.bin" \
  --expect-second "$root/update/images/second.bin" --exit-after-update >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ -L "$work/com7" ] && break
  sleep 0.1
done
"$loader" "$exe" update COM7 --json "Z:$work/summary.json" >"$work/update.out" 2>&1
status=$?
check "update COM7 exits 0" test "$status" -eq 0
# A Windows console program ends its lines with CR LF.
check "the outcome line reads \"COM7: Finished\"" grep -qx 'COM7: Finished' <(tr -d '\r' <"$work/update.out")
check "the JSON record says finished, 486 blocks" \
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["ports"][0]; sys.exit(not (r["outcome"]=="finished" and r["blocks_written"]==486))' \
  "$work/summary.json"
wait "$sim_pid"
sim_status=$?
sim_pid=
check "the controller's memory equals the images" grep -q 'memory: main equal, second equal' "$work/sim.out"
check "the simulated controller exits 0" test "$sim_status" -eq 0

if [ "$failed" -ne 0 ]; then
  echo "--- ports"; cat "$work/ports.out"
  echo "--- update"; cat "$work/update.out"
  echo "--- controller"; cat "$work/sim.out" "$work/sim.err"
fi
echo "cli-wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
