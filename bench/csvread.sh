#!/usr/bin/env bash
# The CSV-reading benchmark: generates build/bench/wide.csv (1,000,000 x 50) when missing,
# reads it with the host's reader and with data.table::fread on 1 and 8 threads, and times
# whole qrx LASSO and FORWARD runs on it with their peak memory (/usr/bin/time -v). Needs a
# Release build with benchmarks (made in build/benchrel) and R's data.table
# (r-cran-data.table); neither is part of the tests.
# Run from the repository root: bench/csvread.sh [QRX_BINARY]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
data=build/bench/wide.csv
[ -f "$data" ] || /usr/bin/python3 bench/gen_csvread_data.py 1000000 "$data"
build=build/benchrel
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQRX_BUILD_TESTS=OFF \
  -DQRX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench_csvread qrx >/dev/null
qrx="${1:-$build/app/qrx}"
echo "file: $data ($(stat -c %s "$data") bytes)"
QRX_BENCH_CSV="$data" "$build/bench/bench_csvread" --benchmark_filter=ReadCsvFile \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null | grep median
Rscript bench/peer_csvread.R "$data" 1 8
for prog in bench/csvread_lasso.qrx bench/csvread_forward.qrx; do
  /usr/bin/time -v "$qrx" --listing /dev/null "$prog" 2>"$build/time.txt" >/dev/null
  echo "$prog: $(grep -E 'Elapsed' "$build/time.txt" | sed 's/.*: //')," \
    "peak $(grep -E 'Maximum resident' "$build/time.txt" | sed 's/.*: //') kB"
done
