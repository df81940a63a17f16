#!/usr/bin/env bash
# The read pass's CPU on 8 threads against one: the full model (selection=none) of the
# generated 100,000 x 200 CSV (build/bench/cvex.csv, bench/gen_csvread_data.py) read window by
# window (the host option CSVHOLD, default 40M, well below the file's 160 MB of values), whole
# runs on 1 and THREADS (8) threads taking turns, REPS (3) times. Prints the medians of CPU
# (user + system), wall, the Timing table's setup and reading rows and peak resident MB per
# thread count, and the CPU ratio THREADS / 1; every listing must match the first one-thread
# listing but for the threads and timings. QRXS="a b" times several binaries in the same turns.
# Run from the repository root:
#   [REPS=n] [CSVHOLD=size] [THREADS=t] [QRXS="a b"] bench/readthreads.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
reps="${REPS:-3}" hold="${CSVHOLD:-40M}" threads="${THREADS:-8}"
read -r -a qrxs <<<"${QRXS:-build/release-werror/app/qrx}"
dir=build/bench
mkdir -p "$dir/readthreads"
if [ ! -f "$dir/cvex.csv" ]; then
  /usr/bin/python3 bench/gen_csvread_data.py 100000 "$dir/cvex.tmp" 201
  mv "$dir/cvex.tmp" "$dir/cvex.csv"
fi
prog="$dir/readthreads/read.qrx"
printf "libname b '%s';\nproc varsifter data=b.cvex;\n  model y = x1-x200 / selection=none;\n  performance details;\nrun;\n" \
  "$dir" >"$prog"
timingRow() { awk -v row="$2" 'index($0, row) == 1 {s = $NF} END {print (s == "" ? "-" : s)}' "$1"; }
declare -A cpu wall mb setup reading
first=""
for ((i = 0; i < reps; ++i)); do
  for q in "${qrxs[@]}"; do
    for t in 1 "$threads"; do
      lst="$dir/readthreads/$(basename "$q").$t.$i.lst"
      warningsPass=1 capped 1800 "$lst.log" "$q" -o CPUCOUNT="$t" -o CSVHOLD="$hold" \
        --listing "$lst" "$prog"
      cpu[$q $t]+=" $ranCpu" wall[$q $t]+=" $ranSecs" mb[$q $t]+=" $ranMb"
      setup[$q $t]+=" $(timingRow "$lst" "Setup and Parsing")"
      reading[$q $t]+=" $(timingRow "$lst" "Reading Data")"
      [ -n "$first" ] || first="$lst"
      sameListing "$first" "$lst" || echo "CHECK FAILED: $lst differs from $first" >&2
    done
  done
done
echo "cvex.csv read in windows (CSVHOLD=$hold), full model, medians of $reps"
for q in "${qrxs[@]}"; do
  for t in 1 "$threads"; do
    # shellcheck disable=SC2086 # the lists split into their values
    echo "$q, $t thread(s): CPU $(median ${cpu[$q $t]}) s, wall $(median ${wall[$q $t]}) s," \
      "setup $(median ${setup[$q $t]}) s, reading $(median ${reading[$q $t]}) s," \
      "peak $(median ${mb[$q $t]}) MB"
  done
  # shellcheck disable=SC2086
  echo "$q: CPU $threads threads / 1 thread $(ratio "$(median ${cpu[$q $threads]})" "$(median ${cpu[$q 1]})")"
done
