#!/usr/bin/env bash
# Whole runs of two builds of the job (before and after a change) in the
# fault cases of the usage report and the run's time, each against a
# reference central service of its own on loopback that records what it
# receives:
#   locked-marking  a writer holds the database's lock while the first run
#                   marks (released before a second run): records sent per
#                   record over the two runs;
#   sigterm-0.3s    SIGTERM 0.3 s after the service's accepting answer went
#                   out, while a writer holds the lock (with a modest record
#                   count the marking would otherwise be over by then; the
#                   issue's 3 million records took longer): records sent
#                   per record over two runs;
#   drip-0.9s       a service sending its answers one byte every 0.9 s, to
#                   both reports: time to end;
#   locked-1-server a database whose lock a writer holds for the whole run,
#                   one server to measure: time to end;
# each with the first run's peak resident memory (GNU time). The cases run
# side by side; the slowest (a build without the run deadline) takes about
# ten minutes. A last line gives, for the second build, the time from the
# moment the service's accepting answer arrives to the record of that
# acceptance being on the disk (strace), the window in which an end of the
# process still sends the counts twice.
#   bench/job/fault_cases.sh BEFORE_PROGRAM AFTER_PROGRAM [BUILD_DIR] [RECORDS]
# BEFORE_PROGRAM and AFTER_PROGRAM are QuorvexServer binaries; BUILD_DIR
# (default build) supplies the tools and the reference service; RECORDS
# (default 20000) is the number of usage records in the record-counting
# cases.
set -euo pipefail
cd "$(dirname "$0")/../.."
before=$(realpath "$1")
after=$(realpath "$2")
build=$(cd "${3:-build}" && pwd)
records=${4:-20000}
work=$(mktemp -d /tmp/quorvex-bench-faults-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export no_proxy='*'

# setup DIR PROGRAM: an installation in DIR with its own service.
setup() {
  local dir=$1
  mkdir -p "$dir/received" "$dir/state"
  cp "$2" "$dir/QuorvexServer"
  for f in tcping.exe psping.exe ping; do cp "$build/$f" "$dir/"; done
  "$build/quorvex-central-ref" --port-file "$dir/port" --record-dir "$dir/received" \
    --on-accept "$dir/accepted" 2>/dev/null &
  echo $! > "$dir/service.pid"
  for _ in $(seq 200); do [ -s "$dir/port" ] && break; sleep 0.05; done
  sqlite3 "$dir/db.sqlite3" < sql/sqlite/schema.sql >/dev/null
  sqlite3 "$dir/db.sqlite3" "INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL',
    'http://127.0.0.1:$(cat "$dir/port")/update/update.asmx')"
  printf '[CONEXION]\nSERVERDB=sqlite:db.sqlite3\n' > "$dir/QuorvexServer.ini"
}
usage_records() {  # DIR COUNT: records in 20 groups
  sqlite3 "$1/db.sqlite3" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n
    WHERE i < $2) INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha)
    SELECT 'T' || (i % 20), 'SRV-1', datetime('now', 'localtime', '-1 hour') FROM n"
}
control() { curl -sf -X POST --data-binary "$2" "http://127.0.0.1:$(cat "$1/port")/__control" >/dev/null; }
hold_lock() {  # DIR: a writer holding the database's lock until release_lock
  mkfifo "$1/lock.fifo"
  sqlite3 "$1/db.sqlite3" < "$1/lock.fifo" &
  echo $! > "$1/lock.pid"
  exec 9> "$1/lock.fifo"
  echo 'BEGIN IMMEDIATE;' >&9
  sleep 0.5
}
release_lock() { exec 9>&-; wait "$(cat "$1/lock.pid")" 2>/dev/null || true; }
job() {  # DIR: one run, in the background, under GNU time
  (cd "$1" && QUORVEX_EVENT_LOG=$1/events.jsonl QUORVEX_STATE_DIR=$1/state \
    exec /usr/bin/time -v -o "$1/time.$(ls "$1" | grep -c '^time\.')" ./QuorvexServer) &
}
sent_per_record() {
  cat "$1"/received/*.xml 2>/dev/null | grep -o 'Accesos="[0-9]*"' | tr -dc '0-9\n' |
    awk -v n="$records" '{ s += $1 } END { printf "%.2f", s / n }'
}
figures() {  # DIR: wall time and peak RSS of the first run
  printf 'time to end %s, peak RSS %s KiB' \
    "$(sed -n 's/.*Elapsed (wall clock) time.*: //p' "$1/time.0")" \
    "$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$1/time.0")"
}

locked_marking() {  # DIR
  usage_records "$1" "$records"
  hold_lock "$1"
  job "$1"; wait $!
  release_lock "$1"
  job "$1"; wait $!
  echo "locked-marking $(basename "$1"): records sent per record $(sent_per_record "$1"); $(figures "$1")"
}
sigterm() {  # DIR
  usage_records "$1" "$records"
  hold_lock "$1"
  job "$1"; local pid=$!
  while [ ! -s "$1/accepted" ]; do sleep 0.01; done
  sleep 0.3
  pkill -TERM -P "$pid" -x QuorvexServer || true
  wait "$pid" || true
  release_lock "$1"
  job "$1"; wait $!
  echo "sigterm-0.3s $(basename "$1"): records sent per record $(sent_per_record "$1"); $(figures "$1")"
}
drip() {  # DIR
  usage_records "$1" 1
  sqlite3 "$1/db.sqlite3" "INSERT INTO Operadores VALUES ('A1', 'Ana', 'a')"
  control "$1" "drip 900"
  job "$1"; wait $!
  echo "drip-0.9s $(basename "$1"): $(figures "$1")"
}
locked_one_server() {  # DIR
  usage_records "$1" 1
  sqlite3 "$1/db.sqlite3" "INSERT INTO Servidor_Timbrado VALUES ('1',
    'http://127.0.0.1:$(cat "$1/port")/', 'AC', 0)"
  printf 'PING-PORT=%s\n' "$(cat "$1/port")" >> "$1/QuorvexServer.ini"
  hold_lock "$1"
  job "$1"; wait $!
  release_lock "$1"
  echo "locked-1-server $(basename "$1"): $(figures "$1")"
}

cases=()
for build_name in before after; do
  program=$before
  [ "$build_name" = after ] && program=$after
  for case in locked_marking sigterm drip locked_one_server; do
    setup "$work/$case-$build_name" "$program"
    "$case" "$work/$case-$build_name" > "$work/$case-$build_name.result" 2>&1 &
    cases+=($!)
  done
done
wait "${cases[@]}" || true
cat "$work"/*.result

# The window, on the second build: an accepted report, traced.
dir=$work/window
setup "$dir" "$after"
usage_records "$dir" 100
(cd "$dir" && QUORVEX_EVENT_LOG=$dir/events.jsonl QUORVEX_STATE_DIR=$dir/state \
  strace -f -ttt -T -e trace=recvfrom,read,pwrite64,fdatasync -o "$dir/trace" ./QuorvexServer)
awk '!accepted && /recvfrom\(/ && !/= -1/ { got = $2 }
     /pwrite64\(.*"ACCEPTED"/ { accepted = 1 }
     accepted && /fdatasync\(/ { match($0, /<[0-9.]+>/); end = $2 + substr($0, RSTART + 1, RLENGTH - 2)
       printf "window after: answer received to acceptance on the disk %.2f ms\n", (end - got) * 1000; exit }' \
  "$dir/trace"
