#!/usr/bin/env bash
# The Windows job under wine, with a stand-in tcping.exe that starts a ping
# (61 echo requests, a minute) and ends at once: is the ping still running
# after the run? Prints the run's wall time, the St_Ping stored and the
# pings left; ends them afterwards.
#   bench/probe/windows_leftover.sh [WINDOWS_BUILD_DIR or QuorvexServer.exe]
set -euo pipefail
cd "$(dirname "$0")/../.."
target=$(realpath "${1:-build-win}")
[ -d "$target" ] && target=$target/QuorvexServer.exe
# The Windows build's own prefix (the folder that holds the program).
wine_home=$(dirname "$target") source scripts/wine-env.sh
work=$(mktemp -d /tmp/quorvex-bench-leftover-XXXXXX)
listener=
cleanup() {
  [ -n "$listener" ] && kill "$listener" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp "$target" "$work/QuorvexServer.exe"
x86_64-w64-mingw32-g++-posix -static -O1 bench/probe/leaving_tool-win32.cc -o "$work/tcping.exe"
printf '[CONEXION]\r\nSERVERDB=sqlite:database.sqlite3\r\n' > "$work/QuorvexServer.ini"
sqlite3 "$work/database.sqlite3" < sql/sqlite/schema.sql >/dev/null
# A loopback listener, so that the server passes the connectivity check.
python3 -c '
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(64)
print(s.getsockname()[1], flush=True)
while True:
    c, _ = s.accept(); c.close()
' > "$work/port" &
listener=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
sqlite3 "$work/database.sqlite3" \
  "INSERT INTO Servidor_Timbrado VALUES ('S1', 'http://127.0.0.1:$(cat "$work/port")/', 'AC', 5)"

start=$(date +%s.%N)
QUORVEX_EVENT_LOG=$(winepath -w "$work/events.jsonl" 2>/dev/null) \
  timeout 120 wine "$work/QuorvexServer.exe" || echo "  exit status $?"
echo "  wall $(echo "$(date +%s.%N) - $start" | bc) s, St_Ping" \
  "$(sqlite3 "$work/database.sqlite3" 'SELECT St_Ping FROM Servidor_Timbrado')"
sleep 1
left=$(pgrep -f 'ping -n 61 127.0.0.1' || true)
echo "  pings left running after the run: $(echo "$left" | grep -c . || true)"
for pid in $left; do kill "$pid" 2>/dev/null || true; done
