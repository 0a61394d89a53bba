#!/usr/bin/env bash
# Runs a Windows test program under Wine (the loader that matches it, 32- or 64-bit) on a virtual X display,
# inside a Wine virtual desktop, and ends with its exit code. The Wine prefix is made on the first run and kept in
# <work-dir>.
#
#   tests/win32/run-under-wine.sh <work-dir> <program.exe> [arguments...]
#
# Example: tests/win32/run-under-wine.sh build/mingw-x86_64/wine build/mingw-x86_64/tests/win32/fwu_win32_tests.exe
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 <work-dir> <program.exe> [arguments...]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/win32/wine-env.sh
. "$here/wine-env.sh"

work=$1
program=$2
shift 2
fwu_wine_start "$work"

name=$(basename "$program" .exe)
status=0
wine_run "$program" "$@" >"$fwu_wine_work/$name.out" 2>"$fwu_wine_work/$name.err" || status=$?
cat "$fwu_wine_work/$name.out"
if [ "$status" -ne 0 ]; then
  echo "$name exited with $status; Wine's messages are in $fwu_wine_work/$name.err" >&2
fi
exit "$status"
