#!/usr/bin/env bash
# Whether this machine can run the 32-bit Wine, and so the shipped 32-bit Windows program. It runs programs to find
# out, never reads a kernel setting: the 32-bit loader (/usr/lib/wine/wine) when it is there, else a tiny static
# 32-bit x86 program that only exits. Three answers:
#
#   runs                                   the 32-bit loader starts
#   not installed                          no 32-bit loader, but the kernel runs 32-bit programs (install wine32:i386)
#   this kernel runs no 32-bit programs    the kernel refuses the loader or the tiny program (Exec format error)
#
# Run it to see which case this machine is in (exit status 0, 1 or 2 in that order); scripts source it and call
# wine32_probe, which sets WINE32_STATE (runs, not-installed or no-32-bit), WINE32_ANSWER (the answer's words) and
# WINE32_DETAIL (what was run and what it said). FWU_WINE32_LOADER names another 32-bit loader and
# FWU_WINE32_TEST_PROGRAM another program to run in place of the tiny one.

# shellcheck shell=bash

# A static i386 ELF program of 96 bytes: the ELF header, one program header loading the file at 0x08048000, then
# mov eax, 1; mov ebx, 42; int 0x80 (exit with status 42).
WINE32_TEST_ELF='7f454c46010101000000000000000000020003000100000054800408'\
'340000000000000000000000340020000100000000000000'\
'0100000000000000008004080080040860000000600000000500000000100000'\
'b801000000bb2a000000cd80'

# wine32__run <program> [arguments...]
#   Runs the program straight from this shell (execve and no more: tools that search PATH hand a program the kernel
#   refuses to /bin/sh) and sets wine32__status and wine32__output (its first line). A refused program leaves the
#   shell's "Exec format error", read in the C locale.
wine32__run() {
  wine32__status=0
  wine32__output=$(
    export LC_ALL=C
    "$@" 2>&1 </dev/null
  ) || wine32__status=$?
  wine32__output=${wine32__output%%$'\n'*}
}

wine32__refused() {
  [ "$wine32__status" -eq 126 ] && [[ $wine32__output == *"Exec format error"* ]]
}

# wine32_write_test_program <file>: writes the tiny 32-bit program to <file>, ready to run.
wine32_write_test_program() {
  local hex=$WINE32_TEST_ELF bytes=
  while [ -n "$hex" ]; do
    bytes+="\\x${hex:0:2}"
    hex=${hex:2}
  done
  # shellcheck disable=SC2059 # the format is the program's bytes
  printf "$bytes" >"$1" && chmod 700 "$1"
}

# wine32__run_test_program: runs the tiny 32-bit program, written to a folder that allows running programs.
wine32__run_test_program() {
  if [ -n "${FWU_WINE32_TEST_PROGRAM:-}" ]; then
    wine32__run "$FWU_WINE32_TEST_PROGRAM"
    wine32__expected=0
    return
  fi
  wine32__expected=42
  wine32__status=127 wine32__output="no folder to write a test program in"
  local dir file
  for dir in "${TMPDIR:-/tmp}" /dev/shm "${HOME:-/root}"; do
    file=$(mktemp "$dir/fwu-wine32-probe.XXXXXX" 2>/dev/null) || continue
    wine32_write_test_program "$file" && wine32__run "$file"
    rm -f "$file"
    # A folder mounted noexec denies the run; try the next one.
    if [ "$wine32__status" -ne 126 ] || wine32__refused; then
      return
    fi
  done
}

wine32_probe() {
  local loader=${FWU_WINE32_LOADER:-/usr/lib/wine/wine}
  if [ -e "$loader" ]; then
    wine32__run "$loader" --version
    if [ "$wine32__status" -eq 0 ]; then
      WINE32_STATE=runs WINE32_ANSWER="runs"
      WINE32_DETAIL="$loader: $wine32__output"
    elif wine32__refused; then
      WINE32_STATE=no-32-bit WINE32_ANSWER="this kernel runs no 32-bit programs"
      WINE32_DETAIL="$loader is installed, but the kernel refuses to start it: Exec format error"
    else
      # There but broken (a library missing, no permission): as good as not installed.
      WINE32_STATE=not-installed WINE32_ANSWER="not installed"
      WINE32_DETAIL="$loader is there but does not start (exit status $wine32__status: $wine32__output)"
    fi
    return
  fi
  wine32__run_test_program
  if wine32__refused; then
    WINE32_STATE=no-32-bit WINE32_ANSWER="this kernel runs no 32-bit programs"
    WINE32_DETAIL="no $loader, and the kernel refuses a 32-bit test program: Exec format error"
  else
    WINE32_STATE=not-installed WINE32_ANSWER="not installed"
    if [ "$wine32__status" -eq "$wine32__expected" ]; then
      WINE32_DETAIL="no $loader, though the kernel runs 32-bit programs: scripts/install-deps.sh installs wine32:i386"
    else
      WINE32_DETAIL="no $loader; a 32-bit test program ended with status $wine32__status"
      WINE32_DETAIL+=" ${wine32__output:+($wine32__output) }instead of $wine32__expected, so whether the kernel runs"
      WINE32_DETAIL+=" 32-bit programs is not known"
    fi
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  wine32_probe
  echo "32-bit Wine: $WINE32_ANSWER"
  echo "  $WINE32_DETAIL"
  case $WINE32_STATE in
    runs) exit 0 ;;
    not-installed) exit 1 ;;
    *) exit 2 ;;
  esac
fi
