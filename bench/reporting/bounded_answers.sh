#!/usr/bin/env bash
# The report call's bounds, measured on whole runs of the job against the
# reference central service on loopback, with the job's real limits. Each
# case prints wall time, peak resident memory, how the process ended, what
# became of the usage records and the run's warning and error entries.
#
#   bench/reporting/bounded_answers.sh [BUILD_DIR] [CASE...]
#
# BUILD_DIR holds QuorvexServer, its tools and quorvex-central-ref (a build
# folder, or a folder of copies of an older build to compare with). Without
# CASE every case runs (about 8 minutes); the cases:
#   baseline            the service accepts
#   huge                a 1 GB answer announced in Content-Length
#   huge-chunked        a 1 GB answer without a length: read up to the
#                       64 MiB cap, then abandoned
#   answer-64m          an accepted answer of 67,000,000 bytes (just under
#                       the cap), announced in Content-Length
#   answer-64m-chunked  the same without a length
#   nested              an accepted answer of about 1 MB whose result text
#                       lies 150,000 elements deep
#   fifo                the service address is file:// naming a named pipe
#                       nobody writes (the run is stopped after 120 s)
#   groups              a usage report of 1,000,000 distinct groups, which
#                       the service accepts
#   drip                an answer at one byte per second (libcurl's averaged
#                       speed dips just under the stall limit: about 35 s)
#   drip-slow           a byte every 0.9 s, which the stall limit never
#                       stops: the 300 s deadline ends it
# Every case but groups has one unsent usage record, so the usage report
# makes exactly one call.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
shift || true
cases=("$@")
[ ${#cases[@]} -gt 0 ] ||
  cases=(baseline huge huge-chunked answer-64m answer-64m-chunked nested fifo groups drip drip-slow)
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
address="http://127.0.0.1:$port/update/update.asmx"
control() { curl -sf --noproxy '*' -H 'Content-Type: text/plain' -X POST --data-binary "$1" "http://127.0.0.1:$port/__control" >/dev/null; }

# A fresh database with the service address given and one unsent record
# (or, with a third argument, that many records in as many groups).
fresh_database() {
  local url=$1 groups=${2:-1}
  rm -f "$work/database.sqlite3"
  sqlite3 "$work/database.sqlite3" < sql/sqlite/schema.sql >/dev/null
  sqlite3 "$work/database.sqlite3" "
    INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '$url');
    WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < $groups)
    INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha, Enviado)
      SELECT 'TRANSACCION-' || (i % 20), 'SRV-' || (i / 20),
             datetime('now', 'localtime', '-1 hour'), 'NO' FROM n;"
  : > "$work/events.jsonl"
}
printf '[CONEXION]\nSERVERDB=sqlite:database.sqlite3\n' > "$work/QuorvexServer.ini"
export QUORVEX_EVENT_LOG=$work/events.jsonl QUORVEX_STATE_DIR=$work/state no_proxy='*'

# One run under GNU time, stopped after $limit seconds; prints wall time,
# peak RSS, how it ended and what became of the usage records and the call.
measured_run() {
  local status=0
  /usr/bin/time -v timeout "$limit" "$work/QuorvexServer" 2> "$work/time.txt" >/dev/null ||
    status=$?
  wall=$(sed -n 's/.*Elapsed (wall clock) time.*: //p' "$work/time.txt")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
  case $status in
    124) ended="still running at $limit s, stopped" ;;
    12[5-9] | 1[3-9]?) ended="killed by signal $((status - 128))" ;;
    *) ended="exit $status" ;;
  esac
  enviado=$(sqlite3 "$work/database.sqlite3" \
    "SELECT group_concat(Enviado || ' x' || n, ', ') FROM
       (SELECT Enviado, COUNT(*) AS n FROM Transaccion_Uso GROUP BY Enviado)")
  echo "  wall ${wall:-?}, peak RSS ${rss:-?} KiB, ${ended}; records: ${enviado}"
  # Warning and error entries: type, then the message's first 160 bytes.
  python3 -c '
import json, sys
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    e = json.loads(line)
    if e["type"] != 4:
        print("  entry %d: %s" % (e["type"], e["message"].replace("\r\n", " | ")[:160]))
' "$work/events.jsonl"
}

# The answer envelope whose result element holds 150,000 nested elements
# around an accepted answer document (escaped, as a result text is).
nested_answer() {
  python3 -c '
depth = 150000
answer = "&lt;Respuesta Estado=\"ACEPTADO\"&gt;&lt;Mensaje Codigo=\"0\"&gt;HONDO&lt;/Mensaje&gt;&lt;/Respuesta&gt;"
print("status 200")
print("<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><RecibeDocumentoResponse><RecibeDocumentoResult>"
      + "<a>" * depth + answer + "</a>" * depth
      + "</RecibeDocumentoResult></RecibeDocumentoResponse></soap:Body></soap:Envelope>", end="")
' > "$work/nested.mode"
  echo "@$work/nested.mode"
}

for c in "${cases[@]}"; do
  url=$address groups=1 limit=120
  case $c in
    baseline) echo "== Baseline: the service accepts"; control "accept" ;;
    huge) echo "== 1 GB answer announced in Content-Length"; control "huge 1000000000" ;;
    huge-chunked) echo "== 1 GB answer, chunked (held up to the 64 MiB cap)"
      control "huge-chunked 1000000000" ;;
    answer-64m) echo "== Accepted answer of 67,000,000 bytes, announced"
      control "huge 67000000" ;;
    answer-64m-chunked) echo "== Accepted answer of 67,000,000 bytes, chunked"
      control "huge-chunked 67000000" ;;
    nested) echo "== Accepted answer of about 1 MB, 150,000 elements deep"
      control "$(nested_answer)" ;;
    fifo) echo "== Service address file:// naming a named pipe"
      control "accept"; mkfifo "$work/fifo"; url="file://$work/fifo" ;;
    groups) echo "== Usage report of 1,000,000 distinct groups, accepted"
      control "accept"; groups=1000000 ;;
    drip) echo "== Answer at 1 byte per second"; control "drip 1000" ;;
    drip-slow) echo "== Answer at 1 byte every 0.9 s (ends at the deadline, about 5 minutes)"
      control "drip 900"; limit=400 ;;
    *) echo "unknown case $c" >&2; exit 2 ;;
  esac
  fresh_database "$url" "$groups"
  measured_run
done
