# shellcheck shell=bash
# What every Wine harness here needs: an X display of its own and a prefix whose programs run inside one virtual
# desktop. Sourced by tests/win32/wine-env.sh and tests/e2e/lib.sh; they keep their own locks, traps and messages.

# Wine's two loaders, called directly: once wine32 is installed, the `wine` wrapper always takes the 32-bit one,
# and a 64-bit program started through it runs as the child of a 32-bit stub, so the process id held is not the
# program's. Both share one prefix. Whether the 32-bit one can run here at all, the probe tells.
# shellcheck source=scripts/wine32-probe.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine32-probe.sh"
WINE_LOADER_32=${FWU_WINE32_LOADER:-/usr/lib/wine/wine}
WINE_LOADER_64=/usr/lib/wine/wine64
# A command that every Wine process runs through, set by a caller that needs one (e.g. to drop a capability).
WINE_WRAPPER=()

# wine_loader <program.exe>
#   Prints the loader that matches the program: the 32-bit one for a PE32, the 64-bit one for a PE32+, told by the
#   optional header's magic (0x10B or 0x20B) that the PE header at the offset held at 0x3C carries. Wine's own
#   tools, named without a path (wineboot, reg), run with the 64-bit loader. Fails with a message when the file
#   is no PE program or its loader is not installed, or, for a 32-bit program, when this machine cannot run the
#   32-bit Wine (wine32_probe).
wine_loader() {
  local program=$1 loader peOffset signature magic
  if [[ $program != */* ]] && [ ! -e "$program" ]; then
    loader=$WINE_LOADER_64
  elif [ ! -f "$program" ]; then
    echo "$program: no such file" >&2
    return 1
  else
    peOffset=$(od -An -tu4 -j60 -N4 "$program" 2>/dev/null | tr -d ' ')
    signature=$(od -An -tx1 -j"${peOffset:-0}" -N4 "$program" 2>/dev/null | tr -d ' ')
    magic=$(od -An -tx1 -j$((${peOffset:-0} + 24)) -N2 "$program" 2>/dev/null | tr -d ' ')
    case $signature:$magic in
      50450000:0b01) loader=$WINE_LOADER_32 ;;
      50450000:0b02) loader=$WINE_LOADER_64 ;;
      *)
        echo "$program: not a Windows program (no PE32 or PE32+ header)" >&2
        return 1
        ;;
    esac
  fi
  if [ "$loader" = "$WINE_LOADER_32" ]; then
    wine32_probe
    if [ "$WINE32_STATE" != runs ]; then
      echo "$program is a 32-bit Windows program, and it cannot run here. 32-bit Wine: $WINE32_ANSWER" >&2
      echo "  $WINE32_DETAIL" >&2
      return 1
    fi
  elif [ ! -x "$loader" ]; then
    echo "$loader is missing, needed for $program (scripts/install-deps.sh installs wine64)" >&2
    return 1
  fi
  printf '%s\n' "$loader"
}

# wine_run <program.exe> [arguments...]
#   Runs the program with the loader that matches it (wine_loader), through the command in the array
#   WINE_WRAPPER when the caller set one.
wine_run() {
  local loader
  loader=$(wine_loader "$1") || return 127
  "${WINE_WRAPPER[@]}" "$loader" "$@"
}

# wine_start_xvfb <work-dir> <screen WxHxD> <seconds>
#   Starts Xvfb on a display number it picks itself (-displayfd) and waits up to <seconds> for that number; then
#   exports DISPLAY. wine_xvfb_pid is set at once, so a trap can stop it with wine_stop_xvfb. Xvfb's output goes
#   to <work-dir>/xvfb.log. Returns 1 when Xvfb ended at start, 2 when it gave no number in time.
wine_start_xvfb() {
  local work=$1 screen=$2 seconds=$3
  local displayFile=$work/display
  : >"$displayFile"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$displayFile" >"$work/xvfb.log" 2>&1 &
  wine_xvfb_pid=$!
  local deadline=$((SECONDS + seconds))
  until [ -s "$displayFile" ]; do
    kill -0 "$wine_xvfb_pid" 2>/dev/null || return 1
    ((SECONDS < deadline)) || return 2
    sleep 0.1
  done
  DISPLAY=:$(tr -d '[:space:]' <"$displayFile")
  export DISPLAY
}

wine_stop_xvfb() {
  if [ -n "${wine_xvfb_pid:-}" ]; then
    kill "$wine_xvfb_pid" 2>/dev/null || true
    wait "$wine_xvfb_pid" 2>/dev/null || true
    wine_xvfb_pid=
  fi
}

# wine_make_prefix <log> <desktop WxH> <wine command...>
#   Makes the prefix WINEPREFIX names, with every program inside one virtual desktop of the given size: outside
#   one, Wine stalls about 2 s after each message box closes. The wine command (wine_run, or a wrapper of it) is
#   given Wine's own tools by name. Output goes to <log>. On failure returns 1 and leaves in wine_prefix_failure,
#   for the caller's message, the step that failed.
# shellcheck disable=SC2034
wine_make_prefix() {
  local log=$1 size=$2
  shift 2
  wine_prefix_failure=
  "$@" wineboot --init >"$log" 2>&1 || {
    wine_prefix_failure="wineboot failed"
    return 1
  }
  "$@" reg add 'HKEY_CURRENT_USER\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >>"$log" 2>&1 || {
    wine_prefix_failure="could not set the virtual desktop"
    return 1
  }
  "$@" reg add 'HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d "$size" /f \
    >>"$log" 2>&1 || {
    wine_prefix_failure="could not size the virtual desktop"
    return 1
  }
}
