#!/usr/bin/env bash
# fwupdate-cli.exe under Wine, as a script on a production line would run it: `ports` lists without failing,
# `update COM7` against the simulated controller on a pseudo-terminal ends "Finished" with exit status 0, a JSON
# record saying so (replacing an earlier summary), and the controller's memory equal to the carried images; an
# absent port is named with the system's reason, and a port given twice is refused;
# `update rfc2217://127.0.0.1:PORT` through ser2net (Winsock reaching the Linux host's loopback) in front of another
# simulated controller ends the same way for a pair of small image files. Then the production station on COM7: a
# unit plugged in (COM7's link made) is updated once and recorded while it stays, and after it is taken out (the
# link removed) the next unit is updated and recorded too.
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
ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
[ -x "$ser2net" ] || { echo "cli-wine: ser2net is not installed (scripts/install-deps.sh)"; exit 1; }

work=$(mktemp -d /tmp/fwu-cli-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
sim_pid=
station_pid=
ser2net_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "$station_pid" ] && kill -KILL "$station_pid" 2>/dev/null
  [ -n "$ser2net_pid" ] && kill "$ser2net_pid" 2>/dev/null
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

# wait_until SECONDS COMMAND...: true once the command succeeds, polling; false after SECONDS.
wait_until() {
  local seconds=$1 tries=0
  shift
  until "$@"; do
    ((tries++ < seconds * 10)) || return 1
    sleep 0.1
  done
}
lines_in() { [ -f "$1" ] && [ "$(grep -c "$2" "$1")" -ge "$3" ]; }
gone() { ! kill -0 "$1" 2>/dev/null; }
# end_sim SECONDS: gives the simulated controller SECONDS to end by itself, then ends it, and puts its exit status
# in sim_status. With --exit-after-update it ends once an update has finished; after a failed update it would
# wait for another for ever, so no wait for it here is without a limit.
end_sim() {
  if ! wait_until "$1" gone "$sim_pid"; then
    kill -TERM "$sim_pid" 2>/dev/null
    wait_until 10 gone "$sim_pid" || kill -KILL "$sim_pid" 2>/dev/null
  fi
  wait "$sim_pid"
  sim_status=$?
  sim_pid=
}

# Wine's output goes to files: its background processes would hold a pipe open.
"$loader" "$exe" ports >"$work/ports.out" 2>&1
check "ports exits 0" test $? -eq 0

"$sim" --link "$work/com7" --expect-main "$root/update/images/main.bin" \
  --expect-second "$root/update/images/second.bin" --exit-after-update >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
wait_until 10 test -L "$work/com7"
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
end_sim $((status == 0 ? 30 : 0))
check "the controller's memory equals the images" grep -q 'memory: main equal, second equal' "$work/sim.out"
check "the simulated controller exits 0" test "$sim_status" -eq 0
"$loader" "$exe" update COM9 >"$work/absent.out" 2>&1
status=$?
check "an absent port exits 3 with the system's reason" test "$status" -eq 3
check "the outcome line reads \"COM9: Open Err1: no such device\"" \
  grep -qx 'COM9: Open Err1: no such device' <(tr -d '\r' <"$work/absent.out")
"$loader" "$exe" update COM7 '\\.\com7' >"$work/twice.out" 2>&1
check "a port given twice exits 2" test $? -eq 2

# Through ser2net over RFC 2217: a controller behind a serial device server on this machine's loopback.
python3 - "$work/main.bin" "$work/second.bin" <<'PY'
import struct, sys
main, second = bytearray(b"\xff" * 0x80000), bytearray(b"\xff" * 0x10000)
struct.pack_into("<II", main, 0x1010, 0xFFF81020, 0xFFF81030)
main[0x1020:0x1025], main[0x1030:0x1035] = b"KX-7\0", b"0213\0"
for k in range(20):
    main[k * 256 + 7] = k
for k in range(10):
    second[k * 256] = k
open(sys.argv[1], "wb").write(main)
open(sys.argv[2], "wb").write(second)
PY
"$sim" --expect-main "$work/main.bin" --expect-second "$work/second.bin" --exit-after-update \
  >"$work/net-sim.out" 2>"$work/net-sim.err" &
sim_pid=$!
wait_until 10 test -s "$work/net-sim.out"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'connection: &controller\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,38400n81,local\n' \
  "$port" "$(head -n 1 "$work/net-sim.out")" >"$work/ser2net.yaml"
"$ser2net" -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.out" 2>&1 &
ser2net_pid=$!
# Listening on 127.0.0.1:PORT, as the kernel's table of TCP sockets says (state 0A); no probe connection.
listen_at=$(printf '0100007F:%04X' "$port")
listening() { awk -v at="$listen_at" '$2 == at && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp; }
wait_until 10 listening
url=rfc2217://127.0.0.1:$port
"$loader" "$exe" update "$url" --main "Z:$work/main.bin" --second "Z:$work/second.bin" >"$work/net-update.out" 2>&1
status=$?
check "update $url exits 0" test "$status" -eq 0
check "the outcome line reads \"$url: Finished\"" grep -qx "$url: Finished" <(tr -d '\r' <"$work/net-update.out")
end_sim $((status == 0 ? 30 : 0))
check "the controller behind ser2net has the images" grep -q 'memory: main equal, second equal' "$work/net-sim.out"
check "that controller exits 0" test "$sim_status" -eq 0

# --- the station on COM7 ----------------------------------------------------------------------------------------

# plug NAME ARGS...: a controller in the slot: fwsim makes COM7's link to its terminal.
plug() {
  local name=$1
  shift
  "$sim" --link "$work/com7" --log "$work/$name.log" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  sim_pid=$!
  wait_until 10 test -L "$work/com7"
}
# unplug: the controller ends and takes COM7's link with it.
unplug() { end_sim 0; }

"$loader" "$exe" station COM7 --records "Z:$work/records.jsonl" --station wine --lot W1 >"$work/station.out" 2>&1 &
station_pid=$!
check "station starts and names its records file" wait_until 30 lines_in "$work/station.out" 'records to' 1
plug unit1 --expect-main "$root/update/images/main.bin" --expect-second "$root/update/images/second.bin"
check "the first unit is updated and recorded" wait_until 300 lines_in "$work/records.jsonl" '"outcome":"finished"' 1
# While it stays, the station keeps trying it about once a second and never updates it again.
check "the unit left in COM7 is tried again" wait_until 30 lines_in "$work/unit1.log" ' in id ' 5
check "... and not updated again" test "$(grep -c 'cmd=0A:00' "$work/unit1.log")" -eq 1
unplug
check "the first unit's memory equals the images" grep -q 'memory: main equal, second equal' "$work/unit1.out"
plug unit2 --status 03:20=0012
check "the next unit in COM7 is updated and recorded" \
  wait_until 120 lines_in "$work/records.jsonl" '"outcome":"device_error"' 1
unplug
check "the records: COM7, finished with 486 blocks, then the device status, both in lot W1" python3 -c '
import json, sys
r = [json.loads(line) for line in open(sys.argv[1])]
sys.exit(not (len(r) == 2 and all(x["slot"] == "COM7" and x["port"] == "COM7" and x["lot"] == "W1" for x in r)
              and r[0]["outcome"] == "finished" and r[0]["blocks_written"] == 486
              and r[1]["outcome"] == "device_error" and r[1]["device_status"] == 18))' "$work/records.jsonl"
kill -INT "$station_pid"
wait_until 30 lines_in "$work/station.out" 'station stopped' 1
check "Ctrl-C stops the station with its totals" grep -q 'station stopped by Ctrl-C: 2 units, 1 finished, 1 failed' \
  <(tr -d '\r' <"$work/station.out")
kill -KILL "$station_pid" 2>/dev/null
station_pid=

if [ "$failed" -ne 0 ]; then
  echo "--- station"; cat "$work/station.out"; cat "$work"/unit*.out "$work"/unit*.err 2>/dev/null
  echo "--- ports"; cat "$work/ports.out"
  echo "--- update"; cat "$work/update.out" "$work/absent.out" "$work/twice.out"
  echo "--- controller"; cat "$work/sim.out" "$work/sim.err"
  echo "--- update through ser2net"; cat "$work/net-update.out"
  echo "--- ser2net"; cat "$work/ser2net.out"
  echo "--- controller behind ser2net"; cat "$work/net-sim.out" "$work/net-sim.err"
fi
echo "cli-wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
