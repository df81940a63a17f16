#!/usr/bin/env bash
# STEPWISE by 5-fold cross validation, run until no effect changes the model (STOP=NONE), over
# one CLASS variable g of LEVELS levels (default 3000) beside three numerics x1..x3
# (bench/gen_manylevels_data.py, ROWS rows, default 6000; written to build/bench/ when missing,
# untimed): g is tried at every step, and enters from about ten rows a level (ROWS=30000). Run
# under the build the procedure chooses and under PERFORMANCE
# BUILDSSCP=INCREMENTAL, the two interleaved REPS times (default 3) on THREADS threads (default
# 1). For each build it prints the medians of the wall seconds and of the CPU seconds (user and
# system) and the largest peak resident memory, then the ratio of the incremental build's
# medians to the chosen one's, and whether the two listings agree but for the notes and the
# timing and thread lines. A run is killed after LIMIT seconds (default 600) and counts as
# failed; every run is capped as bench/benchlib.sh caps it (MEMCAP, DISKCAP).
# Run from the repository root: [LEVELS=..] [ROWS=..] [REPS=..] bench/growing_levels.sh [QRX]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
benchStart growing "${1:-./qrx}"
levels="${LEVELS:-3000}" rows="${ROWS:-6000}" reps="${REPS:-3}" threads="${THREADS:-1}"
limit="${LIMIT:-600}"
data="lev${levels}r${rows}h"
if [ ! -f "$dir/$data.csv" ]; then
  /usr/bin/python3 bench/gen_manylevels_data.py "$rows" "$levels" "$dir/$data.tmp"
  mv "$dir/$data.tmp" "$dir/$data.csv"
fi

# program BUILD : writes the program of a build (chosen or incremental); prints its path.
program() {
  local perf=""
  [ "$1" = chosen ] || perf="performance buildsscp=incremental;"
  cat >"$work/$1.qrx" <<QRX
libname b '$dir';
proc varsifter data=b.$data seed=7;
  class g;
  model y = x1 x2 x3 g / selection=stepwise(select=cv stop=none) cvmethod=split(5);
  $perf
run;
QRX
  echo "$work/$1.qrx"
}

echo "qrx: $qrx; $levels levels, $rows rows, $reps run(s) each on $threads thread(s);" \
  "$(nproc) CPUs; $(date -u '+%F %T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
declare -A wall=() cpu=() mb=()
for ((i = 0; i < reps; ++i)); do
  for build in chosen incremental; do
    prog="$(program "$build")"
    guardedQrx "$limit" "$work/$build.log" "$work/util.$$" "$qrx" -o CPUCOUNT="$threads" \
      -o MEMSIZE="${memcapGb}G" --listing "$work/$build.lst" "$prog"
    wall[$build]+=" $ranSecs"
    cpu[$build]+=" $ranCpu"
    [ "$ranMb" = - ] || [ "${mb[$build]:-0}" -ge "$ranMb" ] || mb[$build]="$ranMb"
  done
done
printf "%12s %9s %9s %8s\n" build "wall(s)" "cpu(s)" "peakMB"
declare -A medWall=() medCpu=()
for build in chosen incremental; do
  read -ra w <<<"${wall[$build]}"
  read -ra c <<<"${cpu[$build]}"
  medWall[$build]="$(median "${w[@]}")" medCpu[$build]="$(median "${c[@]}")"
  printf "%12s %9s %9s %8s\n" "$build" "${medWall[$build]}" "${medCpu[$build]}" \
    "${mb[$build]:--}"
done
echo "ratio incremental/chosen: wall $(ratio "${medWall[incremental]}" "${medWall[chosen]}")," \
  "cpu $(ratio "${medCpu[incremental]}" "${medCpu[chosen]}")"
grep -v '^NOTE:' "$work/chosen.lst" >"$work/chosen.cmp"
grep -v '^NOTE:' "$work/incremental.lst" >"$work/incremental.cmp"
if sameListing "$work/chosen.cmp" "$work/incremental.cmp"; then
  echo "listings: the same but for timing and threads"
else
  echo "listings: differ (first lines above)"
fi
echo "done $(date -u '+%T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
