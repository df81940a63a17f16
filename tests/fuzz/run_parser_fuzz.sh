#!/bin/sh
# Builds the parser fuzz target with clang's libFuzzer and runs it for the given seconds.
# Usage: run_parser_fuzz.sh CLANGXX SOURCE_DIR WORK_DIR SECONDS
set -eu
cxx="$1"; src="$2"; work="$3"; secs="$4"
mkdir -p "$work/corpus"
"$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$src" -I"$src/src" \
  "$src/tests/fuzz/parser_fuzz.cpp" "$src/src/driver/vsfselg.cpp" \
  "$src/src/support/zcase.cpp" "$src/src/support/zcasetab.cpp" \
  "$src"/host/parser/*.cpp "$src/host/utf8text.cpp" -o "$work/fuzz_parser"
"$work/fuzz_parser" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
  -dict="$src/tests/fuzz/parser.dict" -print_final_stats=1 \
  "$work/corpus" "$src/tests/fuzz/corpus"
