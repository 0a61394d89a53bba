# Shared by the end-to-end suite (tests/e2e/run-e2e.sh) and the demo (scripts/run-demo.sh): a Wine prefix
# whose COM7 is a pseudo-terminal with the simulated controller behind it, a display, the updater under Wine
# and the driver that works its dialog. Source it, then call e2e_setup.
#
# Wine facts this relies on:
# - Wine reads the COM port mapping (HKLM\Software\Wine\Ports) only when its server starts, so COM7 points
#   once at a fixed symlink of ours, which is re-pointed at each new pseudo-terminal.
# - Without a virtual desktop the program stalls about 2 s after every message box.
# - Wine's background processes inherit the output descriptors and keep them open: its output goes to files,
#   never to pipes.
# - Wine checks no share mode on character devices: a second open of COM7 succeeds even while another Windows
#   program holds it. The kernel's exclusive mode (TIOCEXCL) does stop a second open, except for a process
#   with CAP_SYS_ADMIN; so Wine runs without that capability, and a port "held by another program" is a
#   terminal held in exclusive mode.

# shellcheck shell=bash
# The E2E_* variables set here are for the scripts that source this file.
# shellcheck disable=SC2034
E2E_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=tests/wine/wine-common.sh
. "$E2E_REPO/tests/wine/wine-common.sh"
E2E_DESKTOP_SIZE=${E2E_DESKTOP_SIZE:-1024x768}

e2e_log() { printf '%s\n' "$*"; }
e2e_die() {
  printf 'error: %s\n' "$*" >&2
  exit 2
}

# Windows path of a Linux file, through the Z: drive that maps /.
e2e_winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Finds the programs: the Windows build (program and driver) of the preset FWU_E2E_BUILD names (mingw-i686, the
# shipped 32-bit program, or mingw-x86_64, the default) and the simulated controller from the optimised build if
# there is one, else from the test build. FWU_E2E_APP, FWU_E2E_DRIVER and FWU_E2E_SIM override.
e2e_find_programs() {
  E2E_BUILD=${FWU_E2E_BUILD:-mingw-x86_64}
  E2E_APP=${FWU_E2E_APP:-$E2E_REPO/build/$E2E_BUILD/app/fwupdate.exe}
  E2E_DRIVER=${FWU_E2E_DRIVER:-$E2E_REPO/build/$E2E_BUILD/tests/e2e/driver/fwu_e2e_driver.exe}
  E2E_SIM=${FWU_E2E_SIM:-}
  if [ -z "$E2E_SIM" ]; then
    for candidate in "$E2E_REPO/build/release/sim/fwsim" "$E2E_REPO/build/native/sim/fwsim"; do
      if [ -x "$candidate" ]; then
        E2E_SIM=$candidate
        break
      fi
    done
  fi
  [ -f "$E2E_APP" ] || e2e_die "no $E2E_APP (build it: cmake --workflow --preset $E2E_BUILD)"
  [ -f "$E2E_DRIVER" ] || e2e_die "no $E2E_DRIVER (build it: cmake --workflow --preset $E2E_BUILD)"
  if [ -z "$E2E_SIM" ] || [ ! -x "$E2E_SIM" ]; then
    e2e_die "no simulated controller (build it: cmake --workflow --preset release)"
  fi
  # Each program runs with the Wine loader that matches it: 32-bit for a PE32, 64-bit for a PE32+.
  E2E_APP_LOADER=$(wine_loader "$E2E_APP") || e2e_die "cannot run $E2E_APP"
  E2E_DRIVER_LOADER=$(wine_loader "$E2E_DRIVER") || e2e_die "cannot run $E2E_DRIVER"
  E2E_MAIN_IMAGE=$E2E_REPO/update/images/main.bin
  E2E_SECOND_IMAGE=$E2E_REPO/update/images/second.bin
}

# Prepares a work folder and the environment every Wine call shares.
e2e_setup() {
  E2E_WORK=$(mktemp -d "${TMPDIR:-/tmp}/fwu-e2e.XXXXXX")
  E2E_COM7_LINK=$E2E_WORK/com7
  E2E_SIM_PID=
  E2E_APP_PID=
  E2E_HOLDER_PID=
  export WINEPREFIX=$E2E_WORK/prefix
  export WINEDEBUG=-all
  # No Mono or Gecko installer dialogs while the prefix is made.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # Every Wine process runs without CAP_SYS_ADMIN (see above).
  WINE_WRAPPER=()
  if e2e_has_sys_admin && setpriv --bounding-set=-sys_admin true 2>/dev/null; then
    WINE_WRAPPER=(setpriv --bounding-set=-sys_admin)
  fi
  trap e2e_cleanup EXIT
}

e2e_has_sys_admin() {
  local effective
  effective=$(awk '/^CapEff:/ { print $2 }' /proc/self/status)
  # CAP_SYS_ADMIN is capability 21.
  (((0x$effective >> 21) & 1))
}

# A virtual display for Wine, on a display number that Xvfb picks itself.
e2e_start_xvfb() {
  local status=0
  wine_start_xvfb "$E2E_WORK" 1280x1024x24 10 || status=$?
  case $status in
    0) ;;
    1) e2e_die "Xvfb did not start (see $E2E_WORK/xvfb.log)" ;;
    *) e2e_die "Xvfb gave no display number within 10 s" ;;
  esac
}

# Whether DISPLAY names an X server that answers.
e2e_display_reachable() {
  [ -n "${DISPLAY:-}" ] && timeout 5 xwd -root -silent >/dev/null 2>&1
}

# A fresh prefix with COM7 on our symlink and every program inside one virtual desktop. About 15 s.
e2e_make_prefix() {
  local log=$E2E_WORK/prefix.log
  wine_make_prefix "$log" "$E2E_DESKTOP_SIZE" wine_run || e2e_die "$wine_prefix_failure (see $log)"
  wine_run reg add 'HKEY_LOCAL_MACHINE\Software\Wine\Ports' /v COM7 /t REG_SZ /d "$E2E_COM7_LINK" /f \
    >>"$log" 2>&1 || e2e_die "could not map COM7 (see $log)"
  # The port mapping takes effect when the server next starts.
  wineserver -k >>"$log" 2>&1 || true
}

# Starts the simulated controller with the given options on a new pseudo-terminal behind COM7, and waits
# until the symlink points at it. Its standard output and error go to <dir>/sim.out and <dir>/sim.err.
e2e_start_sim() {
  local dir=$1
  shift
  rm -f "$E2E_COM7_LINK"
  "$E2E_SIM" --link "$E2E_COM7_LINK" "$@" >"$dir/sim.out" 2>"$dir/sim.err" &
  E2E_SIM_PID=$!
  local waited=0 slave=
  while :; do
    slave=$(head -n 1 "$dir/sim.out" 2>/dev/null || true)
    if [ -n "$slave" ] && [ "$(readlink "$E2E_COM7_LINK" 2>/dev/null)" = "$slave" ]; then
      break
    fi
    if ! kill -0 "$E2E_SIM_PID" 2>/dev/null; then
      e2e_log "the simulated controller ended at start: $(cat "$dir/sim.err")"
      E2E_SIM_PID=
      return 1
    fi
    ((waited++ < 100)) || {
      e2e_log "the simulated controller gave no terminal within 10 s"
      return 1
    }
    sleep 0.1
  done
  E2E_SIM_SLAVE=$slave
}

# Stops the simulated controller as an operator unplugs it (SIGTERM) and returns its exit code.
e2e_stop_sim() {
  local status=0
  if [ -n "$E2E_SIM_PID" ]; then
    kill -TERM "$E2E_SIM_PID" 2>/dev/null || true
    wait "$E2E_SIM_PID" || status=$?
    E2E_SIM_PID=
  fi
  return "$status"
}

# Holds the controller's terminal open in exclusive mode, as another program on the machine would, until
# e2e_release_port.
e2e_hold_port() {
  local dir=$1
  python3 - "$E2E_COM7_LINK" >"$dir/holder.out" 2>&1 <<'EOF' &
import fcntl, os, signal, sys, termios
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
fcntl.ioctl(fd, termios.TIOCEXCL)
def release(*_):
    fcntl.ioctl(fd, termios.TIOCNXCL)
    os.close(fd)
    print("released", flush=True)
    sys.exit(0)
signal.signal(signal.SIGTERM, release)
print("held", os.ttyname(fd), flush=True)
while True:
    signal.pause()
EOF
  E2E_HOLDER_PID=$!
  local waited=0
  until grep -q '^held' "$dir/holder.out" 2>/dev/null; do
    kill -0 "$E2E_HOLDER_PID" 2>/dev/null || {
      e2e_log "the port holder failed: $(cat "$dir/holder.out")"
      return 1
    }
    ((waited++ < 100)) || return 1
    sleep 0.1
  done
}

e2e_release_port() {
  if [ -n "$E2E_HOLDER_PID" ]; then
    kill -TERM "$E2E_HOLDER_PID" 2>/dev/null || true
    wait "$E2E_HOLDER_PID" 2>/dev/null || true
    E2E_HOLDER_PID=
  fi
}

# Starts the updater under Wine; its own output goes to <dir>/app.out.
e2e_start_app() {
  local dir=$1
  # The loader directly, not a shell function, so that the process id held is the updater's.
  "${WINE_WRAPPER[@]}" "$E2E_APP_LOADER" "$E2E_APP" >"$dir/app.out" 2>&1 &
  E2E_APP_PID=$!
}

# Waits up to <seconds> for the updater to end and returns its exit code (124 when it did not end; it is
# then killed).
e2e_wait_app() {
  local seconds=$1 waited=0 status=0
  [ -n "$E2E_APP_PID" ] || return 0
  while kill -0 "$E2E_APP_PID" 2>/dev/null; do
    if ((waited++ >= seconds * 10)); then
      kill -KILL "$E2E_APP_PID" 2>/dev/null || true
      wait "$E2E_APP_PID" 2>/dev/null || true
      E2E_APP_PID=
      return 124
    fi
    sleep 0.1
  done
  wait "$E2E_APP_PID" || status=$?
  E2E_APP_PID=
  return "$status"
}

e2e_kill_app() {
  if [ -n "$E2E_APP_PID" ]; then
    kill -KILL "$E2E_APP_PID" 2>/dev/null || true
    wait "$E2E_APP_PID" 2>/dev/null || true
    E2E_APP_PID=
  fi
}

# Runs one driver scenario. The transcript goes to <transcript>; with "live" it is also shown as it grows.
e2e_run_driver() {
  local script=$1 transcript=$2 mode=${3:-quiet} status=0
  : >"$transcript"
  if [ "$mode" = live ]; then
    tail -n +1 -f "$transcript" &
    local tailPid=$!
  fi
  timeout 600 "${WINE_WRAPPER[@]}" "$E2E_DRIVER_LOADER" "$E2E_DRIVER" "$(e2e_winpath "$script")" >"$transcript" 2>&1 ||
    status=$?
  if [ "$mode" = live ]; then
    # Let tail print the last lines before it goes.
    sleep 0.3
    kill "$tailPid" 2>/dev/null || true
    wait "$tailPid" 2>/dev/null || true
  fi
  return "$status"
}

e2e_cleanup() {
  e2e_release_port
  e2e_kill_app
  e2e_stop_sim >/dev/null 2>&1 || true
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    # The server may dump its object lists at shutdown after serial use; nobody needs them.
    wineserver -k >/dev/null 2>&1 || true
  fi
  wine_stop_xvfb
  if [ -n "${E2E_WORK:-}" ] && [ -z "${E2E_KEEP:-}" ]; then
    rm -rf "$E2E_WORK"
  fi
}
