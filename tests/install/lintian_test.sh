#!/usr/bin/env bash
# lintian_test.sh BUILD_DIR SOURCE_DIR
# Builds the Debian packages and runs Debian's own checks on them: any error
# or warning lintian reports, but those the packages override
# (packaging/debian/*.lintian-overrides, which say why), fails the test, and
# so does an override that no longer matches anything. lintian's notes of
# the info and pedantic levels are shown, and fail nothing. The debug symbols
# must have left the programs for the -dbgsym packages.
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d /tmp/quorvex-lintian-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}" >/dev/null 2>&1; then passes=$((passes + 1)); else
    echo "FAILED: $1"; failures=$((failures + 1)); fi
}
command -v lintian >/dev/null || { echo "lintian is missing: run scripts/install-deps"; exit 1; }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null)
for deb in "$work"/pkg/*.deb; do
  name=$(dpkg-deb -f "$deb" Package)
  tags=$(lintian --no-cfg --display-level '>=info' --tag-display-limit 0 "$deb" 2>&1 || true)
  new=$(grep -E '^[EW]: |^I: .*-override ' <<<"$tags" || true)
  check "lintian finds nothing new in $name:
$new" test -z "$new"
  check "$name has a -dbgsym package with its programs' debug symbols" \
    bash -c "dpkg-deb -c '$work'/pkg/${name}-dbgsym_*.ddeb | grep -q '/usr/lib/debug/.build-id/.*\.debug\$'"
done

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
