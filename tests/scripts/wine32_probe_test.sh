#!/usr/bin/env bash
# One case of scripts/wine32-probe.sh: the 32-bit loader and the test program stood in for by programs whose
# fate is known, the answer and exit status checked.
#   wine32_probe_test.sh <source dir> <work dir> <case>
set -u
src=$1 work=$2 case=$3
mkdir -p "$work"
# shellcheck source=scripts/wine32-probe.sh
. "$src/scripts/wine32-probe.sh"

# A program the kernel refuses: the probe's own 32-bit program, its machine field (e_machine, offset 18) made
# one no kernel knows.
refused=$work/refused-$case
wine32_write_test_program "$refused"
printf '\x77\x77' | dd of="$refused" bs=1 seek=18 conv=notrunc status=none
# A 32-bit loader that is there but cannot start, as when one of its libraries is missing.
broken=$work/broken-$case
printf '#!/bin/sh\necho "wine: error while loading shared libraries: libwine.so.1" >&2\nexit 127\n' >"$broken"
chmod +x "$broken"
absent=$work/no-such-loader
runs=$(type -P true)

# Per case: the loader, the test program (empty: the probe's own), the exit status and the answer expected.
case $case in
  runs) set -- "$runs" "" 0 "runs" ;;
  not_installed) set -- "$absent" "$runs" 1 "not installed" ;;
  loader_refused) set -- "$refused" "" 2 "this kernel runs no 32-bit programs" ;;
  program_refused) set -- "$absent" "$refused" 2 "this kernel runs no 32-bit programs" ;;
  loader_broken) set -- "$broken" "" 1 "not installed" ;;
  test_program | pe32_refused | pe32_runs) ;;
  *)
    echo "unknown case $case" >&2
    exit 2
    ;;
esac

case $case in
  test_program)
    # The probe's own 32-bit program either runs (exits 42) or is refused by a kernel without 32-bit support:
    # never anything else, which would make the answer "not known".
    out=$(FWU_WINE32_LOADER=$absent bash "$src/scripts/wine32-probe.sh")
    status=$?
    echo "$out"
    if [[ $out == *"runs 32-bit programs"* && $status -eq 1 ]] ||
      [[ $out == *"refuses a 32-bit test program"* && $status -eq 2 ]]; then
      exit 0
    fi
    echo "the probe's 32-bit program neither ran nor was refused (status $status)"
    exit 1
    ;;
  pe32_refused | pe32_runs)
    # A PE32 header (offset 0x40, optional header magic 0x10B) is all wine_loader reads.
    exe=$work/$case.exe
    printf 'MZ' >"$exe"
    printf '\x40\x00\x00\x00' | dd of="$exe" bs=1 seek=60 conv=notrunc status=none
    printf 'PE\x00\x00' | dd of="$exe" bs=1 seek=64 conv=notrunc status=none
    printf '\x0b\x01' | dd of="$exe" bs=1 seek=88 conv=notrunc status=none
    loader=$refused
    [ "$case" = pe32_refused ] || loader=$runs
    out=$(FWU_WINE32_LOADER=$loader bash -c '. "$1/tests/wine/wine-common.sh" && wine_loader "$2"' _ "$src" "$exe" 2>&1)
    status=$?
    echo "$out"
    if [ "$case" = pe32_refused ]; then
      [ "$status" -ne 0 ] && [[ $out == *"cannot run here. 32-bit Wine: this kernel runs no 32-bit programs"* ]]
    else
      [ "$status" -eq 0 ] && [ "$out" = "$loader" ]
    fi
    exit
    ;;
esac

out=$(FWU_WINE32_LOADER=$1 FWU_WINE32_TEST_PROGRAM=$2 bash "$src/scripts/wine32-probe.sh")
status=$?
echo "$out"
first=$(head -n 1 <<<"$out")
if [ "$status" -ne "$3" ] || [ "$first" != "32-bit Wine: $4" ]; then
  echo "expected \"32-bit Wine: $4\" and exit status $3"
  exit 1
fi
