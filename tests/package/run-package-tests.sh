#!/usr/bin/env bash
# The release packages as a user meets them (after scripts/package.sh): the .deb installed with apt-get, its
# program, man page and bash completion, and one update against the simulated controller by a user who is not
# root but in the dialout group; the Windows zip's files and both programs' version resources; SHA256SUMS. The
# version and commit must be the same in the package's name, --version, the man page and the Windows programs.
#
#   tests/package/run-package-tests.sh [DIST_DIR]
#
# Needs root (apt-get, a user of its own, the terminal's group), as in CI. The simulated controller comes from
# build/release or build/native (FWU_SIM overrides). Prints "package: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dist=$(cd "${1:-$root/dist}" && pwd) || exit 1
# Debian's own Python, where python3-pefile is installed (another python3 may come first on the PATH).
python=/usr/bin/python3
user=fwupdate-package-test

sim=${FWU_SIM:-}
for candidate in "$root/build/release/sim/fwsim" "$root/build/native/sim/fwsim"; do
  [ -n "$sim" ] || { [ -x "$candidate" ] && sim=$candidate; }
done
debs=("$dist"/fwupdate-cli_*_amd64.deb)
[ "$(id -u)" -eq 0 ] || { echo "package: run as root (it installs the package)"; exit 1; }
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "package: no single .deb in $dist (scripts/package.sh)"
  exit 1
fi
[ -x "$sim" ] || { echo "package: no simulated controller built (release or native preset)"; exit 1; }
deb=${debs[0]}
version=${deb##*/fwupdate-cli_}
version=${version%_amd64.deb}

work=$(mktemp -d /tmp/fwu-package-test.XXXXXX)
chmod 755 "$work"
sim_pid=
installed_before=$(dpkg-query -W -f='${Status}' fwupdate-cli 2>/dev/null | grep -c 'install ok installed')
user_before=$(id -u "$user" >/dev/null 2>&1 && echo 1 || echo 0)
root_mode=$(stat -c %a /)
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  # What this run changed on the machine goes again; in CI the root is thrown away anyway.
  chmod "$root_mode" /
  [ "$user_before" -eq 1 ] || userdel "$user" 2>/dev/null
  [ "$installed_before" -eq 1 ] || dpkg -r fwupdate-cli >/dev/null 2>&1
  [ -n "${FWU_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=tests/support/checks.sh
. "$root/tests/support/checks.sh"

DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb" >"$work/install.log" 2>&1
check "apt-get installs $(basename "$deb")" test $? -eq 0
fwupdate-cli --version >"$work/version.out" 2>&1
check "fwupdate-cli --version names $version and a commit" grep -qx "fwupdate-cli $version (commit [0-9a-f]\{12\})" \
  "$work/version.out"
commit=$(sed -n 's/.*(commit \([0-9a-f]*\))$/\1/p' "$work/version.out")
check "man -w finds the man page" test "$(man -w fwupdate-cli 2>&1)" = /usr/share/man/man1/fwupdate-cli.1.gz
man_page_renders() {  # the formatter's warnings go to standard error; the page itself may say "warning"
  local out
  out=$(MANWIDTH=80 man --warnings fwupdate-cli 2>"$work/man.err") && ! grep -q "warning" "$work/man.err" &&
    grep -q "^fwupdate $version " <<<"$out"
}
check "the man page renders without warnings and names the version" man_page_renders
check "the udev rule lies where udev reads it" test -f /lib/udev/rules.d/60-fwupdate-cli.rules

# Bash completion, as the shell calls it: the words typed, then what it offers.
completion_cases=(
  "fwupdate-cli |image info ports records station update versions"
  "fwupdate-cli station --|--help --lot --main --max-failures --operator --records --second --station --trace-dir"
  "fwupdate-cli image |convert"
  "fwupdate-cli update --|--help --json --main --second --trace"
  "fwupdate-cli image convert --|--help --main --second"
  "fwupdate-cli --ver|--version"
  "fwupdate-cli update --json $work/version.o|$work/version.out"
)
completes() {  # completes WORDS OFFERED: in a shell of its own, as the package installs the completion
  (
    # shellcheck source=packaging/fwupdate-cli.bash-completion
    . /usr/share/bash-completion/completions/fwupdate-cli
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _fwupdate_cli
    [ "$(printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " ")" = "$2" ]
  )
}
for case in "${completion_cases[@]}"; do
  check "completion of '${case%%|*}'" completes "${case%%|*}" "${case#*|}"
done

# One update by a user who is in dialout and nothing else. The simulated controller's terminal gets the group and
# mode that the udev rule gives an adapter.
id -u "$user" >/dev/null 2>&1 || useradd --no-create-home --shell /usr/sbin/nologin --groups dialout "$user"
# A root made in a folder of mktemp's (CI's fresh Debian root) is closed to other users, where an installed system's
# / is open to all; opened here, or no program could start as that user.
chmod o+x /
"$sim" --link "$work/line" --expect-main "$root/update/images/main.bin" --expect-second "$root/update/images/second.bin" \
  --exit-after-update >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ -L "$work/line" ] && break
  sleep 0.1
done
terminal=$(readlink "$work/line")
runuser -u "$user" -- fwupdate-cli versions "$work/line" >"$work/refused.out" 2>&1
check "without the group's access the port is refused (exit status 3)" test $? -eq 3
chgrp dialout "$terminal" && chmod 660 "$terminal"
runuser -u "$user" -- fwupdate-cli update "$work/line" --json - >"$work/update.json" 2>"$work/update.err"
update_status=$?
check "the dialout user's update exits 0" test "$update_status" -eq 0
# After a failed update the controller would wait on for its end.
[ "$update_status" -eq 0 ] || kill "$sim_pid" 2>/dev/null
check "its JSON record says finished, 486 blocks" "$python" -c '
import json, sys
r = json.load(open(sys.argv[1]))["ports"][0]
sys.exit(not (r["outcome"] == "finished" and r["blocks_written"] == 486))' "$work/update.json"
wait "$sim_pid"
sim_status=$?
sim_pid=
check "the controller's memory equals the images" grep -q 'memory: main equal, second equal' "$work/sim.out"
check "the simulated controller exits 0" test "$sim_status" -eq 0

# The Windows zip, with the version and commit of the package.
"$python" "$root/tests/package/check_windows_zip.py" "$dist/fwupdate-$version-windows.zip" "$version" "$commit" \
  >"$work/zip.out" 2>&1
zip_status=$?
cat "$work/zip.out"
passed=$((passed + $(grep -c '^  ok' "$work/zip.out")))
failed=$((failed + $(grep -c '^  FAIL' "$work/zip.out")))
[ "$zip_status" -eq 0 ] || grep -q '^  FAIL' "$work/zip.out" || failed=$((failed + 1))
sums_match() {
  (cd "$dist" && [ "$(wc -l <SHA256SUMS)" -eq 2 ] && sha256sum --quiet -c SHA256SUMS)
}
check "SHA256SUMS holds both packages and matches them" sums_match

if [ "$failed" -ne 0 ]; then
  for log in install.log version.out man.err refused.out update.json update.err sim.out sim.err; do
    echo "--- $log"
    tail -20 "$work/$log" 2>/dev/null
  done
fi
echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
