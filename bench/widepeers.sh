#!/usr/bin/env bash
# Wide data beside its peer: LASSO over every candidate of generated ROWS x (C+1) CSVs
# (bench/gen/bigcsv.cpp) for each candidate count C, as whole qrx runs and as fread + glmnet
# (bench/peer_wholerun.R), on one thread and on THREADS, the runs of each size interleaved.
# Prints one line per size and thread count: the median wall time of RUNS runs of each and
# the largest peak resident memory of the qrx runs. Run from the repository root:
#   bench/widepeers.sh [ROWS] [QRX] [RUNS] [THREADS] [C ...]
#   (defaults 10000 build/rel/app/qrx 3 8 1000 5000 10000 20000 50000)
# Needs Rscript with data.table and glmnet; the 50,000-candidate file takes 4.8 GB of disk.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
rows="${1:-10000}"
qrx="${2:-build/rel/app/qrx}"
runs="${3:-3}"
threads="${4:-8}"
shift $(($# < 4 ? $# : 4))
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1000 5000 10000 20000 50000)
out=build/bench
mkdir -p "$out"
[ -x "$out/gen_bigcsv" ] || c++ -O2 -std=c++20 -pthread bench/gen/bigcsv.cpp -o "$out/gen_bigcsv"
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
printf "%8s %7s %10s %10s %8s %9s\n" candidates threads qrx_s glmnet_s ratio qrx_peakMB
for c in "${sizes[@]}"; do
  cols=$((c + 1))
  data="$out/wide${rows}x${cols}.csv"
  [ -f "$data" ] || "$out/gen_bigcsv" "$rows" "$cols" "$data"
  for t in 1 "$threads"; do
    prog="$out/widepeer${rows}x${cols}t${t}.qrx"
    printf "libname b '%s';\nproc varsifter data=b.wide%sx%s;\n  model y = x1-x%d / selection=lasso;\n  performance details cpucount=%d;\nrun;\n" \
      "$out" "$rows" "$cols" "$c" "$t" >"$prog"
    : >"$out/q.times"
    : >"$out/g.times"
    peak=0
    for ((i = 1; i <= runs; ++i)); do
      /usr/bin/time -f "%e %M" -o "$out/time.txt" "$qrx" --listing "$out/widepeer.lst" "$prog" \
        >/dev/null 2>&1
      read -r wall kb <"$out/time.txt"
      echo "$wall" >>"$out/q.times"
      ((kb > peak)) && peak=$kb
      OMP_NUM_THREADS=1 Rscript bench/peer_wholerun.R glmnet "$data" "$t" |
        awk '{print $2}' >>"$out/g.times"
    done
    q=$(median <"$out/q.times")
    g=$(median <"$out/g.times")
    printf "%8d %7d %10.2f %10.2f %8.2f %9d\n" "$c" "$t" "$q" "$g" "$(echo "$g / $q" | bc -l)" \
      $((peak / 1024))
  done
done
