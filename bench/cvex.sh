#!/usr/bin/env bash
# The external cross-validation benchmark: LASSO over its whole path with CHOOSE=CVEX on a
# generated 100,000 x 200 CSV (build/bench/cvex.csv, made by bench/gen_csvread_data.py when
# missing), 5 and 10 folds, 1 and 8 threads, beside fread + cv.glmnet with the same folds
# (bench/peer_cvex.R). Runs are interleaved, REPS times each (default 3), and the medians and
# the ratio qrx / cv.glmnet are reported; at 8 threads cv.glmnet fits its folds in parallel.
# Needs r-cran-data.table, r-cran-glmnet and r-cran-doparallel.
# Run from the repository root: [REPS=n] bench/cvex.sh [QRX]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
data=build/bench/cvex.csv
mkdir -p build/bench
[ -f "$data" ] || /usr/bin/python3 bench/gen_csvread_data.py 100000 "$data" 201
qrx="${1:-./qrx}"
reps="${REPS:-3}"
secs() { # command... : the wall time in seconds
  /usr/bin/time -f "%e" -o build/bench/cvex_time.txt "$@" >/dev/null 2>&1
  cat build/bench/cvex_time.txt
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
echo "data: $data ($(stat -c %s "$data") bytes), $reps runs each, medians"
for folds in 5 10; do
  sed "s/FOLDS/$folds/" bench/cvex.qrx >"build/bench/cvex_$folds.qrx"
  for cpus in 1 8; do
    q=() r=()
    for ((i = 0; i < reps; ++i)); do
      q+=("$(secs "$qrx" -o CPUCOUNT="$cpus" --listing /dev/null "build/bench/cvex_$folds.qrx")")
      r+=("$(secs Rscript bench/peer_cvex.R "$data" "$folds" "$cpus")")
    done
    mq=$(median "${q[@]}") mr=$(median "${r[@]}")
    echo "$folds folds, $cpus thread(s): qrx $mq s, fread + cv.glmnet $mr s," \
      "ratio $(awk -v a="$mq" -v b="$mr" 'BEGIN {printf "%.2f", a / b}')"
  done
done
