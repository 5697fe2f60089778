#!/usr/bin/env bash
# Seeded faults against the test suite, in the manner of mull and PIT: each
# line of the list is one small textual change to the product code (a
# mutant). The mutants are applied one at a time to a copy of the tree, the
# copy is rebuilt incrementally, and the tests run (without the window,
# wine and install tests). A mutant is caught when a test fails, survives
# when every test passes.
#
#   bench/mutants/run.sh [--list FILE] [--only REGEX] [--all] [--limit SECONDS] [--work DIR]
#
#   --list FILE      the mutants (default bench/mutants/mutants.tsv)
#   --only REGEX     only the mutants whose name matches
#   --all            run the whole suite for every mutant, ignoring the
#                    tests a line names
#   --limit SECONDS  the time a mutant's tests may take (default 900); past
#                    it the mutant counts as caught ("timeout")
#   --work DIR       where the copy and its build live (default build-mutants,
#                    which git ignores; kept between runs, so the second run
#                    rebuilds only what changed)
#   --keep-baseline  take the failing tests from the last run's suite without
#                    mutants instead of running it again
#
# The list is tab-separated, one mutant a line, '#' lines and blank lines
# ignored: name, file, original text, replacement, and optionally a ctest
# regex of the tests to run for it (default: all of them). In the texts,
# \n stands for a line break, \t for a tab and \\ for a backslash. The
# original must occur exactly once in the file: a mutant whose text is not
# found (the code has changed) is reported "stale", not run, and counts in
# neither figure; so does one whose change does not build.
#
# The working tree is never touched: the copy is made of the files git
# tracks, as they are now, and every mutated file of the copy is restored
# before the next mutant, also when the script is interrupted.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
list=bench/mutants/mutants.tsv
only=""
all=0
limit=900
work=build-mutants
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --list) list=$2 && shift 2 ;;
    --only) only=$2 && shift 2 ;;
    --all) all=1 && shift ;;
    --limit) limit=$2 && shift 2 ;;
    --work) work=$2 && shift 2 ;;
    --keep-baseline) keep=1 && shift ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2 && exit 2 ;;
  esac
done
list=$(realpath "$list")
mkdir -p "$work"
work=$(realpath "$work")
tree=$work/tree
build=$tree/build
log=$work/log
mkdir -p "$tree" "$log"

# The copy: the tracked files as they are in the working tree. Only files
# whose content differs are copied, so ninja rebuilds only what changed.
git ls-files -z | python3 -c '
import filecmp, os, shutil, sys
for name in sys.stdin.read().split("\0"):
    target = os.path.join(sys.argv[1], name)
    if name and not (os.path.exists(target) and filecmp.cmp(name, target, shallow=False)):
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(name, target)
' "$tree"

restore=""
restore_file() {
  if [ -n "$restore" ]; then
    # Copied with a new time, so that ninja rebuilds what the mutant built.
    cp "$restore.orig" "$restore"
    rm -f "$restore.orig"
    restore=""
  fi
}
trap restore_file EXIT
trap 'restore_file; exit 130' INT TERM

build_copy() {
  nice cmake --build "$build" -j2 >"$1" 2>&1
}
excluded=""  # the tests that fail without mutants
run_tests() {  # run_tests REGEX LOG [ctest options]
  local select=()
  [ -n "$1" ] && [ "$all" = 0 ] && select=(-R "$1")
  [ -n "$excluded" ] && select+=(-E "$excluded")
  (cd "$build" && nice timeout --kill-after=30 "$limit" \
    ctest -j2 --timeout 300 -LE "ui|wine|install" "${select[@]}" --output-on-failure "${@:3}") \
    >"$2" 2>&1
}
failed_tests() {
  sed -nE 's/^[[:space:]]*[0-9]+ - (.*) \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)\)$/\1/p' "$1" |
    sort -u
}

echo "== Building the copy in $build"
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_WERROR=ON \
  -DQUORVEX_BUILD_UI=OFF -DQUORVEX_BUILD_BENCH=OFF -DQUORVEX_PG_PORT= >/dev/null
build_copy "$log/build.log" || { tail -20 "$log/build.log"; exit 1; }
# A test that fails without mutants (one whose time limits a loaded
# machine breaks, say) would catch every mutant: it is left out, and named.
echo "== The suite without mutants"
if [ "$keep" = 1 ] && [ -f "$log/baseline.log" ]; then
  echo "(kept from the last run)"
else
  run_tests "" "$log/baseline.log" || true
fi
if ! grep -q "^100% tests passed" "$log/baseline.log"; then
  mapfile -t broken < <(failed_tests "$log/baseline.log")
  [ ${#broken[@]} -gt 0 ] || { tail -20 "$log/baseline.log"; exit 1; }
  echo "Failing without mutants, left out: ${broken[*]} (log: $log/baseline.log)"
  excluded="^($(printf '%s|' "${broken[@]}" | sed 's/[.[\]/\\&/g; s/|$//'))\$"
fi

caught=0 total=0
survivors=() stale=() unbuilt=()
while IFS= read -r line || [ -n "$line" ]; do
  [[ -z "$line" || "$line" == \#* ]] && continue
  # cut, not read: read would merge the two tabs around an empty field.
  field() { cut -f"$1" <<<"$line"; }
  name=$(field 1) file=$(field 2) original=$(field 3) replacement=$(field 4) tests=$(field 5)
  [[ -n "$only" && ! "$name" =~ $only ]] && continue
  target=$tree/$file
  applied=$(python3 - "$target" "$original" "$replacement" <<'EOF'
import sys
def unescape(text):
    return text.replace("\\\\", "\0").replace("\\n", "\n").replace("\\t", "\t").replace("\0", "\\")
path, original, replacement = sys.argv[1], unescape(sys.argv[2]), unescape(sys.argv[3])
try:
    text = open(path, encoding="utf-8").read()
except OSError:
    print("no file"); sys.exit()
count = text.count(original)
if count != 1:
    print("found %d times" % count); sys.exit()
open(path + ".orig", "w", encoding="utf-8").write(text)
open(path, "w", encoding="utf-8").write(text.replace(original, replacement))
print("applied")
EOF
  )
  if [ "$applied" != applied ]; then
    printf '%-28s stale (%s)\n' "$name" "$applied"
    stale+=("$name")
    continue
  fi
  restore=$target
  if ! build_copy "$log/$name.build.log"; then
    printf '%-28s does not build\n' "$name"
    unbuilt+=("$name")
    restore_file
    continue
  fi
  total=$((total + 1))
  start=$SECONDS
  if run_tests "${tests:-}" "$log/$name.log" --stop-on-failure; then
    printf '%-28s SURVIVED (%d s)\n' "$name" $((SECONDS - start))
    survivors+=("$name")
  else
    caught=$((caught + 1))
    failed=$(failed_tests "$log/$name.log" | tr '\n' ' ')
    [ -z "$failed" ] && failed="timeout of the mutant"
    printf '%-28s caught by %s(%d s)\n' "$name" "$failed" $((SECONDS - start))
  fi
  restore_file
done <"$list"

# Back to the unmutated build, so that the next run starts from it.
build_copy "$log/build.log" || true
echo
echo "Caught $caught of $total mutants."
[ ${#survivors[@]} -gt 0 ] && echo "Survivors: ${survivors[*]}"
[ ${#stale[@]} -gt 0 ] && echo "Stale (text not found, not run): ${stale[*]}"
[ ${#unbuilt[@]} -gt 0 ] && echo "Not built (not counted): ${unbuilt[*]}"
echo "Logs: $log"
