#!/usr/bin/env bash
# A private, throw-away PostgreSQL server for the tests: a new cluster in a temporary folder,
# listening only on a Unix socket in that folder, trusting every local connection as the user
# postgres. The server refuses to run as root, so under root it runs as nobody.
#
#   pg_test_server.sh start STATE_FILE [--durable]
#       start it; STATE_FILE gets its socket folder and location. The tests' server skips the work
#       of durability (no fsync, commits not waited for, no full pages in the log); --durable keeps
#       a real server's defaults for them, for benchmarks.
#   pg_test_server.sh stop STATE_FILE    stop it at once and remove its folder
#
# A server a previous run left behind (under the same STATE_FILE) is stopped before a new start.
set -euo pipefail

usage() {
  echo "usage: $0 start STATE_FILE [--durable] | stop STATE_FILE" >&2
  exit 2
}
[ $# -eq 2 ] || [ $# -eq 3 ] || usage
action=$1
state=$2
durability="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
if [ $# -eq 3 ]; then
  [ "$action" = start ] && [ "$3" = --durable ] || usage
  durability=""
fi

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$bin" ] || [ ! -x "$bin/pg_ctl" ]; then
  echo "pg_test_server: no PostgreSQL server programs under /usr/lib/postgresql/*/bin" \
    "(scripts/deps.sh installs them)" >&2
  exit 1
fi

# Runs a server program as the folder's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
  else
    "$@"
  fi
}

stop() {
  [ -f "$state" ] || return 0
  local folder
  folder=$(sed -n 's/^PELK_TEST_PG_SOCKET=//p' "$state")
  rm -f "$state"
  [ -n "$folder" ] && [ -d "$folder" ] || return 0
  if [ -f "$folder/data/postmaster.pid" ]; then
    (cd "$folder" && as_owner "$bin/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null) ||
      echo "pg_test_server: could not stop the server in $folder" >&2
  fi
  rm -rf "$folder"
}

case "$action" in
  stop)
    stop
    exit 0
    ;;
  start) ;;
  *) usage ;;
esac

stop
# Short: a socket's path is limited to about a hundred bytes.
folder=$(mktemp -d /tmp/sonquix-pg.XXXXXX)
if [ "$(id -u)" -eq 0 ]; then chown nobody:nogroup "$folder"; fi
chmod 700 "$folder"
cd "$folder"
fail() {
  echo "pg_test_server: $1" >&2
  for log in "$folder/initdb.log" "$folder/server.log"; do
    [ -f "$log" ] && sed 's/^/  /' "$log" | tail -n 20 >&2
  done
  if [ -f "$folder/data/postmaster.pid" ]; then
    as_owner "$bin/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$folder"
  exit 1
}
as_owner "$bin/initdb" -D "$folder/data" --auth=trust -U postgres --encoding=UTF8 \
  --locale=C.UTF-8 --no-sync >"$folder/initdb.log" 2>&1 ||
  fail "initdb failed in $folder"
# Durability is of no use to a server that lives for one test run.
as_owner "$bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 \
  -o "-c listen_addresses='' -c unix_socket_directories='$folder' $durability \
      -c max_connections=60" \
  start >/dev/null 2>&1 || fail "the server did not start in $folder"

{
  echo "PELK_TEST_PG_SOCKET=$folder"
  echo "PELK_TEST_PG_LOCATION=postgresql:///postgres?host=$folder&user=postgres"
} >"$state"
echo "PostgreSQL test server on socket folder $folder ($("$bin/postgres" --version))"
