#!/bin/sh
# A throw-away PostgreSQL server for the ODBC session tests.
#
#   pg_harness.sh start   create the cluster, start it on 127.0.0.1, load the
#                         schema, write the odbc.ini the tests use
#   pg_harness.sh stop    stop the server and delete everything it made
#
# Settings (environment):
#   QUORVEX_PG_PORT   loopback port of the server (default 54329)
#   QUORVEX_PG_DIR    folder for the cluster and odbc.ini
#                     (default /tmp/quorvex-pg-$QUORVEX_PG_PORT)
#   QUORVEX_PG_BIN    PostgreSQL programs (default /usr/lib/postgresql/15/bin)
#
# The data source "QuorvexPgTest" reaches database quorvex_test as role
# quorvex (password "quorvex"); "QuorvexPgDown" points at a loopback port
# where nothing listens. Nothing outside QUORVEX_PG_DIR is changed: the
# tests find the data sources through ODBCINI. PostgreSQL refuses to run as
# root, so when started by root the server runs as user postgres.
set -eu

PORT=${QUORVEX_PG_PORT:-54329}
DIR=${QUORVEX_PG_DIR:-/tmp/quorvex-pg-$PORT}
BIN=${QUORVEX_PG_BIN:-/usr/lib/postgresql/15/bin}
# A loopback port nothing listens on, for the "server is down" source.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
DOWN_PORT=${QUORVEX_PG_DOWN_PORT:-$(free_port)}
HERE=$(cd "$(dirname "$0")" && pwd)
SCHEMA=$HERE/../../sql/postgres/schema.sql
DATA=$DIR/data

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
psql_as() {  # psql_as USER DATABASE ARGS...
  user=$1 db=$2 && shift 2
  as_owner "$BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$DIR" -p "$PORT" -U "$user" -d "$db" "$@"
}

running() {
  [ -f "$DATA/postmaster.pid" ] && as_owner "$BIN/pg_ctl" -D "$DATA" status >/dev/null 2>&1
}

write_odbc_ini() {
  cat >"$DIR/odbc.ini" <<EOF
[QuorvexPgTest]
Driver = PostgreSQL Unicode
Servername = 127.0.0.1
Port = $PORT
Database = quorvex_test

[QuorvexPgDown]
Driver = PostgreSQL Unicode
Servername = 127.0.0.1
Port = $DOWN_PORT
Database = quorvex_test
EOF
}

start() {
  if running; then
    write_odbc_ini
    return 0
  fi
  rm -rf "$DIR"
  mkdir -p "$DIR"
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres "$DIR"
  fi
  # Local (socket) logins are trusted for the harness itself; TCP logins,
  # the ones the tests make, must give the right password.
  as_owner "$BIN/initdb" -D "$DATA" -U postgres --auth-local=trust \
    --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$DIR/initdb.log" 2>&1 || {
    cat "$DIR/initdb.log" >&2
    exit 1
  }
  as_owner "$BIN/pg_ctl" -D "$DATA" -l "$DIR/server.log" -w -t 60 \
    -o "-p $PORT -k $DIR -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null || {
    cat "$DIR/server.log" >&2
    exit 1
  }
  psql_as postgres postgres -c "CREATE ROLE quorvex LOGIN PASSWORD 'quorvex'"
  psql_as postgres postgres -c "CREATE DATABASE quorvex_test OWNER quorvex"
  # Read by this shell and fed on stdin, so user postgres needs no access
  # to the source tree.
  psql_as quorvex quorvex_test <"$SCHEMA"
  write_odbc_ini
}

stop() {
  if running; then
    as_owner "$BIN/pg_ctl" -D "$DATA" -m immediate -w stop >/dev/null
  fi
  rm -rf "$DIR"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
