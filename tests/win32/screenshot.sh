#!/usr/bin/env bash
# Starts the real fwupdate.exe under Wine on a virtual X display, checks from outside that its dialog shows the
# carried firmware in the title, the port selector and the closed pattern, saves a picture of the screen, then
# closes the window and expects exit code 0.
#
#   tests/win32/screenshot.sh <work-dir> <fwupdate.exe> <dialog_probe.exe> <main image> <picture.png>
set -euo pipefail

if [ $# -ne 5 ]; then
  echo "usage: $0 <work-dir> <fwupdate.exe> <dialog_probe.exe> <main image> <picture.png>" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/win32/wine-env.sh
. "$here/wine-env.sh"

work=$1
program=$2
probe=$3
image=$4
picture=$5

# The title the carried main image gives: "UPDATE  " + model name + "  " + version, each text reached through its
# little-endian pointer (image offsets 0x1010 and 0x1014; the image starts at controller address 0xFFF80000).
expected=$(python3 - "$image" <<'PY'
import struct, sys
image = open(sys.argv[1], "rb").read()
def text(pointer):
    at = struct.unpack_from("<I", image, pointer)[0] - 0xFFF80000
    return "" if image[at] == 0xFF else image[at:image.index(b"\0", at)].decode("ascii")
print("UPDATE  " + text(0x1010) + "  " + text(0x1014))
PY
)

fwu_wine_start "$work"

# Started through its loader directly, so that the process waited for is the program itself.
loader=$(wine_loader "$program")
"$loader" "$program" >"$fwu_wine_work/fwupdate.out" 2>"$fwu_wine_work/fwupdate.err" &
app=$!

status=0
wine_run "$probe" --title "$expected" >"$fwu_wine_work/probe.out" 2>"$fwu_wine_work/probe.err" || status=$?
cat "$fwu_wine_work/probe.out"
mkdir -p "$(dirname "$picture")"
import -window root "$picture"
echo "picture: $picture"

closeStatus=0
wine_run "$probe" --close >"$fwu_wine_work/probe-close.out" 2>>"$fwu_wine_work/probe.err" || closeStatus=$?
cat "$fwu_wine_work/probe-close.out"
exitCode=0
wait "$app" || exitCode=$?
echo "fwupdate.exe exit code: $exitCode"

[ "$status" -eq 0 ] && [ "$closeStatus" -eq 0 ] && [ "$exitCode" -eq 0 ]
