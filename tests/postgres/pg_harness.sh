#!/bin/sh
# A throw-away PostgreSQL server, one per test run (the CTest fixture
# postgres_server):
#   pg_harness.sh start   make a cluster in a new folder /tmp/quorvex-pg-*,
#                         start it on 127.0.0.1, load the schema, write the
#                         odbc.ini the tests use, and leave a watchdog that
#                         stops the server once ctest (the caller) is gone
#   pg_harness.sh stop    stop the server and delete everything it made
# Environment: QUORVEX_PG_DIR, the build's folder for odbc.ini (found by
# the tests through ODBCINI) and the name of the cluster's folder;
# QUORVEX_PG_PORT, the port (empty: a free one); QUORVEX_PG_BIN.
#
# A start first stops what an earlier run of this build left (its ctest and
# watchdog both gone). "QuorvexPgTest" reaches database quorvex_test as role
# quorvex (password "quorvex"); "QuorvexPgDown" is a port where nothing
# listens. PostgreSQL refuses to run as root: then it runs as postgres.
set -eu

STATE=${QUORVEX_PG_DIR:?}
BIN=${QUORVEX_PG_BIN:-/usr/lib/postgresql/15/bin}
SCHEMA=$(cd "$(dirname "$0")" && pwd)/../../sql/postgres/schema.sql

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
# A process is process id and start time, since ids are reused.
started_at() { sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }
alive() { [ -n "$2" ] && [ "$(started_at "$1")" = "$2" ]; }

# Stops the cluster of folder $1 and deletes the folder; with "all", its
# watchdog and the build's files too.
stop_cluster() {
  if [ "${2:-}" = all ] && read -r pid start _ 2>/dev/null <"$1/watchdog"; then
    alive "$pid" "$start" && kill "$pid" 2>/dev/null || true
  fi
  if [ -f "$1/data/postmaster.pid" ]; then
    as_owner "$BIN/pg_ctl" -D "$1/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$1"
  if [ "$(cat "$STATE/cluster" 2>/dev/null)" = "$1" ]; then rm -f "$STATE/cluster" "$STATE/odbc.ini"; fi
}

start() {
  if [ -f "$STATE/cluster" ]; then
    previous=$(cat "$STATE/cluster")
    if read -r pid start owner owner_start 2>/dev/null <"$previous/watchdog" &&
      alive "$owner" "$owner_start" && alive "$pid" "$start"; then
      echo "pg_harness: a test run of this build (process $owner) is using its server" >&2
      exit 1
    fi
    stop_cluster "$previous" all
  fi
  mkdir -p "$STATE"
  dir=$(mktemp -d /tmp/quorvex-pg-XXXXXX)
  echo "$dir" >"$STATE/cluster"
  chmod 755 "$dir"
  if [ "$(id -u)" -eq 0 ]; then chown postgres "$dir"; fi
  # Local (socket) logins are trusted for the harness itself; TCP logins,
  # the ones the tests make, must give the right password.
  as_owner "$BIN/initdb" -D "$dir/data" -U postgres --auth-local=trust \
    --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2 && exit 1; }
  # Someone may take a free port before the server binds it: another is tried.
  for try in 1 2 3 4 5; do
    port=${QUORVEX_PG_PORT:-$(free_port)}
    as_owner "$BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null && break
    if [ -n "${QUORVEX_PG_PORT:-}" ] || [ "$try" = 5 ]; then cat "$dir/server.log" >&2 && exit 1; fi
  done
  for sql in "CREATE ROLE quorvex LOGIN PASSWORD 'quorvex'" \
    "CREATE DATABASE quorvex_test OWNER quorvex"; do
    as_owner "$BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U postgres -c "$sql"
  done
  # Fed on stdin, so that user postgres needs no access to the source tree.
  as_owner "$BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U quorvex \
    -d quorvex_test <"$SCHEMA"
  printf '[QuorvexPgTest]\nDriver = PostgreSQL Unicode\nServername = 127.0.0.1\nPort = %s\n%s\n\n[QuorvexPgDown]\nDriver = PostgreSQL Unicode\nServername = 127.0.0.1\nPort = %s\n%s\n' \
    "$port" "Database = quorvex_test" "$(free_port)" "Database = quorvex_test" >"$STATE/odbc.ini"
  # In a session of its own and holding none of the test's descriptors, so
  # that ctest neither waits for it nor ends it with this setup.
  setsid "$0" watch "$dir" "$PPID" "$(started_at "$PPID")" </dev/null >/dev/null 2>&1 &
}

case "${1:-}" in
  start) start ;;
  stop) [ ! -f "$STATE/cluster" ] || stop_cluster "$(cat "$STATE/cluster")" all ;;
  watch) # watch DIR PID START: once that process is gone, stop the cluster of DIR
    echo "$$ $(started_at $$) $3 $4" >"$2/watchdog"
    while alive "$3" "$4" && [ -d "$2" ]; do sleep 1; done
    [ ! -d "$2" ] || stop_cluster "$2" ;;
  *) echo "usage: $0 start|stop" >&2 && exit 2 ;;
esac
