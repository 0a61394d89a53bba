# shellcheck shell=bash
# The Wine rows of the benchmark, sourced by run-bench.sh: fwupdate.exe under Wine on a virtual display, its
# COM7 on the tap's terminal, worked by the end-to-end driver as an operator would (COM OPEN, then UPDATE, then
# OK on "Finished"). One row per Windows build: the shipped 32-bit program under the 32-bit Wine loader, the
# 64-bit one under wine64 (each started with the loader its PE header asks for). The processor time is read from /proc for the Wine process that runs fwupdate.exe and for
# the Wine server (which carries much of Wine's serial I/O), just before UPDATE is pressed and as soon as the
# controller has closed the update's last exchange.

# Clock ticks in user and in system mode of one process (all its threads): "user system", or "0 0" when it
# has gone.
wine_cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || {
    echo "0 0"
    return 0
  }
  # The command name may hold blanks; the fields after it are fixed: utime and stime are the 12th and 13th.
  # shellcheck disable=SC2086
  set -- ${stat##*) }
  echo "${12} ${13}"
}

# The process ids whose command line contains <text> and that belong to this run's Wine prefix.
wine_pids() {
  local text=$1 entry pid
  for entry in /proc/[0-9]*; do
    pid=${entry#/proc/}
    # A process may end between the listing and the reading.
    if { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -qF -- "$text" &&
      { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
    fi
  done
}

# Sums of the user and system clock ticks of <pids>: "user system".
wine_ticks_of() {
  local user=0 system=0 pid u s
  for pid in "$@"; do
    read -r u s < <(wine_cpu_ticks "$pid")
    user=$((user + u))
    system=$((system + s))
  done
  echo "$user $system"
}

# Runs one driver scenario given on standard input; its transcript goes to <dir>/<name>.transcript.
wine_drive() {
  local dir=$1 name=$2
  cat >"$dir/$name.txt"
  e2e_run_driver "$dir/$name.txt" "$dir/$name.transcript"
}

# wine_row <name> <Windows build folder>: one update by that build's fwupdate.exe, its logs in $OUT/<name>.
wine_row() {
  local name=$1 win_build=$2
  say "Wine update ($name): $win_build/app/fwupdate.exe driven through its dialog (about 2 minutes with the prefix)"
  local dir=$OUT/$name
  mkdir -p "$dir"
  # shellcheck source=/dev/null
  . "$REPO/tests/e2e/lib.sh"
  FWU_E2E_APP=$win_build/app/fwupdate.exe FWU_E2E_DRIVER=$win_build/tests/e2e/driver/fwu_e2e_driver.exe \
    FWU_E2E_SIM=$BUILD/sim/fwsim e2e_find_programs
  e2e_setup
  trap 'e2e_cleanup; cleanup' EXIT
  e2e_start_xvfb
  e2e_make_prefix

  start_line "$dir" "$E2E_COM7_LINK"
  e2e_start_app "$dir"
  wine_drive "$dir" open <<'EOF' || { say "the Wine updater did not open COM7 (see $dir/open.transcript)"; return 1; }
timeout|60
wait-dialog
select-port|COM7
click|1001
pattern|open
EOF
  # COM OPEN runs a version read; UPDATE is pressed once its exchange has been closed.
  local waited=0
  until grep -q ' out frame EOT ' "$dir/sim.log" 2>/dev/null; do
    ((waited++ < 300)) || {
      say "the version read after COM OPEN did not end"
      return 1
    }
    sleep 0.1
  done
  sleep 0.5

  local app_pids server_pids
  app_pids=$(wine_pids fwupdate.exe)
  server_pids=$(wine_pids wineserver)
  [ -n "$app_pids" ] || {
    say "no Wine process runs fwupdate.exe"
    return 1
  }
  local app_user0 app_sys0 server_user0 server_sys0 app_user1 app_sys1 server_user1 server_sys1
  # shellcheck disable=SC2086
  read -r app_user0 app_sys0 < <(wine_ticks_of $app_pids)
  # shellcheck disable=SC2086
  read -r server_user0 server_sys0 < <(wine_ticks_of $server_pids)
  wine_drive "$dir" update <<'EOF' || { say "UPDATE could not be pressed (see $dir/update.transcript)"; return 1; }
timeout|60
wait-dialog
click|1006
EOF
  # fwsim ends once the update's last exchange has been closed.
  waited=0
  while kill -0 "$SIM_PID" 2>/dev/null && ((waited++ < UPDATE_LIMIT_S * 10)); do
    sleep 0.1
  done
  # shellcheck disable=SC2086
  read -r app_user1 app_sys1 < <(wine_ticks_of $app_pids)
  # shellcheck disable=SC2086
  read -r server_user1 server_sys1 < <(wine_ticks_of $server_pids)
  stop_line 0

  local finished=0
  wine_drive "$dir" finish <<'EOF' && finished=1
timeout|60
wait-dialog
box|Finished||none
text|1005|100 %
click|1002
pattern|closed
close|sc|closed
EOF
  e2e_wait_app 30 || true
  local tick_us=$((1000000 / $(getconf CLK_TCK)))
  {
    echo "cpu_user_us=$(((app_user1 - app_user0) * tick_us))"
    echo "cpu_sys_us=$(((app_sys1 - app_sys0) * tick_us))"
    echo "server_us=$(((server_user1 - server_user0 + server_sys1 - server_sys0) * tick_us))"
    echo "finished=$finished"
  } >"$dir/cpu.txt"
  e2e_cleanup
  trap cleanup EXIT
}
