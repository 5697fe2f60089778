#!/usr/bin/env bash
# Tools that misbehave, run by the real job (GNU time for each run):
#   - a tool that prints 2 GiB: peak resident memory of the job;
#   - a tool that never ends: wall time until the job's tool time limit ends it;
#   - a tool that leaves a grandchild holding its output open: the same;
#   - a tool that ends at once, leaving a grandchild that left its process
#     group (setsid) and sleeps: whether the grandchild outlives the run;
#   - a tool that never ends, with such a grandchild: the same, at the limit.
# Each case is one server on a loopback listener and a stand-in tcping.exe.
# After each case its leftover processes are counted, then ended.
# The three hang cases take about two minutes each (the job's limit).
#   bench/probe/bounded_runs.sh [BUILD_DIR] [WORD]
# With WORD only the cases whose title holds it run (e.g. setsid).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build}")
only=${2:-}
work=$(mktemp -d /tmp/quorvex-bench-bounded-XXXXXX)
listener=
cleanup() {
  [ -n "$listener" ] && kill "$listener" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp "$build/QuorvexServer" "$work/"
sqlite3 "$work/database.sqlite3" < sql/sqlite/schema.sql >/dev/null
printf '[CONEXION]\nSERVERDB=sqlite:database.sqlite3\n' > "$work/QuorvexServer.ini"
export QUORVEX_EVENT_LOG=$work/events.jsonl QUORVEX_STATE_DIR=$work/state

# A loopback listener, so that the server passes the connectivity check.
python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(64)
print(s.getsockname()[1], flush=True)
while True:
    c, _ = s.accept(); c.close()
' > "$work/port" &
listener=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
sqlite3 "$work/database.sqlite3" \
  "INSERT INTO Servidor_Timbrado VALUES ('S1', 'http://127.0.0.1:$port/', 'AC', 5)"

# Each stand-in tcping.exe sleeps with a period of its own, so that what it
# leaves behind can be counted afterwards.
marker=$((86000 + $$ % 400))
run_case() {
  local title=$1 script=$2
  [[ $title == *"$only"* ]] || return 0
  printf '#!/bin/sh\n%s\n' "$script" > "$work/tcping.exe"
  chmod +x "$work/tcping.exe"
  echo "== $title"
  /usr/bin/time -v "$work/QuorvexServer" 2> "$work/time.txt" >/dev/null || true
  grep -E 'Elapsed \(wall clock\)|Maximum resident set size' "$work/time.txt" | sed 's/^\s*/  /'
  echo "  St_Ping stored: $(sqlite3 "$work/database.sqlite3" 'SELECT St_Ping FROM Servidor_Timbrado')"
  local left
  left=$(pgrep -f "sleep $marker" || true)
  echo "  stand-in processes left running after the run: $(echo "$left" | grep -c . || true)"
  for pid in $left; do kill "$pid" 2>/dev/null || true; done
}

run_case "tool printing 2 GiB" \
  "yes 'Probing 127.0.0.1:80/tcp - Port is open - time=0.050ms' | head -c 2147483648"
run_case "tool that never ends" \
  "echo 'Probing 127.0.0.1:80/tcp - Port is open - time=0.050ms'; exec sleep $marker"
run_case "tool whose grandchild holds the output" \
  "sleep $marker & echo 'Probing 127.0.0.1:80/tcp - Port is open - time=0.050ms'; exit 0"
run_case "tool that ends at once, its grandchild gone with setsid" \
  "setsid sleep $marker </dev/null >/dev/null 2>&1 & echo 'Probing 127.0.0.1:80/tcp - Port is open - time=0.050ms'; exit 0"
run_case "tool that never ends, its grandchild gone with setsid" \
  "setsid sleep $marker </dev/null >/dev/null 2>&1 & echo 'Probing 127.0.0.1:80/tcp - Port is open - time=0.050ms'; exec sleep $marker"
