#!/usr/bin/env bash
# A run with nothing to do, on the embedded database: wall time over many
# runs (hyperfine) and peak resident memory (GNU time).
#   bench/job/empty_run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
work=$(mktemp -d /tmp/quorvex-bench-empty-XXXXXX)
trap 'rm -rf "$work"' EXIT
for f in QuorvexServer tcping.exe psping.exe ping; do cp "$build/$f" "$work/"; done
sqlite3 "$work/database.sqlite3" < sql/sqlite/schema.sql >/dev/null
printf '[CONEXION]\nSERVERDB=sqlite:database.sqlite3\n' > "$work/QuorvexServer.ini"
export QUORVEX_EVENT_LOG=$work/events.jsonl QUORVEX_STATE_DIR=$work/state

echo "== Wall time of one empty run"
hyperfine --warmup 5 --runs 200 -N "$work/QuorvexServer"

echo "== Peak resident memory of one empty run (10 runs)"
peak=0
for _ in $(seq 10); do
  kb=$(/usr/bin/time -f '%M' "$work/QuorvexServer" 2>&1 >/dev/null | tail -1)
  [ "$kb" -gt "$peak" ] && peak=$kb
done
echo "peak RSS: ${peak} KiB"
echo "entries written per run: $(( $(wc -l < "$work/events.jsonl") / 215 ))"
