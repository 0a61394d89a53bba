#!/usr/bin/env bash
# A PostgreSQL 15 cluster of a test's own, in a folder of its own: Debian's server run as an unprivileged user
# (it refuses root), listening on 127.0.0.1 at a free port and on a private socket folder. Over the socket the
# superuser "postgres" needs no password; over TCP every role needs its password (scram-sha-256).
#
#   pg-cluster.sh start DIR           makes the cluster when DIR has none, starts it; prints the port
#   pg-cluster.sh stop DIR [MODE]     stops it (MODE: fast, or immediate as a crash would)
#   pg-cluster.sh sql DIR SQL [DB]    runs SQL as the superuser in DB (default "records", made at start); -At output
#   pg-cluster.sh remove DIR          stops it and removes DIR
set -euo pipefail

bin=/usr/lib/postgresql/15/bin
user=fwu-pg-test
command=$1
dir=$2

as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$user" -- "$@"
  else
    "$@"
  fi
}

# The server's user must reach its programs and its folder: a test's temporary folder is the root's alone, and so
# may be the top of a system unpacked from an archive (a fresh machine's root made by debootstrap in a folder of
# mode 0700). Each folder on the way that others cannot pass through gets that right (search, not read).
let_user_reach() {
  local path
  path=$(realpath "$1")
  while :; do
    if [ $((8#$(stat -c %a "$path") & 1)) -eq 0 ]; then
      chmod o+x "$path"
    fi
    [ "$path" != / ] || break
    path=$(dirname "$path")
  done
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start() {
  if [ "$(id -u)" -eq 0 ] && ! id -u "$user" >/dev/null 2>&1; then
    useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
  fi
  if [ ! -d "$dir/data" ]; then
    mkdir -p "$dir/socket"
    if [ "$(id -u)" -eq 0 ]; then
      chown -R "$user" "$dir"
      let_user_reach "$(dirname "$dir")"
      let_user_reach "$bin"
    fi
    as_user "$bin/initdb" -D "$dir/data" -U postgres --auth-local=trust --auth-host=scram-sha-256 \
      --encoding=UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    free_port >"$dir/port"
  fi
  local port
  port=$(cat "$dir/port")
  as_user "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-p $port -k $dir/socket -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null ||
    { cat "$dir/server.log" >&2; exit 1; }
  if [ ! -f "$dir/made" ]; then
    sql_in postgres "CREATE DATABASE records" >/dev/null
    touch "$dir/made"
  fi
  echo "$port"
}

sql_in() {
  as_user "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir/socket" -p "$(cat "$dir/port")" -U postgres \
    -d "$1" -At -c "$2"
}

case $command in
  start) start ;;
  stop) as_user "$bin/pg_ctl" -D "$dir/data" -m "${3:-fast}" -w stop >/dev/null ;;
  sql) sql_in "${4:-records}" "$3" ;;
  remove)
    as_user "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    rm -rf "$dir"
    ;;
  *)
    echo "usage: pg-cluster.sh start|stop|sql|remove DIR ..." >&2
    exit 2
    ;;
esac
