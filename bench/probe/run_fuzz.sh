#!/bin/sh
# Builds the fuzz target of the probe's reply reading with clang's libFuzzer
# (plus AddressSanitizer and UndefinedBehaviorSanitizer) and runs it for a
# bounded time.
#
#   bench/probe/run_fuzz.sh [seconds] [work folder]
#
# Defaults: 30 seconds, build/fuzz-probe under the source tree. The corpus
# lives in the work folder and grows from run to run; a crash leaves its
# input there and the script exits non-zero.
set -eu
seconds=${1:-30}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=${2:-$source_dir/build/fuzz-probe}
mkdir -p "$work/corpus"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$source_dir/src" \
  "$source_dir/src/probe/text_fuzz.cc" \
  "$source_dir/src/probe/reply_text.cc" \
  "$source_dir/src/text/locale_number.cc" \
  "$source_dir/src/platform/locale_separators-posix.cc" \
  "$source_dir/src/util/string_util.cc" \
  -o "$work/text_fuzz"

# A few seeds shaped like the tools' summaries.
printf 'Minimum = 0.5ms, Maximum = 0.8ms, Average = 0.63ms' > "$work/corpus/seed-tcping"
printf '  Minimo = 1ms, Maximo = 2ms, Media = 1ms\0Media =\0ms' > "$work/corpus/seed-ping"
printf ' -1.5e3 \0\0' > "$work/corpus/seed-number"

cd "$work"
./text_fuzz -max_total_time="$seconds" -timeout=5 -artifact_prefix="$work/" corpus
