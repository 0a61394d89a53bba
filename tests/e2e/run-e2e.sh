#!/usr/bin/env bash
# End-to-end tests: the real Windows program (build/<preset>/app/fwupdate.exe) under Wine and Xvfb, its COM7 a
# pseudo-terminal with the simulated controller behind it, worked through its dialog by the driver
# (build/<preset>/tests/e2e/driver/fwu_e2e_driver.exe) as an operator works it. Builds nothing: run
# `cmake --workflow --preset <preset>` and `cmake --workflow --preset release` (or native) first.
#
#   tests/e2e/run-e2e.sh [-b preset] [-v] [-k] [case ...]
#     -b  the Windows build: mingw-x86_64 (default) or mingw-i686, the shipped 32-bit program
#     -v  show every transcript as it is written     -k  keep the work folder (transcripts, logs)
#     case names select cases (default: all); -l lists them.
set -euo pipefail

# shellcheck source=tests/e2e/lib.sh
. "$(dirname "$0")/lib.sh"

# What the carried main image says about itself (update/images/make_images.py).
readonly MODEL="KX42 MOTION CONTROLLER"
readonly CARRIED_VERSION="0213"
readonly TITLE="UPDATE  $MODEL  $CARRIED_VERSION"
# The version the simulated controller reports before an update.
readonly CONTROLLER_VERSION="0107"
readonly FIXED_PORTS="COM1|COM2|COM3|COM4|COM5|COM6|COM7|COM8|COM9|COM10"
readonly TEMPLATE_VERSIONS='FIRMWARE          :\r\nNEW FIRMWARE  :'
readonly SHOWN_VERSIONS="FIRMWARE          :$CONTROLLER_VERSION\\r\\nNEW FIRMWARE  :$CARRIED_VERSION"
# Generous limits: a whole update over the pseudo-terminal takes well under a minute.
readonly STEP_TIMEOUT=30
readonly UPDATE_TIMEOUT=240
readonly EXIT_TIMEOUT=30

CASES=(startup open_versions typed_port open_silent update_0x20 update_0x10 status_0320 program_unknown
  update_stalls nak3 open_held)

verbose=
list=
selected=()
while [ $# -gt 0 ]; do
  case $1 in
    -b)
      [ $# -ge 2 ] || e2e_die "-b needs a preset name"
      export FWU_E2E_BUILD=$2
      shift
      ;;
    -v) verbose=1 ;;
    -k) export E2E_KEEP=1 ;;
    -l) list=1 ;;
    -*) e2e_die "unknown option $1" ;;
    *) selected+=("$1") ;;
  esac
  shift
done

# ---- case plumbing ------------------------------------------------------------------------------------------

CASE_DIR=
CASE_FAILURE=

case_begin() {
  CASE_DIR=$E2E_WORK/cases/$1
  CASE_FAILURE=
  mkdir -p "$CASE_DIR"
}

case_fail() {
  if [ -z "$CASE_FAILURE" ]; then
    CASE_FAILURE=$1
  fi
}

# Runs the scenario on standard input (kept in the case folder as <part>.txt, its transcript beside it)
# against the updater, which it starts unless it runs already.
case_drive() {
  local part=${1:-scenario}
  cat >"$CASE_DIR/$part.txt"
  if [ -z "$E2E_APP_PID" ]; then
    e2e_start_app "$CASE_DIR"
  fi
  local mode=quiet
  [ -z "$verbose" ] || mode=live
  if ! e2e_run_driver "$CASE_DIR/$part.txt" "$CASE_DIR/$part.transcript" "$mode"; then
    case_fail "$(grep -m 1 'FAIL' "$CASE_DIR/$part.transcript" | sed 's/^\[[^]]*\] *//' || true)"
    [ -n "$CASE_FAILURE" ] || case_fail "driver failed (see $part.transcript)"
    return 1
  fi
}

# Once the scenario has closed the window, the program must end by itself with exit code 0.
case_expect_exit_zero() {
  local status=0
  e2e_wait_app "$EXIT_TIMEOUT" || status=$?
  if [ "$status" -ne 0 ]; then
    case_fail "the updater ended with exit code $status, expected 0"
  fi
}

case_start_sim() {
  e2e_start_sim "$CASE_DIR" --log "$CASE_DIR/sim.log" "$@" || {
    case_fail "the simulated controller did not start"
    return 1
  }
}

# Stops the controller; with "verdict" its memory verdict must be a pass.
case_stop_sim() {
  local status=0
  e2e_stop_sim || status=$?
  if [ "${1:-}" = verdict ] && [ "$status" -ne 0 ]; then
    case_fail "controller memory: $(tail -n 1 "$CASE_DIR/sim.out") (exit $status)"
  fi
}

# The controller's log names every command Frame it took in ("in frame STX ... cmd=F0:10"); counting them
# shows what the dialog cannot: that a read really happened, or how often a refused command was sent.
case_expect_commands() {
  local code=$1 expected=$2 seen
  seen=$(grep -cE "^[0-9]+ in frame STX .* cmd=$code( |\$)" "$CASE_DIR/sim.log" || true)
  if [ "$seen" -ne "$expected" ]; then
    case_fail "the controller took $seen command Frames $code, expected $expected"
  fi
}

case_end() {
  e2e_release_port
  e2e_kill_app
  e2e_stop_sim >/dev/null 2>&1 || true
}

# The opening every connected case shares: the dialog as it starts, then COM7 chosen and opened.
open_com7_steps() {
  cat <<EOF
timeout|$STEP_TIMEOUT
wait-dialog
title|$TITLE
pattern|closed
select-port|COM7
click|1001
EOF
}

close_steps() {
  cat <<'EOF'
click|1002
pattern|closed
close|sc|closed
EOF
}

# ---- the cases ----------------------------------------------------------------------------------------------

case_startup() {
  DESCRIPTION="start-up: title, port list ends COM1..COM10, closed pattern, 0%"
  case_drive <<EOF || return
timeout|$STEP_TIMEOUT
wait-dialog
title|$TITLE
items-end|$FIXED_PORTS
pattern|closed
text|1005|0%
text|1008|$TEMPLATE_VERSIONS
close|sc|closed
EOF
  case_expect_exit_zero
}

open_versions_steps() {
  open_com7_steps
  cat <<EOF
pattern|open
text|1008|$SHOWN_VERSIONS
no-box
title|$TITLE
click|1009
text|1008|$SHOWN_VERSIONS
pattern|open
no-box
EOF
  close_steps
}

case_open_versions() {
  DESCRIPTION="COM OPEN shows both versions, VERSION READ again, COM CLOSE"
  case_start_sim --program-kind 20 --version "$CONTROLLER_VERSION" || return
  case_drive < <(open_versions_steps) || return
  case_expect_exit_zero
  case_stop_sim
  # One version query after COM OPEN, one for VERSION READ.
  case_expect_commands F0:10 2
}

case_typed_port() {
  DESCRIPTION="typed \"COM7(bench adapter)\": the first 9 characters, cut at \"(\", open COM7"
  case_start_sim --program-kind 20 --version "$CONTROLLER_VERSION" || return
  case_drive < <(
    cat <<EOF
timeout|$STEP_TIMEOUT
wait-dialog
type-port|COM7(bench adapter)
click|1001
pattern|open
text|1008|$SHOWN_VERSIONS
no-box
EOF
    close_steps
  ) || return
  case_expect_exit_zero
  case_stop_sim
}

open_silent_steps() {
  open_com7_steps
  cat <<EOF
box|ACK receive timeout|ACK receive timeout|error
pattern|open
text|1008|$TEMPLATE_VERSIONS
no-box
EOF
  close_steps
}

case_open_silent() {
  DESCRIPTION="COM OPEN, no controller: ACK receive timeout, port stays open"
  case_start_sim --silent || return
  case_drive < <(open_silent_steps) || return
  case_expect_exit_zero
  case_stop_sim
}

# A complete update: both versions shown, the busy pattern, the percentage to "100 %", "Finished", the open
# pattern again. With "guard", close requests in mid-update, from the system menu and as a plain WM_CLOSE,
# must be refused.
update_steps() {
  open_com7_steps
  cat <<EOF
pattern|open
text|1008|$SHOWN_VERSIONS
click|1006
pattern|busy
timeout|$UPDATE_TIMEOUT
EOF
  if [ "${1:-}" = guard ]; then
    cat <<EOF
progress|20
close|sc|refused
close|wm|refused
pattern|busy
EOF
  fi
  cat <<EOF
box|Finished||none
timeout|$STEP_TIMEOUT
text|1005|100 %
pattern|open
no-box
EOF
  close_steps
}

case_update_0x20() {
  DESCRIPTION="update, program kind 0x20: Finished, 100 %, main image in memory, second untouched"
  case_start_sim --program-kind 20 --version "$CONTROLLER_VERSION" --expect-main "$E2E_MAIN_IMAGE" \
    --expect-second "$ERASED_SECOND" || return
  case_drive < <(update_steps) || return
  case_expect_exit_zero
  case_stop_sim verdict
}

case_update_0x10() {
  DESCRIPTION="update, program kind 0x10, close refused meanwhile: both images in memory, exit 0"
  case_start_sim --program-kind 10 --version "$CONTROLLER_VERSION" --expect-main "$E2E_MAIN_IMAGE" \
    --expect-second "$E2E_SECOND_IMAGE" || return
  case_drive < <(update_steps guard) || return
  case_expect_exit_zero
  case_stop_sim verdict
}

status_0320_steps() {
  open_com7_steps
  cat <<EOF
pattern|open
text|1008|$SHOWN_VERSIONS
click|1006
box|0012 : Errors|0012 : Errors|error
pattern|open
text|1005|0%
no-box
EOF
  close_steps
}

case_status_0320() {
  DESCRIPTION="status 0x0012 on 03 20: 0012 : Errors, nothing written"
  case_start_sim --program-kind 10 --version "$CONTROLLER_VERSION" --status 03:20=0012 \
    --expect-main "$ERASED_MAIN" --expect-second "$ERASED_SECOND" || return
  case_drive < <(status_0320_steps) || return
  case_expect_exit_zero
  case_stop_sim verdict
}

case_program_unknown() {
  DESCRIPTION="program kind 0x30: Program unknown (no caption, no icon), nothing written"
  case_start_sim --program-kind 30 --version "$CONTROLLER_VERSION" --expect-main "$ERASED_MAIN" \
    --expect-second "$ERASED_SECOND" || return
  case_drive < <(
    open_com7_steps
    cat <<EOF
pattern|open
text|1008|$SHOWN_VERSIONS
click|1006
box|Program unknown||none
pattern|open
text|1005|0%
no-box
EOF
    close_steps
  ) || return
  case_expect_exit_zero
  case_stop_sim verdict
}

# The controller falls silent after its 50th block write: the next block meets no ACK, the percentage stays
# where the last written block left it, and memory holds exactly the blocks that were acknowledged.
readonly STALL_AFTER_BLOCKS=50

case_update_stalls() {
  DESCRIPTION="controller silent after 50 blocks: -11 ACK timeout, bar stays, exactly 50 blocks in memory"
  local dump=$CASE_DIR/main-after.bin expected
  # Percentage at the failure: every block position before the 51st non-blank block has been stepped.
  expected=$(python3 - "$E2E_MAIN_IMAGE" "$STALL_AFTER_BLOCKS" <<'EOF'
import sys
image = open(sys.argv[1], "rb").read()
written = int(sys.argv[2])
nonblank = [k for k in range(2048) if image[k * 256:(k + 1) * 256] != b"\xff" * 256]
print("%3d %%" % (nonblank[written] * 100 // 2048))
EOF
  )
  case_start_sim --program-kind 20 --version "$CONTROLLER_VERSION" --stop-after-blocks "$STALL_AFTER_BLOCKS" \
    --dump-main "$dump" || return
  case_drive < <(
    open_com7_steps
    cat <<EOF
pattern|open
text|1008|$SHOWN_VERSIONS
click|1006
timeout|$UPDATE_TIMEOUT
box|     -11 : When sending the command, ACK reception timeout|     -11 : When sending the command, ACK reception timeout|error
timeout|$STEP_TIMEOUT
pattern|open
text|1005|$expected
no-box
EOF
    close_steps
  ) || return
  case_expect_exit_zero
  case_stop_sim
  local check
  check=$( (python3 - "$E2E_MAIN_IMAGE" "$dump" "$STALL_AFTER_BLOCKS" <<'EOF'
import sys
image = open(sys.argv[1], "rb").read()
memory = open(sys.argv[2], "rb").read()
written = int(sys.argv[3])
blank = b"\xff" * 256
nonblank = [k for k in range(2048) if image[k * 256:(k + 1) * 256] != blank]
for k in range(2048):
    want = image[k * 256:(k + 1) * 256] if k in nonblank[:written] else blank
    if memory[k * 256:(k + 1) * 256] != want:
        sys.exit("block %d (0x%05X) is not %s" % (k, k * 256, "the image's" if want != blank else "erased"))
print("ok")
EOF
  ) 2>&1)
  if [ "$check" != ok ]; then
    case_fail "controller memory after the stall: $check"
  fi
}

nak3_steps() {
  open_com7_steps
  cat <<'EOF'
box|     -15 : Retry over at command transmission|     -15 : Retry over at command transmission|error
pattern|open
text|1008|FIRMWARE          :\r\nNEW FIRMWARE  :
no-box
EOF
  close_steps
}

case_nak3() {
  DESCRIPTION="three NAKs for the version query: -15 Retry over, both values empty"
  case_start_sim --program-kind 20 --version "$CONTROLLER_VERSION" --nak-commands 3 || return
  case_drive < <(nak3_steps) || return
  case_expect_exit_zero
  case_stop_sim
  # The first sending and two repeats; the third NAK ends the exchange.
  case_expect_commands F0:10 3
}

held_steps() {
  open_com7_steps
  cat <<'EOF'
box|Open Err1|Open Err1|error
pattern|closed
no-box
EOF
}

case_open_held() {
  DESCRIPTION="port held open by another program: Open Err1; opens once released"
  case_start_sim --program-kind 20 --version "$CONTROLLER_VERSION" || return
  e2e_hold_port "$CASE_DIR" || {
    case_fail "could not hold the port in exclusive mode"
    return
  }
  case_drive held < <(held_steps) || return
  e2e_release_port
  case_drive released < <(open_versions_steps) || return
  case_expect_exit_zero
  case_stop_sim
  case_expect_commands F0:10 2
}

# ---- run ----------------------------------------------------------------------------------------------------

if [ -n "$list" ]; then
  printf '%s\n' "${CASES[@]}"
  exit 0
fi
if [ ${#selected[@]} -eq 0 ]; then
  selected=("${CASES[@]}")
fi
for name in "${selected[@]}"; do
  declare -F "case_$name" >/dev/null || e2e_die "no case $name (see -l)"
done

e2e_find_programs
e2e_setup
started=$SECONDS
e2e_log "== End-to-end: $(basename "$E2E_APP") of the $E2E_BUILD build under $E2E_APP_LOADER against" \
  "$(basename "$E2E_SIM"), work folder $E2E_WORK"
# Erased regions, to show that a failed or one-phase update leaves a region alone.
ERASED_MAIN=$E2E_WORK/erased-main.bin
ERASED_SECOND=$E2E_WORK/erased-second.bin
head -c 524288 /dev/zero | tr '\0' '\377' >"$ERASED_MAIN"
head -c 65536 /dev/zero | tr '\0' '\377' >"$ERASED_SECOND"
e2e_start_xvfb
e2e_log "   display $DISPLAY; making the Wine prefix ..."
e2e_make_prefix
e2e_log "   prefix ready after $((SECONDS - started)) s"

declare -a rows=()
failed=0
for name in "${selected[@]}"; do
  DESCRIPTION=$name
  case_begin "$name"
  caseStart=$SECONDS
  "case_$name" || true
  case_end
  outcome=PASS
  if [ -n "$CASE_FAILURE" ]; then
    outcome=FAIL
    failed=$((failed + 1))
  fi
  rows+=("$(printf '%-16s %-6s %5s  %s' "$name" "$outcome" "$((SECONDS - caseStart))s" "$DESCRIPTION")")
  e2e_log "${rows[-1]}"
  if [ -n "$CASE_FAILURE" ]; then
    e2e_log "      -> $CASE_FAILURE"
    for transcript in "$CASE_DIR"/*.transcript; do
      [ -f "$transcript" ] || continue
      e2e_log "      --- $(basename "$transcript") (last lines)"
      tail -n 25 "$transcript" | sed 's/^/      /'
    done
    if [ -f "$CASE_DIR/sim.err" ] && [ -s "$CASE_DIR/sim.err" ]; then
      e2e_log "      --- simulated controller (stderr, last lines)"
      tail -n 10 "$CASE_DIR/sim.err" | sed 's/^/      /'
    fi
  fi
done

e2e_log ""
e2e_log "== End-to-end results, $E2E_BUILD build ($((SECONDS - started)) s)"
printf '%-16s %-6s %5s  %s\n' case result time what
printf '%s\n' "${rows[@]}"
if [ "$failed" -ne 0 ] && [ -n "${E2E_KEEP:-}" ]; then
  e2e_log "work folder kept: $E2E_WORK"
fi
# The summary line the test command counts.
e2e_log "end-to-end: $((${#selected[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
