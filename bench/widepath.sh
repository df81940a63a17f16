#!/usr/bin/env bash
# The wide path beside glmnet's: a LASSO of STEPS (750) steps on a generated ROWS x COLS
# (10,000 x 20,000) CSV (bench/gen_csvread_data.py, the file bench/cvchoose.sh uses), one
# thread, and fread + glmnet's default path on the same file (bench/peer_glmnetpath.R, one
# thread), interleaved REPS (3) times. Prints the medians of qrx's selection phase (its Timing
# row, wall seconds: on a loaded machine above its CPU), its whole run's CPU (user + system)
# and wall seconds and peak resident MB, and of glmnet's path (CPU and wall) and fread +
# glmnet; then the ratios selection / glmnet path and whole run / (fread + glmnet), in CPU
# where both have it. QRXS="a b" times several
# binaries in turn (the first is the baseline), and each one's listing must match the
# first's but for the timings. Needs r-cran-data.table and r-cran-glmnet.
# Run from the repository root: [REPS=n] [QRXS="a b"] bench/widepath.sh [ROWS] [COLS] [STEPS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
rows="${1:-10000}" cols="${2:-20000}" steps="${3:-750}"
reps="${REPS:-3}"
read -r -a qrxs <<<"${QRXS:-build/release-werror/app/qrx}"
dir=build/bench
mkdir -p "$dir/widepath"
name="csv_${rows}x$((cols + 1))"
if [ ! -f "$dir/$name.csv" ]; then
  /usr/bin/python3 bench/gen_csvread_data.py "$rows" "$dir/$name.tmp" "$((cols + 1))"
  mv "$dir/$name.tmp" "$dir/$name.csv"
fi
prog="$dir/widepath/wide.qrx"
printf "libname b '%s';\nproc varsifter data=b.%s seed=7;\n  model y = x1-x%d / selection=lasso(stop=none maxsteps=%d);\n  performance details cpucount=1;\nrun;\n" \
  "$dir" "$name" "$cols" "$steps" >"$prog"
printedSecs() { sed -n "s/.*$2 \([0-9.]*\) s.*/\1/p" "$1"; }
declare -A sel cpu wall mb
gp=() gw=() gt=()
for ((i = 0; i < reps; ++i)); do
  for q in "${qrxs[@]}"; do
    lst="$dir/widepath/$(basename "$q").$i.lst"
    warningsPass=1 capped 3600 "$lst.log" "$q" --listing "$lst" "$prog"
    sel[$q]+=" $(selectionSecs "$lst")" cpu[$q]+=" $ranCpu" wall[$q]+=" $ranSecs" mb[$q]+=" $ranMb"
    if [ "$q" != "${qrxs[0]}" ] && ! sameListing "$dir/widepath/$(basename "${qrxs[0]}").$i.lst" "$lst"; then
      echo "CHECK FAILED: $q's listing differs from ${qrxs[0]}'s" >&2
    fi
  done
  capped 3600 "$dir/widepath/glmnet.log" env OMP_NUM_THREADS=1 Rscript bench/peer_glmnetpath.R \
    "$dir/$name.csv" 1
  gp+=("$(printedSecs "$dir/widepath/glmnet.log" path-cpu)")
  gw+=("$(printedSecs "$dir/widepath/glmnet.log" glmnet)")
  gt+=("$ranCpu")
done
mgp="$(median "${gp[@]}")" mgw="$(median "${gw[@]}")" mgt="$(median "${gt[@]}")"
echo "$name.csv, LASSO of $steps steps, one thread, medians of $reps"
echo "glmnet path: CPU $mgp s, wall $mgw s; fread + glmnet CPU $mgt s"
for q in "${qrxs[@]}"; do
  # shellcheck disable=SC2086 # the lists split into their values
  ms="$(median ${sel[$q]})" mc="$(median ${cpu[$q]})" mw="$(median ${wall[$q]})"
  # shellcheck disable=SC2086
  echo "$q: selection $ms s, whole run CPU $mc s, wall $mw s, peak $(median ${mb[$q]}) MB;" \
    "selection / glmnet path CPU $(ratio "$ms" "$mgp"), whole run / (fread + glmnet) CPU" \
    "$(ratio "$mc" "$mgt")"
done
