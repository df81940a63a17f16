#!/usr/bin/env bash
# Wide data: LASSO over a numbered range of COLS-1 candidates on a generated ROWS x COLS CSV
# (bench/gen/bigcsv.cpp, written to build/bench when missing). Prints the CSV reader's median
# time on the file (bench_csvread) and, for each of RUNS whole qrx runs, the wall time and
# the Timing table's setup and reading rows. Run from the repository root:
#   bench/widerun.sh [ROWS] [COLS] [QRX] [RUNS]   (defaults 5000 5001 build/rel/app/qrx 3)
# Needs a Release build with benchmarks in build/rel.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
rows="${1:-5000}"
cols="${2:-5001}"
qrx="${3:-build/rel/app/qrx}"
runs="${4:-3}"
out=build/bench
mkdir -p "$out"
data="$out/wide${rows}x${cols}.csv"
if [ ! -f "$data" ]; then
  c++ -O2 -std=c++20 -pthread bench/gen/bigcsv.cpp -o "$out/gen_bigcsv"
  "$out/gen_bigcsv" "$rows" "$cols" "$data"
fi
prog="$out/wide${rows}x${cols}.qrx"
printf "libname b '%s';\nproc varsifter data=b.wide%sx%s;\n  model y = x1-x%d / selection=lasso;\n  performance details;\nrun;\n" \
  "$out" "$rows" "$cols" "$((cols - 1))" >"$prog"
echo "file: $data ($(stat -c %s "$data") bytes)"
QRX_BENCH_CSV="$data" build/rel/bench/bench_csvread --benchmark_filter=ReadCsvFile \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null | grep median || true
for ((i = 1; i <= runs; ++i)); do
  /usr/bin/time -f "%e" -o "$out/time.txt" "$qrx" --listing "$out/wide.lst" "$prog" >/dev/null 2>&1
  echo "run $i: $(cat "$out/time.txt") s wall;" \
    "$(grep -E '^(Setup and Parsing|Reading Data) ' "$out/wide.lst" | tr -s ' ' | paste -sd ';')"
done
