#!/usr/bin/env bash
# Threads on the least-angle steps: the selection phase (Timing table) of a full LAR and LASSO
# path on a generated ROWS x COLS CSV (bench/gen/bigcsv.cpp, written to build/bench when
# missing) at 1 and 8 threads, runs interleaved, medians of RUNS; for each binary given, the
# 8/1 ratio and whether the 1- and 8-thread listings agree to the last digit (Timing and
# thread-count lines aside). Prints the load average. Run from the repository root:
#   bench/larthreads.sh [ROWS] [COLS] [RUNS] QRX...   (defaults 100000 1001 3 ./qrx)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
rows="${1:-100000}" cols="${2:-1001}" runs="${3:-3}"
shift 3 || true
bins=("$@")
[ ${#bins[@]} -gt 0 ] || bins=(./qrx)
out=build/bench/larthreads
mkdir -p "$out"
data="build/bench/lar${rows}x${cols}.csv"
if [ ! -f "$data" ]; then
  c++ -O2 -std=c++20 -pthread bench/gen/bigcsv.cpp -o build/bench/gen_bigcsv
  build/bench/gen_bigcsv "$rows" "$cols" "$data"
fi
echo "data: $data; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for method in lar lasso; do
  printf "libname b 'build/bench';\nproc varsifter data=b.lar%sx%s;\n  model y = x1-x%d / selection=%s(stop=none);\n  performance details;\nrun;\n" \
    "$rows" "$cols" "$((cols - 1))" "$method" >"$out/$method.qrx"
  declare -A sel=()
  for ((i = 1; i <= runs; ++i)); do
    for b in "${!bins[@]}"; do
      for cpus in 1 8; do
        lst="$out/$method.$b.$cpus.lst"
        capped 1800 "$out/run.log" "${bins[$b]}" -o CPUCOUNT="$cpus" --listing "$lst" "$out/$method.qrx"
        sel[$b.$cpus]+=" $(selectionSecs "$lst")"
      done
    done
  done
  for b in "${!bins[@]}"; do
    m1="$(median ${sel[$b.1]})" m8="$(median ${sel[$b.8]})"
    same=differ
    if diff <(grep -vE 'Timing|Seconds|^ *[A-Z][A-Za-z ]+ +[0-9.]+$|[Tt]hread' "$out/$method.$b.1.lst") \
      <(grep -vE 'Timing|Seconds|^ *[A-Z][A-Za-z ]+ +[0-9.]+$|[Tt]hread' "$out/$method.$b.8.lst") >/dev/null; then
      same=identical
    fi
    echo "$method ${bins[$b]}: selection 1 thread $m1 s (${sel[$b.1]} ), 8 threads $m8 s" \
      "(${sel[$b.8]} ), 8/1 $(ratio "$m8" "$m1"); listings $same"
  done
  unset sel
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
