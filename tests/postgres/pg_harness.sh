#!/bin/sh
# A throw-away PostgreSQL server for the tests that need one, one per test
# run: CTest starts it as the setup of the fixture postgres_server and stops
# it as the fixture's cleanup.
#
#   pg_harness.sh start   stop what an earlier run of this build left, make
#                         a cluster in a new folder, start it on 127.0.0.1,
#                         load the schema, write the odbc.ini the tests use,
#                         and leave a watchdog that stops the server once the
#                         process that started the harness (ctest) is gone
#   pg_harness.sh stop    stop the server and delete everything it made
#
# Settings (environment):
#   QUORVEX_PG_DIR    the build's folder for the fixture: odbc.ini, which the
#                     tests find through ODBCINI, and the name of the
#                     cluster's folder (required)
#   QUORVEX_PG_PORT   loopback port of the server; empty or unset: a free
#                     port, picked as the server starts
#   QUORVEX_PG_BIN    PostgreSQL programs (default /usr/lib/postgresql/15/bin)
#
# The cluster lives in a folder of its own under /tmp (short, since the
# server's socket lies there), so two test runs of two build folders never
# share a port or a folder. A run that ends in any way leaves nothing
# running: the fixture's cleanup stops the server; when ctest is killed
# before it, the watchdog does; and a start stops a server whose run and
# watchdog are both gone.
#
# The data source "QuorvexPgTest" reaches database quorvex_test as role
# quorvex (password "quorvex"); "QuorvexPgDown" points at a loopback port
# where nothing listens. Nothing outside these folders is changed.
# PostgreSQL refuses to run as root, so when started by root the server
# runs as user postgres.
set -eu

STATE=${QUORVEX_PG_DIR:?QUORVEX_PG_DIR names the fixture folder}
BIN=${QUORVEX_PG_BIN:-/usr/lib/postgresql/15/bin}
HERE=$(cd "$(dirname "$0")" && pwd)
SCHEMA=$HERE/../../sql/postgres/schema.sql

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
# The start time of process $1 (field 22 of its stat line), empty when it
# is gone: a process id alone may be reused.
started_at() {
  sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20
}
alive() {  # alive PID START
  [ -n "$2" ] && [ "$(started_at "$1")" = "$2" ]
}

# Stops the cluster of folder $1 and deletes the folder.
stop_cluster() {
  if [ -f "$1/data/postmaster.pid" ]; then
    as_owner "$BIN/pg_ctl" -D "$1/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$1"
}

# What an earlier start of this build left: its watchdog is ended and its
# server stopped, unless the run that started it is still going.
stop_previous() {
  [ -f "$STATE/cluster" ] || return 0
  previous=$(cat "$STATE/cluster")
  if [ -f "$previous/watchdog" ]; then
    read -r watchdog watchdog_start owner owner_start <"$previous/watchdog" || true
    if alive "$owner" "$owner_start" && alive "$watchdog" "$watchdog_start"; then
      echo "pg_harness: a test run of this build (process $owner) is using its server" >&2
      exit 1
    fi
    alive "$watchdog" "$watchdog_start" && kill "$watchdog" 2>/dev/null || true
  fi
  stop_cluster "$previous"
  rm -f "$STATE/cluster" "$STATE/odbc.ini"
}

start() {
  stop_previous
  mkdir -p "$STATE"
  dir=$(mktemp -d /tmp/quorvex-pg-XXXXXX)
  echo "$dir" >"$STATE/cluster"
  chmod 755 "$dir"
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres "$dir"
  fi
  # Local (socket) logins are trusted for the harness itself; TCP logins,
  # the ones the tests make, must give the right password.
  as_owner "$BIN/initdb" -D "$dir/data" -U postgres --auth-local=trust \
    --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || {
    cat "$dir/initdb.log" >&2
    exit 1
  }
  # A free port can be taken by someone else before the server binds it:
  # then another is tried.
  tries=0
  while :; do
    port=${QUORVEX_PG_PORT:-$(free_port)}
    as_owner "$BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null && break
    tries=$((tries + 1))
    if [ -n "${QUORVEX_PG_PORT:-}" ] || [ "$tries" -ge 5 ]; then
      cat "$dir/server.log" >&2
      exit 1
    fi
  done
  psql_as() {  # psql_as USER DATABASE ARGS...
    user=$1 db=$2 && shift 2
    as_owner "$BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U "$user" -d "$db" "$@"
  }
  psql_as postgres postgres -c "CREATE ROLE quorvex LOGIN PASSWORD 'quorvex'"
  psql_as postgres postgres -c "CREATE DATABASE quorvex_test OWNER quorvex"
  # Read by this shell and fed on stdin, so user postgres needs no access
  # to the source tree.
  psql_as quorvex quorvex_test <"$SCHEMA"
  cat >"$STATE/odbc.ini" <<EOF
[QuorvexPgTest]
Driver = PostgreSQL Unicode
Servername = 127.0.0.1
Port = $port
Database = quorvex_test

[QuorvexPgDown]
Driver = PostgreSQL Unicode
Servername = 127.0.0.1
Port = $(free_port)
Database = quorvex_test
EOF
  # The watchdog, in a session of its own and with no descriptor of the
  # test's, so that ctest neither waits for it nor ends it with the setup.
  owner=$PPID
  setsid "$0" watch "$dir" "$owner" "$(started_at "$owner")" </dev/null >/dev/null 2>&1 &
}

# Waits until process $2 (started at $3) is gone, then stops the cluster of
# folder $1, unless the fixture's cleanup has done so already.
watch() {
  echo "$$ $(started_at $$) $2 $3" >"$1/watchdog"
  while alive "$2" "$3" && [ -d "$1" ]; do sleep 1; done
  [ -d "$1" ] || exit 0
  stop_cluster "$1"
  if [ "$(cat "$STATE/cluster" 2>/dev/null)" = "$1" ]; then
    rm -f "$STATE/cluster" "$STATE/odbc.ini"
  fi
}

stop() {
  [ -f "$STATE/cluster" ] || return 0
  dir=$(cat "$STATE/cluster")
  if [ -f "$dir/watchdog" ]; then
    read -r watchdog watchdog_start _ <"$dir/watchdog" || true
    alive "$watchdog" "$watchdog_start" && kill "$watchdog" 2>/dev/null || true
  fi
  stop_cluster "$dir"
  rm -f "$STATE/cluster" "$STATE/odbc.ini"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  watch) watch "$2" "$3" "$4" ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
