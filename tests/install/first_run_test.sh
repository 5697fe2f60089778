#!/usr/bin/env bash
# first_run_test.sh BUILD_DIR SOURCE_DIR
# Runs README's first run on Linux (the lines between its first-run markers)
# on a fresh root: a mount namespace whose /opt, /var/lib and /etc are the
# test's own. apt, sudo, systemctl and journalctl are stand-ins (below) that
# change nothing outside it; the job's entries go to a file, as no journal
# runs here. README's service address becomes a reference central service on
# loopback, its stamping server a loopback URL.
set -euo pipefail
build=$(realpath "$1")
source_dir=$(realpath "$2")
work=$(mktemp -d /tmp/quorvex-first-run-XXXXXX)
service_pid=
trap '[ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null; rm -rf "$work"' EXIT
chmod 0755 "$work"
failures=0
passes=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}" >/dev/null 2>&1; then passes=$((passes + 1)); else
    echo "FAILED: $1"; failures=$((failures + 1)); fi
}
unshare --mount true || { echo "README's first run needs a mount namespace (root)"; exit 1; }

# README's lines, with the service and the server on loopback.
"$build/quorvex-central-ref" --port-file "$work/port" --record-dir "$work/received" &
service_pid=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
steps=$(sed -n '/^<!-- first-run:begin/,/^<!-- first-run:end/p' "$source_dir/README.md" |
  sed '/^<!--/d; /^```/d')
check "README's first run names the service address and the server to replace" bash -c \
  "grep -q https://central.example.com/update/ <<<'$steps' && grep -q https://stamp1.example.com/ <<<'$steps'"
steps=${steps//https:\/\/central.example.com/http://127.0.0.1:$(cat "$work/port")}
steps=${steps//https:\/\/stamp1.example.com/http://127.0.0.1}
printf '%s\n' "$steps" >"$work/first-run.sh"

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null)
server=$(ls "$work"/pkg/quorvex-server_*.deb)
dpkg-deb -x "$server" "$work/debroot"
dpkg-deb -e "$server" "$work/control"
cp -a /etc "$work/etc"
mkdir "$work/opt" "$work/varlib" "$work/home"
install -m 0666 /dev/null "$work/journal.jsonl"

cat >"$work/stand-ins.sh" <<'STANDINS'
apt() {
  [ "$1" = install ] && [ "$(basename "$2")" = "$(basename "$QUORVEX_TEST_DEB")" ] || {
    echo "apt stand-in: README installs $2, the build made $QUORVEX_TEST_DEB" >&2
    return 100
  }
  cp -a "$work/debroot/opt/." /opt/ && sh "$work/control/postinst" configure
}
sudo() {
  if [ "$1" != -u ]; then "$@"; else setpriv --reuid="$2" --regid="$2" --clear-groups "${@:3}"; fi
}
unit_key() { sed -n "s/^$1=//p" "$work/debroot/lib/systemd/system/$2"; }
systemctl() {
  case "$*" in
    "start quorvex-server.service")
      local unit=quorvex-server.service status=0
      (cd "$(unit_key WorkingDirectory $unit)" && umask "$(unit_key UMask $unit)" &&
        QUORVEX_EVENT_LOG=$work/journal.jsonl setpriv --reuid="$(unit_key User $unit)" \
          --regid="$(unit_key Group $unit)" --clear-groups $(unit_key ExecStart $unit)) ||
        status=$?
      echo "unit ended with status=$status"
      ;;
    "enable --now quorvex-server.timer") echo "timer enabled" ;;
    *) echo "systemctl stand-in: $* is not a step of the first run" >&2; return 1 ;;
  esac
}
journalctl() { [ "$1 $2" = "-t Quorvex" ] && cat "$work/journal.jsonl"; }
STANDINS

transcript=$(cd "$work/home" && work=$work QUORVEX_TEST_DEB=$server unshare --mount bash -c '
  mount --bind "$work/etc" /etc && mount --bind "$work/opt" /opt &&
  mount --bind "$work/varlib" /var/lib &&
  mount --bind "$work/debroot/usr/lib/sysusers.d" /usr/lib/sysusers.d &&
  . "$work/stand-ins.sh" && . "$work/first-run.sh"' 2>&1 || true)

check "the package installs ($transcript)" grep -Eq '^OK +settings' <<<"$transcript"
report=$(grep -E '^(OK|WARN|FAIL) ' <<<"$transcript" || true)
found=$(grep -v -e '^OK ' -e '^WARN schedule:' <<<"$report" | cut -d: -f1 || true)
check "quorvex-check finds nothing to fix but the schedule ($found)" test -z "$found"
check "quorvex-check reaches the central service" grep -Eq '^OK +service answer' <<<"$report"
check "the first run ends with status 0" grep -qx 'unit ended with status=0' <<<"$transcript"
check "the run wrote no warning or error entry" bash -c "! grep -E '\"type\":(1|2),' '$work/journal.jsonl'"
check "journalctl shows the run's entries: nothing to report yet" grep -q 'NO HAY TRANSACCIONES PARA ESTADISTICO EN' <<<"$transcript"
check "the server's latency, or -1, is in St_Ping" grep -Eqx '1\|-?[0-9]+(\.[0-9]+)?' <<<"$transcript"
check "the timer is enabled last" test "$(tail -1 <<<"$transcript")" = "timer enabled"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
