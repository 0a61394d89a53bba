# Shared set-up for running Windows programs under Wine on a virtual X display; sourced by the scripts beside it.
#
#   fwu_wine_start <work-dir>   makes (once) a Wine prefix under <work-dir>, starts an Xvfb display of its own
#                               and sets WINEPREFIX, WINEDEBUG and DISPLAY; everything stops when the shell exits.
#
# Wine's own output goes to files under <work-dir>: its background processes inherit a pipe and keep it open.

fwu_wine_deadline_passed() {  # start-seconds limit-seconds
  [ $(( $(date +%s) - $1 )) -gt "$2" ]
}

fwu_wine_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "${fwu_xvfb_pid:-}" ]; then
    kill "$fwu_xvfb_pid" 2>/dev/null || true
    wait "$fwu_xvfb_pid" 2>/dev/null || true
  fi
}

fwu_wine_start() {
  local work=$1
  mkdir -p "$work"
  work=$(cd "$work" && pwd)
  fwu_wine_work=$work

  # One run at a time per prefix: the wineserver is shared, and stopping it at the end ends every program in it.
  exec 9>"$work/lock"
  flock 9

  export WINEPREFIX="$work/prefix"
  export WINEDEBUG=-all
  # No .NET or HTML engine: the programs need neither, and installing them would ask for downloads.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  trap fwu_wine_stop EXIT

  # A display of our own: -displayfd makes Xvfb choose a free number and tell us.
  local displayFile="$work/display"
  : >"$displayFile"
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$displayFile" >"$work/xvfb.log" 2>&1 &
  fwu_xvfb_pid=$!
  local start
  start=$(date +%s)
  until [ -s "$displayFile" ]; do
    if fwu_wine_deadline_passed "$start" 30 || ! kill -0 "$fwu_xvfb_pid" 2>/dev/null; then
      echo "Xvfb did not start; see $work/xvfb.log" >&2
      return 1
    fi
    sleep 0.1
  done
  export DISPLAY=":$(head -n1 "$displayFile")"

  if [ ! -f "$WINEPREFIX/.fwu-ready" ]; then
    rm -rf "$WINEPREFIX"
    wine wineboot --init >"$work/wineboot.log" 2>&1
    # Every program runs in a virtual desktop: outside one, Wine stalls about 2 s after each message box closes.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >>"$work/wineboot.log" 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 800x600 /f \
      >>"$work/wineboot.log" 2>&1
    wineserver -w
    touch "$WINEPREFIX/.fwu-ready"
  fi
}
