#!/bin/sh
# Builds the fuzz targets with clang's libFuzzer (plus AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time:
#   text_fuzz    the probe's reply reading (src/probe/text_fuzz.cc);
#   answer_fuzz  the reading of the central web service's answers
#                (src/reporting/answer_fuzz.cc).
#
#   bench/probe/run_fuzz.sh [seconds per target] [work folder]
#
# Defaults: 30 seconds, build/fuzz-probe under the source tree. Each
# target's corpus lives in the work folder and grows from run to run; a
# crash leaves its input there and the script exits non-zero.
set -eu
seconds=${1:-30}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=${2:-$source_dir/build/fuzz-probe}
mkdir -p "$work/corpus" "$work/answer-corpus"
flags="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"

# shellcheck disable=SC2086
clang++ $flags -I"$source_dir/src" \
  "$source_dir/src/probe/text_fuzz.cc" \
  "$source_dir/src/probe/reply_text.cc" \
  "$source_dir/src/text/locale_number.cc" \
  "$source_dir/src/platform/locale_separators-posix.cc" \
  "$source_dir/src/util/string_util.cc" \
  -o "$work/text_fuzz"
# shellcheck disable=SC2086
clang++ $flags -I"$source_dir/src" \
  "$source_dir/src/reporting/answer_fuzz.cc" \
  "$source_dir/src/reporting/soap_answer.cc" \
  "$source_dir/src/text/xml_document.cc" \
  "$source_dir/src/util/string_util.cc" \
  "$source_dir/src/util/utf8.cc" \
  -lpugixml -o "$work/answer_fuzz"

# A few seeds shaped like the tools' summaries.
printf 'Minimum = 0.5ms, Maximum = 0.8ms, Average = 0.63ms' > "$work/corpus/seed-tcping"
printf '  Minimo = 1ms, Maximo = 2ms, Media = 1ms\0Media =\0ms' > "$work/corpus/seed-ping"
printf ' -1.5e3 \0\0' > "$work/corpus/seed-number"

# Seeds shaped like answers: accepted, rejected in CDATA, nested, a fault.
head='<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body>'
tail='</soap:Body></soap:Envelope>'
printf '%s<MResponse><MResult>&lt;Respuesta Estado="ACEPTADO"&gt;&lt;Mensaje Codigo="0"&gt;OK&lt;/Mensaje&gt;&lt;/Respuesta&gt;</MResult></MResponse>%s' \
  "$head" "$tail" > "$work/answer-corpus/seed-accepted"
printf '%s<MResponse><MResult><![CDATA[<Respuesta E="RECHAZADO"><Mensaje C="1">no</Mensaje></Respuesta>]]></MResult></MResponse>%s' \
  "$head" "$tail" > "$work/answer-corpus/seed-cdata"
printf '%s<MResponse><MResult><a><a>&lt;Respuesta E="x"&gt;<a>&lt;Mensaje C="2"&gt;</a>y&lt;/Mensaje&gt;&lt;/Respuesta&gt;</a></a></MResult></MResponse>%s' \
  "$head" "$tail" > "$work/answer-corpus/seed-nested"
printf '%s<soap:Fault><faultcode>soap:Server</faultcode><faultstring>Falla</faultstring></soap:Fault>%s' \
  "$head" "$tail" > "$work/answer-corpus/seed-fault"

cd "$work"
./text_fuzz -max_total_time="$seconds" -timeout=5 -artifact_prefix="$work/" corpus
./answer_fuzz -max_total_time="$seconds" -timeout=5 -artifact_prefix="$work/answer-" answer-corpus
