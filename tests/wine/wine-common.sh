# shellcheck shell=bash
# What every Wine harness here needs: an X display of its own and a prefix whose programs run inside one virtual
# desktop. Sourced by tests/win32/wine-env.sh and tests/e2e/lib.sh; they keep their own locks, traps and messages.

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
#   one, Wine stalls about 2 s after each message box closes. The wine command may be a wrapper. Output goes
#   to <log>. On failure returns 1 and leaves in wine_prefix_failure, for the caller's message, the step that failed.
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
