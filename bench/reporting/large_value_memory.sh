#!/usr/bin/env bash
# Peak resident memory of a whole run whose usage report meets one large
# Transaccion value, for two builds of the job (before and after a change).
# For each size, an installation with 100 ordinary unsent usage records and
# one whose Transaccion is SIZE megabytes of 'x', a reference central
# service of its own on loopback, and one run under GNU time. Prints, per
# build and size: the peak resident memory, the bytes of the usage document
# the service received (none when nothing was sent) and the run's first
# usage-report entry, shortened.
#   bench/reporting/large_value_memory.sh BEFORE_PROGRAM AFTER_PROGRAM [BUILD_DIR] [SIZE_MB...]
# BEFORE_PROGRAM and AFTER_PROGRAM are QuorvexServer binaries; BUILD_DIR
# (default build) supplies the reference service; the sizes default to 10
# and 50.
set -euo pipefail
cd "$(dirname "$0")/../.."
before=$(realpath "$1")
after=$(realpath "$2")
build=$(cd "${3:-build}" && pwd)
sizes=("${@:4}")
[ ${#sizes[@]} -gt 0 ] || sizes=(10 50)
work=$(mktemp -d /tmp/quorvex-bench-memory-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export no_proxy='*'

for name in before after; do
  program=$before
  [ "$name" = after ] && program=$after
  for mb in "${sizes[@]}"; do
    dir=$work/$name-$mb
    mkdir -p "$dir/received" "$dir/state"
    cp "$program" "$dir/QuorvexServer"
    "$build/quorvex-central-ref" --port-file "$dir/port" --record-dir "$dir/received" 2>/dev/null &
    for _ in $(seq 200); do [ -s "$dir/port" ] && break; sleep 0.05; done
    sqlite3 "$dir/db.sqlite3" < sql/sqlite/schema.sql >/dev/null
    sqlite3 "$dir/db.sqlite3" "INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL',
      'http://127.0.0.1:$(cat "$dir/port")/update/update.asmx');
      WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100)
      INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha)
      SELECT 'T' || (i % 5), 'SRV-1', '2026-01-05 10:00:00' FROM n;
      INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha)
      VALUES (replace(hex(zeroblob($mb * 524288)), '0', 'x'), 'SRV-1', '2026-01-05 10:00:00');"
    printf '[CONEXION]\nSERVERDB=sqlite:db.sqlite3\n' > "$dir/QuorvexServer.ini"
    (cd "$dir" && QUORVEX_EVENT_LOG=$dir/events.jsonl QUORVEX_STATE_DIR=$dir/state \
      /usr/bin/time -v -o "$dir/time" ./QuorvexServer) || true
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$dir/time")
    sent=none
    for f in "$dir"/received/*.xml; do
      [ -e "$f" ] && grep -q "TRANSACCION-USO" "$f" && sent="$(stat -c %s "$f") bytes"
    done
    entry=$( (grep -o 'Get_Transaccion_Uso()[^"]*' "$dir/events.jsonl" 2>/dev/null || true) | head -1 | cut -c1-160)
    printf '%-6s %3d MB value: peak RSS %7d KiB (%s x the value), document sent: %s; entry: %s\n' \
      "$name" "$mb" "$rss" "$(awk -v r="$rss" -v m="$mb" 'BEGIN { printf "%.1f", r / (m * 1024) }')" \
      "$sent" "${entry:-none}"
  done
done
