#!/usr/bin/env bash
# Cross validation's CPU on 8 threads against one: LASSO choose=cv over the whole path on the
# generated 100,000 x 200 CSV (build/bench/cvex.csv, bench/gen_csvread_data.py), FOLDS (10)
# random folds, whole runs on 1 and THREADS (8) threads taking turns, REPS (3) times. Prints
# the medians of CPU (user + system), wall and peak resident MB per thread count and the CPU
# ratio THREADS / 1; every listing must match the first one-thread listing but for the
# threads and timings. QRXS="a b" times several binaries in the same turns.
# Run from the repository root: [REPS=n] [FOLDS=k] [THREADS=t] [QRXS="a b"] bench/cvthreads.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
reps="${REPS:-3}" folds="${FOLDS:-10}" threads="${THREADS:-8}"
read -r -a qrxs <<<"${QRXS:-build/release-werror/app/qrx}"
dir=build/bench
mkdir -p "$dir/cvthreads"
if [ ! -f "$dir/cvex.csv" ]; then
  /usr/bin/python3 bench/gen_csvread_data.py 100000 "$dir/cvex.tmp" 201
  mv "$dir/cvex.tmp" "$dir/cvex.csv"
fi
prog="$dir/cvthreads/cv.qrx"
printf "libname b '%s';\nproc varsifter data=b.cvex seed=7;\n  model y = x1-x200 / selection=lasso(choose=cv stop=none) cvmethod=random(%d);\nrun;\n" \
  "$dir" "$folds" >"$prog"
declare -A cpu wall mb
first=""
for ((i = 0; i < reps; ++i)); do
  for q in "${qrxs[@]}"; do
    for t in 1 "$threads"; do
      lst="$dir/cvthreads/$(basename "$q").$t.$i.lst"
      warningsPass=1 capped 1800 "$lst.log" "$q" -o CPUCOUNT="$t" --listing "$lst" "$prog"
      cpu[$q $t]+=" $ranCpu" wall[$q $t]+=" $ranSecs" mb[$q $t]+=" $ranMb"
      [ -n "$first" ] || first="$lst"
      sameListing "$first" "$lst" || echo "CHECK FAILED: $lst differs from $first" >&2
    done
  done
done
echo "cvex.csv, LASSO choose=cv, $folds folds, medians of $reps"
for q in "${qrxs[@]}"; do
  for t in 1 "$threads"; do
    # shellcheck disable=SC2086 # the lists split into their values
    echo "$q, $t thread(s): CPU $(median ${cpu[$q $t]}) s, wall $(median ${wall[$q $t]}) s," \
      "peak $(median ${mb[$q $t]}) MB"
  done
  # shellcheck disable=SC2086
  echo "$q: CPU $threads threads / 1 thread $(ratio "$(median ${cpu[$q $threads]})" "$(median ${cpu[$q 1]})")"
done
