#!/bin/sh
# Builds the parser fuzz target with clang's libFuzzer and runs it for the given seconds.
# Usage: run_parser_fuzz.sh CLANGXX SOURCE_DIR WORK_DIR SECONDS
# The sources compile side by side (one process each), so that the build, not the fuzzing,
# is no longer most of a short run.
set -eu
cxx="$1"; src="$2"; work="$3"; secs="$4"
mkdir -p "$work/corpus" "$work/obj"
flags="-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"
pids=""
i=0
for f in "$src/tests/fuzz/parser_fuzz.cpp" "$src/src/driver/vsfselg.cpp" \
  "$src/src/support/zcase.cpp" "$src/src/support/zcasetab.cpp" "$src/src/support/quotedtext.cpp" \
  "$src"/host/parser/*.cpp "$src/host/utf8text.cpp"; do
  i=$((i + 1))
  # shellcheck disable=SC2086
  "$cxx" $flags -I"$src" -I"$src/src" -c "$f" -o "$work/obj/$i.o" &
  pids="$pids $!"
done
status=0
for p in $pids; do
  wait "$p" || status=1
done
[ "$status" -eq 0 ] || { echo "run_parser_fuzz.sh: a source did not compile"; exit 1; }
# shellcheck disable=SC2086
"$cxx" $flags "$work"/obj/*.o -o "$work/fuzz_parser"
"$work/fuzz_parser" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
  -dict="$src/tests/fuzz/parser.dict" -print_final_stats=1 \
  "$work/corpus" "$src/tests/fuzz/corpus"
