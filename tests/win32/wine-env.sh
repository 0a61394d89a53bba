# shellcheck shell=bash
# Shared set-up for running Windows programs under Wine on a virtual X display; sourced by the scripts beside it.
#
#   fwu_wine_start <work-dir>   makes (once) a Wine prefix under <work-dir>, starts an Xvfb display of its own
#                               and sets WINEPREFIX, WINEDEBUG and DISPLAY; everything stops when the shell exits.
#
# Wine's own output goes to files under <work-dir>: its background processes inherit a pipe and keep it open.

# shellcheck source=tests/wine/wine-common.sh
. "$(dirname "${BASH_SOURCE[0]}")/../wine/wine-common.sh"

fwu_wine_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  wine_stop_xvfb
}

fwu_wine_start() {
  local work=$1
  mkdir -p "$work"
  work=$(cd "$work" && pwd)
  # For the scripts that source this file.
  # shellcheck disable=SC2034
  fwu_wine_work=$work

  # One run at a time per prefix: the wineserver is shared, and stopping it at the end ends every program in it.
  exec 9>"$work/lock"
  flock 9

  export WINEPREFIX="$work/prefix"
  export WINEDEBUG=-all
  # No .NET or HTML engine: the programs need neither, and installing them would ask for downloads.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  trap fwu_wine_stop EXIT

  # A display of our own: Xvfb chooses a free number and tells us.
  wine_start_xvfb "$work" 800x600x24 30 || {
    echo "Xvfb did not start; see $work/xvfb.log" >&2
    return 1
  }

  if [ ! -f "$WINEPREFIX/.fwu-ready" ]; then
    rm -rf "$WINEPREFIX"
    wine_make_prefix "$work/wineboot.log" 800x600 wine_run || {
      echo "$wine_prefix_failure; see $work/wineboot.log" >&2
      return 1
    }
    wineserver -w
    touch "$WINEPREFIX/.fwu-ready"
  fi
}
