#!/usr/bin/env bash
# The HTTP exchange's bounds, measured on whole runs of the job against the
# reference central service on loopback, with the job's real limits:
#   1. peak resident memory of a run whose service answers a 1 GB body
#      (streamed by the service, never held by it), once announced in
#      Content-Length and once chunked;
#   2. wall time of a run whose service sends its answer one byte per second
#      (libcurl's averaged speed then dips just under the stall limit's one
#      byte per second, which ends the call after about 35 s), and of one
#      sending a byte every 0.9 s, which the stall limit never stops: the
#      deadline ends it.
# Each run has one unsent usage record, so the transaction usage report
# makes exactly one call; the records must stay unsent.
#   bench/reporting/bounded_answers.sh [BUILD_DIR]      (about 6 minutes)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d /tmp/quorvex-bench-bounded-XXXXXX)
service_pid=
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
for f in QuorvexServer tcping.exe psping.exe ping; do cp "$build/$f" "$work/"; done

"$build/quorvex-central-ref" --port-file "$work/port" 2>/dev/null &
service_pid=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")
control() { curl -sf --noproxy '*' -X POST --data-binary "$1" "http://127.0.0.1:$port/__control" >/dev/null; }

fresh_database() {
  rm -f "$work/database.sqlite3"
  sqlite3 "$work/database.sqlite3" < sql/sqlite/schema.sql >/dev/null
  sqlite3 "$work/database.sqlite3" "
    INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL',
      'http://127.0.0.1:$port/update/update.asmx');
    INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha, Enviado)
      VALUES ('TIMBRADO', 'SRV-1', datetime('now', 'localtime', '-1 hour'), 'NO');"
  : > "$work/events.jsonl"
}
printf '[CONEXION]\nSERVERDB=sqlite:database.sqlite3\n' > "$work/QuorvexServer.ini"
export QUORVEX_EVENT_LOG=$work/events.jsonl QUORVEX_STATE_DIR=$work/state no_proxy='*'

# One run under GNU time; prints wall time, peak RSS and what became of the
# usage record and the call.
measured_run() {
  fresh_database
  /usr/bin/time -v "$work/QuorvexServer" 2> "$work/time.txt" >/dev/null || true
  wall=$(sed -n 's/.*Elapsed (wall clock) time.*: //p' "$work/time.txt")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
  enviado=$(sqlite3 "$work/database.sqlite3" "SELECT Enviado FROM Transaccion_Uso")
  warning=$(grep -c 'NO ES POSIBLE CONSUMIR EL WEBSERVICE' "$work/events.jsonl" || true)
  echo "  wall ${wall}, peak RSS ${rss} KiB, record Enviado=${enviado}, warning entries: ${warning}"
}

echo "== Baseline: the service accepts"
control "accept"
measured_run
echo "== 1 GB answer announced in Content-Length"
control "huge 1000000000"
measured_run
echo "== 1 GB answer, chunked (no length announced)"
control "huge-chunked 1000000000"
measured_run
echo "== Answer at 1 byte per second"
control "drip 1000"
measured_run
echo "== Answer at 1 byte every 0.9 s (ends at the deadline, about 5 minutes)"
control "drip 900"
measured_run
