#!/usr/bin/env bash
# The data passes of whole runs on 1 and on 8 threads: LASSO and FORWARD (bench/csvread_*.qrx
# with PERFORMANCE DETAILS) on build/bench/wide.csv (1,000,000 x 50, made by
# bench/gen_csvread_data.py when missing). From each run's Procedure Task Timing table, read
# unrounded from the run's JSON: reading the CSV (in "Setup and Parsing"), the reading pass
# ("Reading Data") and the selection's passes ("Candidate Evaluation and Selection"); their sum
# on 1 thread over their sum on 8 is the speed-up of the data passes. RUNS runs of each (5 by
# default), 1 and 8 threads taking turns; medians.
# Run from the repository root: bench/datapasses.sh [QRX]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
data=build/bench/wide.csv
mkdir -p build/bench
[ -f "$data" ] || /usr/bin/python3 bench/gen_csvread_data.py 1000000 "$data"
qrx="${1:-./qrx}"
runs="${RUNS:-5}"
timing() { # the four figures of one run's JSON: total, CSV, reading pass, selection
  /usr/bin/python3 - "$1" <<'PY'
import json, sys
def tables(node):
    if isinstance(node, dict):
        if node.get("kind") == "table" and node.get("name") == "Timing":
            yield node
        for v in node.values():
            yield from tables(v)
    elif isinstance(node, list):
        for v in node:
            yield from tables(v)
t = next(tables(json.load(open(sys.argv[1]))))
seconds = {row[0]: row[1] for row in t["rows"]}
parts = [seconds["Setup and Parsing"], seconds["Reading Data"],
         seconds["Candidate Evaluation and Selection"]]
print("%.4f %.4f %.4f %.4f" % (sum(parts), *parts))
PY
}
for prog in lasso forward; do
  sed "s/^run;/  performance details;\nrun;/" "bench/csvread_$prog.qrx" >"build/bench/passes_$prog.qrx"
  : >"build/bench/passes_1.txt"
  : >"build/bench/passes_8.txt"
  for run in $(seq "$runs"); do
    for cpus in 1 8; do
      "$qrx" -o CPUCOUNT="$cpus" --listing /dev/null --json build/bench/passes.json \
        "build/bench/passes_$prog.qrx" 2>/dev/null
      timing build/bench/passes.json >>"build/bench/passes_$cpus.txt"
    done
  done
  for cpus in 1 8; do
    line=$(sort -n "build/bench/passes_$cpus.txt" | sed -n "$(((runs + 1) / 2))p")
    echo "$prog, $cpus thread(s): data passes $line (total, CSV, reading pass, selection) s"
    eval "total_$cpus=$(echo "$line" | cut -d' ' -f1)"
  done
  awk -v a="$total_1" -v b="$total_8" -v p="$prog" \
    'BEGIN {printf "%s: 8 threads %.2fx faster than 1 on the data passes\n", p, a / b}'
done
