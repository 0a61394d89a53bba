# shellcheck shell=bash
# The network row of the benchmark, sourced by run-bench.sh: fwupdate-cli updating the controller through
# ser2net over RFC 2217 on loopback, as a plant reaches a controller behind a serial device server.
#
#   fwupdate-cli --TCP--> fwu_tcp_tap --TCP--> ser2net --pty--> fwu_line_tap --pty--> fwsim --pace
#
# The line tap paces the updater's bytes at 38400 baud where they leave the device server, as its UART would,
# and the controller paces its answers, as in the other rows. fwu_tcp_tap times the line's bytes where the
# updater sends and receives them, so that what ser2net (and the loopback) add to the line counts as the line's
# own delay, like an adapter's latency timer, and only what the updater adds counts against it. ser2net runs
# with its defaults (it holds the controller's bytes for at least 1 ms before sending them on). The processor
# time is fwupdate-cli's own (bench/timed.py).

# A TCP port on 127.0.0.1 that nothing listens on now.
network_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to 10 s for a socket listening on 127.0.0.1:<port>, read from the kernel's table (state 0A): no probe
# connection, which ser2net or the tap would take for the updater's.
network_wait_listening() {
  local at tries=0
  at=$(printf '0100007F:%04X' "$1")
  until awk -v at="$at" '$2 == at && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp; do
    ((tries++ < 100)) || return 1
    sleep 0.1
  done
}

network_row() {
  say "Network update: fwupdate-cli through ser2net over RFC 2217 on loopback (about 90 s)"
  local dir=$OUT/network ser2net server_port tap_port
  ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
  [ -x "$ser2net" ] || die "ser2net is missing (scripts/install-deps.sh installs it)"
  [ -x "$BUILD/bench/fwu_tcp_tap" ] || die "no $BUILD/bench/fwu_tcp_tap (build the release preset)"
  start_line "$dir" "$dir/port"
  server_port=$(network_free_port)
  cat >"$dir/ser2net.yaml" <<YAML
connection: &controller
  accepter: telnet(rfc2217),tcp,127.0.0.1,$server_port
  connector: serialdev,$dir/port,38400n81,local
YAML
  "$ser2net" -n -u -c "$dir/ser2net.yaml" -P "$dir/ser2net.pid" >"$dir/ser2net.out" 2>&1 &
  local server=$!
  LINE_PIDS+=("$server")
  network_wait_listening "$server_port" || die "ser2net did not listen: $(cat "$dir/ser2net.out")"
  tap_port=$(network_free_port)
  "$BUILD/bench/fwu_tcp_tap" --listen "$tap_port" --server "$server_port" --log "$dir/updater.log" \
    >"$dir/tcp-tap.out" 2>&1 &
  local tcp_tap=$!
  LINE_PIDS+=("$tcp_tap")
  network_wait_listening "$tap_port" || die "fwu_tcp_tap did not listen: $(cat "$dir/tcp-tap.out")"

  local status=0
  timeout "$UPDATE_LIMIT_S" python3 "$REPO/bench/timed.py" "$dir/figures.txt" \
    "$BUILD/cli/fwupdate-cli" update "rfc2217://127.0.0.1:$tap_port" --json "$dir/result.json" \
    >"$dir/app.out" 2>&1 || status=$?
  stop_line $((status == 0 ? 30 : 0))
  # The updater has closed its connection, so the tap has written its log and ended.
  wait "$tcp_tap" 2>/dev/null || true
  kill -TERM "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  # analyze.py reads the run's figures from cpu.txt, "finished=1" when the JSON record says so.
  cp "$dir/figures.txt" "$dir/cpu.txt"
  if [ "$status" -eq 0 ] && grep -q '"outcome": "finished"' "$dir/result.json"; then
    echo "finished=1" >>"$dir/cpu.txt"
  else
    say "the network update did not finish (exit $status): $(tail -n 3 "$dir/app.out")"
  fi
}
