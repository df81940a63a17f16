#!/usr/bin/env bash
# The data passes of whole runs on 1 and on 8 threads: LASSO and FORWARD (bench/csvread_*.qrx
# with PERFORMANCE DETAILS) on build/bench/wide.csv (1,000,000 x 50, made by
# bench/gen_csvread_data.py when missing). From each run's Procedure Task Timing table:
# reading the CSV (in "Setup and Parsing"), the reading pass ("Reading Data") and the
# selection's passes ("Candidate Evaluation and Selection"); their sum on 1 thread over their
# sum on 8 is the speed-up of the data passes. Medians of 3 runs.
# Run from the repository root: bench/datapasses.sh [QRX]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
data=build/bench/wide.csv
mkdir -p build/bench
[ -f "$data" ] || /usr/bin/python3 bench/gen_csvread_data.py 1000000 "$data"
qrx="${1:-./qrx}"
for prog in lasso forward; do
  sed "s/^run;/  performance details;\nrun;/" "bench/csvread_$prog.qrx" >"build/bench/passes_$prog.qrx"
  for cpus in 1 8; do
    : >"build/bench/passes.txt"
    for run in 1 2 3; do
      "$qrx" -o CPUCOUNT="$cpus" "build/bench/passes_$prog.qrx" 2>/dev/null |
        awk '/^Setup and Parsing/ {s=$NF} /^Reading Data/ {r=$NF}
             /^Candidate Evaluation and Selection/ {c=$NF}
             END {printf "%.2f %.2f %.2f %.2f\n", s + r + c, s, r, c}' >>"build/bench/passes.txt"
    done
    line=$(sort -n "build/bench/passes.txt" | sed -n 2p)
    echo "$prog, $cpus thread(s): data passes $line (total, CSV, reading pass, selection) s"
    eval "total_$cpus=$(echo "$line" | cut -d' ' -f1)"
  done
  awk -v a="$total_1" -v b="$total_8" -v p="$prog" \
    'BEGIN {printf "%s: 8 threads %.2fx faster than 1 on the data passes\n", p, a / b}'
done
