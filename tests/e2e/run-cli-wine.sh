#!/usr/bin/env bash
# fwupdate-cli.exe under Wine, as a script on a production line would run it: `ports` lists without failing,
# `update COM7` against the simulated controller on a pseudo-terminal ends "Finished" with exit status 0, a JSON
# record saying so (replacing an earlier summary), and the controller's memory equal to the carried images; an
# absent port is named with the system's reason, and a port given twice is refused; and
# `update rfc2217://127.0.0.1:PORT` through ser2net (Winsock reaching the Linux host's loopback) in front of another
# simulated controller ends the same way for a pair of small image files.
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
ser2net_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
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
for _ in $(seq 100); do
  [ -s "$work/net-sim.out" ] && break
  sleep 0.1
done
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'connection: &controller\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,38400n81,local\n' \
  "$port" "$(head -n 1 "$work/net-sim.out")" >"$work/ser2net.yaml"
"$ser2net" -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.out" 2>&1 &
ser2net_pid=$!
# Listening on 127.0.0.1:PORT, as the kernel's table of TCP sockets says (state 0A); no probe connection.
listening=$(printf '0100007F:%04X' "$port")
for _ in $(seq 100); do
  awk -v at="$listening" '$2 == at && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp && break
  sleep 0.1
done
url=rfc2217://127.0.0.1:$port
"$loader" "$exe" update "$url" --main "Z:$work/main.bin" --second "Z:$work/second.bin" >"$work/net-update.out" 2>&1
status=$?
check "update $url exits 0" test "$status" -eq 0
# A controller whose update failed would wait for ever.
[ "$status" -eq 0 ] || kill "$sim_pid" 2>/dev/null
check "the outcome line reads \"$url: Finished\"" grep -qx "$url: Finished" <(tr -d '\r' <"$work/net-update.out")
wait "$sim_pid"
sim_status=$?
sim_pid=
check "the controller behind ser2net has the images" grep -q 'memory: main equal, second equal' "$work/net-sim.out"
check "that controller exits 0" test "$sim_status" -eq 0

if [ "$failed" -ne 0 ]; then
  echo "--- ports"; cat "$work/ports.out"
  echo "--- update"; cat "$work/update.out" "$work/absent.out" "$work/twice.out"
  echo "--- controller"; cat "$work/sim.out" "$work/sim.err"
  echo "--- update through ser2net"; cat "$work/net-update.out"
  echo "--- ser2net"; cat "$work/ser2net.out"
  echo "--- controller behind ser2net"; cat "$work/net-sim.out" "$work/net-sim.err"
fi
echo "cli-wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
