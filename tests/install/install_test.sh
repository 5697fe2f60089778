#!/usr/bin/env bash
# install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/quorvex-install-test-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}" >/dev/null 2>&1; then passes=$((passes + 1)); else
    echo "FAILED: $1"; failures=$((failures + 1)); fi
}

layout=(opt/quorvex/QuorvexServer opt/quorvex/quorvex-check opt/quorvex/tcping.exe
  opt/quorvex/psping.exe opt/quorvex/ping opt/quorvex/quorvex-password
  opt/quorvex/QuorvexServer.ini.example
  opt/quorvex/README.md opt/quorvex/sql/sqlite/schema.sql opt/quorvex/sql/sqlserver/schema.sql
  lib/systemd/system/quorvex-server.service lib/systemd/system/quorvex-server.timer
  usr/lib/sysusers.d/quorvex.conf)
if [ -e "$build/QuorvexConsole" ]; then layout+=(opt/quorvex/QuorvexConsole); fi

# 1. cmake --install into a temporary root.
cmake --install "$build" --prefix "$work/root" >/dev/null
for f in "${layout[@]}"; do check "cmake --install lays out /$f" test -e "$work/root/$f"; done
for p in tcping.exe psping.exe ping quorvex-password; do
  check "$p answers --help and --version" bash -c "'$work/root/opt/quorvex/$p' --help | grep -q '^usage: ' &&
    test \"\$('$work/root/opt/quorvex/$p' --version)\" = '$p (Quorvex Server) $(dpkg-parsechangelog -l "$2/packaging/debian/changelog" -S Version)'"
done
check "every key of CONEXION is in the settings example" bash -c \
  "for k in SERVERDB SERVER USER-ID PASSWORD DATABASE PING-MODE PSPING PSPING-COMMAND TCPING TCPING-COMMAND PING-PORT; do grep -q \"\$k=\" '$work/root/opt/quorvex/QuorvexServer.ini.example' || exit 1; done"
unit=$work/root/lib/systemd/system/quorvex-server.service
for line in SuccessExitStatus=75 NoNewPrivileges=yes ProtectSystem=strict PrivateTmp=yes \
  User=quorvex UMask=0027 StateDirectory=quorvex; do
  check "the service has $line" grep -qx "$line" "$unit"
done
check "a hung run fails the unit, within bounds" bash -c "grep -Eqx 'TimeoutStartSec=[1-9][0-9]*(min|s)?' '$unit' && grep -Eqx 'MemoryMax=[1-9][0-9]*[KMG]' '$unit'"
check "the service writes only its state directory" bash -c "! grep -q '^ReadWritePaths=' '$unit'"
check "the settings example points at the state directory" \
  grep -qx 'SERVERDB=sqlite:/var/lib/quorvex/quorvex.sqlite3' "$work/root/opt/quorvex/QuorvexServer.ini.example"
if command -v systemd-analyze >/dev/null 2>&1; then
  # Outside a booted systemd (containers, CI) verify also complains about
  # missing targets and the not yet installed program; only what it says
  # about the units' own lines counts here.
  verdict=$(systemd-analyze verify "$work/root/lib/systemd/system/quorvex-server.service" \
    "$work/root/lib/systemd/system/quorvex-server.timer" 2>&1 || true)
  check "systemd reads every line of the units ($verdict)" \
    bash -c "! grep -E 'Unknown (key|section|lvalue)|Failed to parse|[Ii]nvalid|bad unit file|lacks' <<<'$verdict'"
fi

# 2. The Debian packages, unpacked into a throw-away root.
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null)
server=$(ls "$work"/pkg/quorvex-server_*.deb 2>/dev/null | head -1)
console=$(ls "$work"/pkg/quorvex-console_*.deb 2>/dev/null | head -1)
check "cpack builds quorvex-server" test -n "$server"
if [ -e "$build/QuorvexConsole" ]; then check "cpack builds quorvex-console" test -n "$console"; fi
check "cpack builds no other package" \
  bash -c "! ls '$work'/pkg/*.deb | grep -v -e /quorvex-server_ -e /quorvex-console_"
if [ -n "$server" ]; then
  depends=$(dpkg-deb -f "$server" Depends)
  check "quorvex-server depends on the libraries it links and loads ($depends)" bash -c \
    "for p in libsqlite3 libcurl4 libodbc2 libsystemd0; do grep -q \"\$p\" <<<'$depends' || exit 1; done"
  check "quorvex-server pulls in no display library ($depends)" \
    bash -c "! grep -Eiq 'fltk|libx|xft|fontconfig|freetype|libgl' <<<'$depends'"
  check "quorvex-server leaves the console to quorvex-console" \
    bash -c "! dpkg-deb -c '$server' | grep -q QuorvexConsole"
  check "every file and folder of quorvex-server belongs to root" \
    bash -c "! dpkg-deb -c '$server' | awk '\$2 != \"root/root\"' | grep -q ."
  check "the program folder is packaged as drwxr-xr-x" \
    bash -c "dpkg-deb -c '$server' | grep -Eq '^drwxr-xr-x .* \\./opt/quorvex/\$'"
  dpkg-deb -x "$server" "$work/debroot"
  dpkg-deb -e "$server" "$work/control"
fi
if [ -n "$console" ]; then
  check "quorvex-console depends on quorvex-server of its own version and on FLTK" bash -c \
    "dpkg-deb -f '$console' Depends | grep -q 'quorvex-server (= $(dpkg-deb -f "$console" Version))' &&
     dpkg-deb -f '$console' Depends | grep -q libfltk"
  dpkg-deb -x "$console" "$work/debroot"
fi
for f in "${layout[@]}"; do check "the packages install /$f" test -e "$work/debroot/$f"; done
# Debian's own checks: any error or warning of lintian that the package's
# overrides (packaging/debian/*.lintian-overrides, each with its reason) do
# not accept fails, and so does an override that matches nothing any more.
# Its info and pedantic notes fail nothing. The programs' debug symbols are
# in the -dbgsym packages.
check "lintian is installed (scripts/install-deps)" command -v lintian
for deb in $server $console; do
  name=$(dpkg-deb -f "$deb" Package)
  tags=$(lintian --no-cfg --display-level '>=info' --tag-display-limit 0 "$deb" 2>&1 || true)
  new=$(grep -E '^[EW]: |^I: .*-override ' <<<"$tags" || true)
  check "lintian finds nothing new in $name:
$new" test -z "$new"
  check "$name's debug symbols are in ${name}-dbgsym" bash -c \
    "dpkg-deb -c '$work'/pkg/${name}-dbgsym_*.ddeb | grep -q '/usr/lib/debug/.build-id/.*\.debug\$'"
done

# 3. The postinst on its real paths, in a mount namespace of its own: the
# unpacked package over /opt, a copy of /etc (for the job's user) and an
# empty /var/lib. The machine is left alone. (The packaged job's first run
# is install_first_run's.)
as_installed() {
  unshare --mount bash -c 'mount --bind "$1/etc" /etc && mount --bind "$1/debroot/opt" /opt &&
    mount --bind "$1/varlib" /var/lib &&
    mount --bind "$1/debroot/usr/lib/sysusers.d" /usr/lib/sysusers.d && shift && "$@"' \
    as_installed "$work" "$@"
}
owned() { check "$1 is $3" test "$(as_installed stat -c '%U:%G %a' "$2")" = "$3"; }  # DESC PATH "U:G MODE"
if [ -n "$server" ] && unshare --mount true 2>/dev/null && [ -d /usr/lib/sysusers.d ]; then
  cp -a /etc "$work/etc"
  mkdir "$work/varlib"
  check "the postinst configures" as_installed sh "$work/control/postinst" configure
  owned "the program folder" /opt/quorvex "root:root 755"
  owned "the settings file" /opt/quorvex/QuorvexServer.ini "root:quorvex 640"
  owned "the state directory" /var/lib/quorvex "quorvex:quorvex 750"
  owned "the seeded embedded database" /var/lib/quorvex/quorvex.sqlite3 "quorvex:quorvex 640"
  # An upgrade from a package that gave the folder and the settings to the
  # job's user: the edited settings stay, the owners are taken back.
  as_installed bash -c 'echo "; edited" >>/opt/quorvex/QuorvexServer.ini &&
    chown quorvex:quorvex /opt/quorvex /opt/quorvex/QuorvexServer.ini && chmod 0666 /opt/quorvex/QuorvexServer.ini'
  check "the postinst configures again" as_installed sh "$work/control/postinst" configure 0.9.0
  check "the postinst keeps edited settings" grep -qx '; edited' "$work/debroot/opt/quorvex/QuorvexServer.ini"
  owned "after an upgrade the program folder" /opt/quorvex "root:root 755"
  owned "after an upgrade the settings file" /opt/quorvex/QuorvexServer.ini "root:quorvex 640"
  # The settings across configures. Each row: what is made at the settings
  # path first, the version configure is given (none at a first
  # installation, the one configured before at an upgrade), and what must
  # hold after it. A link's target is the job's, 0600, holding "kept".
  ini=/opt/quorvex/QuorvexServer.ini
  target=/var/lib/quorvex/planted
  link="rm -f $ini && echo kept >$target && chown quorvex:quorvex $target && chmod 0600 $target"
  link="$link && ln -s $target $ini"
  link_left="test -L $ini && grep -qx kept $target"
  link_left="$link_left && test \"\$(stat -c '%U:%G %a' $target)\" = 'quorvex:quorvex 600'"
  while IFS='|' read -r name arrange version expect; do
    check "settings: $name" as_installed sh -c \
      "$arrange && sh '$work/control/postinst' configure $version >/dev/null 2>&1 && $expect"
  done <<ROWS
deleted by the administrator, then an upgrade: not made again|rm -f $ini|1.0.0|test ! -e $ini
deleted, then a first installation: made from the example|rm -f $ini||cmp -s $ini $ini.example && test "\$(stat -c '%U:%G %a' $ini)" = 'root:quorvex 640'
a symbolic link at a first installation: not followed|$link||$link_left
a symbolic link at an upgrade: not followed|$link|1.0.0|$link_left
ROWS
else
  echo "postinst and packaged job not run: no mount namespace here (needs root)"
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
