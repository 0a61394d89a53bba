#!/usr/bin/env bash
# fwupdate-cli.exe under Wine, as a script on a production line would run it: `ports` lists without failing, and
# `update COM7` against the simulated controller on a pseudo-terminal ends "Finished" with exit status 0, a JSON
# record saying so (replacing an earlier summary), and the controller's memory equal to the carried images; an
# absent port is named with the system's reason, and a port given twice is refused.
#
#   tests/e2e/run-cli-wine.sh [BUILD_DIR]
#
# BUILD_DIR is a MinGW build (default build/mingw-x86_64); its .exe runs under the Wine loader that matches it
# (wine_loader: the 32-bit one for build/mingw-i686). The simulated controller comes from build/release or
# build/native (FWU_SIM overrides). Prints "cli-wine: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tests/wine/wine-common.sh
. "$root/tests/wine/wine-common.sh"

build=${1:-$root/build/mingw-x86_64}
exe=$build/cli/fwupdate-cli.exe
sim=${FWU_SIM:-}
for candidate in "$root/build/release/sim/fwsim" "$root/build/native/sim/fwsim"; do
  [ -n "$sim" ] || { [ -x "$candidate" ] && sim=$candidate; }
done
[ -f "$exe" ] || { echo "cli-wine: $exe is not built"; exit 1; }
[ -x "$sim" ] || { echo "cli-wine: no simulated controller built (release or native preset)"; exit 1; }
loader=$(wine_loader "$exe") || { echo "cli-wine: cannot run $exe"; exit 1; }

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
# A summary from an earlier run, which the new one replaces whole.
echo '{"previous": true}' >"$work/summary.json"
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
"$loader" "$exe" update COM9 >"$work/absent.out" 2>&1
status=$?
check "an absent port exits 3 with the system's reason" test "$status" -eq 3
check "the outcome line reads \"COM9: Open Err1: no such device\"" \
  grep -qx 'COM9: Open Err1: no such device' <(tr -d '\r' <"$work/absent.out")
"$loader" "$exe" update COM7 '\\.\com7' >"$work/twice.out" 2>&1
check "a port given twice exits 2" test $? -eq 2

if [ "$failed" -ne 0 ]; then
  echo "--- ports"; cat "$work/ports.out"
  echo "--- update"; cat "$work/update.out" "$work/absent.out" "$work/twice.out"
  echo "--- controller"; cat "$work/sim.out" "$work/sim.err"
fi
echo "cli-wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
