#!/usr/bin/env bash
# The read preparation's estimate of what a fit holds once (the PerfSettings table's "Memory
# Held by the Fit", shown where the memory figure lowered the page threads) against the run's
# peak resident size, for fits on each road:
#   sbc    FORWARD by SBC over g (100,000 levels) and x1-x3, 500,000 rows: the many-level road
#   press  FORWARD by PRESS over g (100,000 levels) and x1-x60, 100,000 rows: the road with its
#          PRESS pass's leverage terms
#   cv     FORWARD by 5-fold CV over g (100,000 levels) and x1-x3, 500,000 rows: the road's
#          fold records
#   dense  FORWARD by SBC over x1-x1999, 3,000 rows, BUILDSSCP=FULL: the packed triangle of
#          every column with its working copies
# (bench/gen_manylevels_data.py and bench/gen_csvread_data.py, written to build/bench/ when
# missing, untimed). Each case runs REPS times (default 3) under a MEMSIZE of its own that
# leaves the fit room but not a second page thread, on CPUCOUNT=2 so that the threads are
# lowered and the estimate shown (on more CPUs the host's CSV reader parses on each of them,
# some 3 MB a CPU outside the procedure's memory plan): the estimate, the page threads' own
# estimate, the median peak and the ratio of the estimate to it. Then once under MEMSIZE=8G on
# 1, 2, 3, 4 and 8 CPUs: the page threads of 8 CPUs (8 where the estimate lowers nothing) and
# whether the five listings agree but for the thread and timing lines. A run is killed after
# LIMIT seconds (default 120); every run is capped as bench/benchlib.sh caps it (MEMCAP, DISKCAP).
# Run from the repository root: [REPS=..] [CASES="sbc press cv dense"] bench/memestimate.sh [QRX]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
benchStart memestimate "${1:-./qrx}"
reps="${REPS:-3}" limit="${LIMIT:-120}"

# data NAME ARGS... : writes build/bench/NAME.csv with a generator when it is missing.
data() {
  local name="$1" script="$2"
  shift 2
  if [ ! -f "$dir/$name.csv" ]; then
    /usr/bin/python3 "$script" "$@"
    mv "$dir/$name.tmp" "$dir/$name.csv"
  fi
}
data lev100000r500000h bench/gen_manylevels_data.py 500000 100000 "$dir/lev100000r500000h.tmp"
data lev100000r100000c60 bench/gen_manylevels_data.py 100000 100000 \
  "$dir/lev100000r100000c60.tmp" 5 60
data wide3000x2000 bench/gen_csvread_data.py 3000 "$dir/wide3000x2000.tmp" 2000

# program CASE : writes the case's program; prints its path and the MEMSIZE of its tight runs.
program() {
  local data=lev100000r500000h class="class g;" model="g x1 x2 x3" options perf="" memsize
  case "$1" in
    sbc) options="selection=forward(select=sbc)" memsize=60M ;;
    press)
      data=lev100000r100000c60 model="g x1-x60" options="selection=forward(select=press)"
      memsize=200M
      ;;
    cv) options="selection=forward(select=cv) cvmethod=random(5)" memsize=100M ;;
    dense)
      data=wide3000x2000 class="" model="x1-x1999" options="selection=forward(select=sbc)"
      perf="buildsscp=full" memsize=100M
      ;;
  esac
  cat >"$work/$1.qrx" <<QRX
libname b '$root/$dir';
proc varsifter data=b.$data seed=7;
  $class
  model y = $model / $options;
  performance details $perf;
run;
QRX
  echo "$work/$1.qrx $memsize"
}

# setting LISTING LABEL : the PerfSettings value of LABEL ("-" when not shown).
setting() {
  local v
  v="$(sed -n "s/^$2  *//p" "$1" | head -n 1)"
  echo "${v:--}"
}

echo "qrx: $qrx; $reps run(s) each; $(nproc) CPUs; $(date -u '+%F %T') UTC;" \
  "load:$(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-6s %7s %9s %9s %7s %8s %6s %9s %s\n" case memsize "held(MB)" "thread(MB)" threads \
  "peak(MB)" ratio "8G:thr" "listings 1,2,3,4,8"
for c in ${CASES:-sbc press cv dense}; do
  read -r prog memsize < <(program "$c")
  peaks=()
  for ((i = 0; i < reps; ++i)); do
    guardedQrx "$limit" "$work/$c.log" "$work/util.$$" "$qrx" -o CPUCOUNT=2 \
      -o MEMSIZE="$memsize" --listing "$work/$c.tight.lst" "$prog"
    peaks+=("$ranMb")
  done
  held="$(setting "$work/$c.tight.lst" "Memory Held by the Fit (MB)")"
  thread="$(setting "$work/$c.tight.lst" "Memory per Thread (MB)")"
  used="$(setting "$work/$c.tight.lst" "Threads Used")"
  peak="$(median "${peaks[@]}")"
  same=agree
  for cpus in 1 2 3 4 8; do
    guardedQrx "$limit" "$work/$c.log" "$work/util.$$" "$qrx" -o CPUCOUNT="$cpus" \
      -o MEMSIZE=8G --listing "$work/$c.$cpus.lst" "$prog"
    [ "$cpus" = 1 ] || sameListing "$work/$c.1.lst" "$work/$c.$cpus.lst" >/dev/null ||
      same="differ on $cpus"
  done
  printf "%-6s %7s %9s %9s %7s %8s %6s %9s %s\n" "$c" "$memsize" "$held" "$thread" "$used" \
    "$peak" "$(ratio "$held" "$peak")" "$(setting "$work/$c.8.lst" "Threads Used")" "$same"
done
echo "done $(date -u '+%T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
