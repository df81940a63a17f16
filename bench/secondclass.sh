#!/usr/bin/env bash
# BACKWARD by SBC over a many-level CLASS variable g (LEVELS, default 20,000) on the structured
# road beside a second CLASS variable h that joins it, of HIGH levels (default 1,000) against
# LOW levels (default 141), and three numerics x1..x3 (bench/gen_manylevels_data.py, ROWS rows,
# default 50,000; written to build/bench/ when missing, untimed). The two programs run
# interleaved REPS times (default 3) on THREADS threads (default 1) under each qrx given (the
# first is the one under test; a second, e.g. main's build, runs in the same rounds so that a
# change of load falls on all alike). For each qrx and program it prints the medians of the
# CPU (user and system) and wall seconds and the largest peak resident MB, then the ratio of
# the HIGH program's medians to the LOW one's, and whether each program's listings agree
# between the qrx binaries byte for byte but for the timing and thread lines.
# Each run is checked to have taken the structured road with h joined: step 0 of the summary
# holds g's and h's columns, and the peak memory stays below ROADMB (default 1024) MB, far
# under the packed triangle of every column that a refused road would build (over 1.6 GB at
# 20,000 levels). A run is killed after LIMIT seconds (default 600) and counts as failed;
# every run is capped as bench/benchlib.sh caps it (MEMCAP, DISKCAP).
# Run from the repository root: [LEVELS=..] [HIGH=..] [LOW=..] [ROWS=..] [REPS=..]
#   bench/secondclass.sh [QRX [OLDQRX]]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
benchStart secondclass "${1:-./qrx}"
qrxs=("$qrx")
[ $# -lt 2 ] || qrxs+=("$(realpath "$2")")
levels="${LEVELS:-20000}" high="${HIGH:-1000}" low="${LOW:-141}" rows="${ROWS:-50000}"
reps="${REPS:-3}" threads="${THREADS:-1}" limit="${LIMIT:-600}" roadMb="${ROADMB:-1024}"

# dataOf HLEVELS : the data set's name, written when missing.
dataOf() {
  local name="lev${levels}r${rows}h$1"
  if [ ! -f "$dir/$name.csv" ]; then
    /usr/bin/python3 bench/gen_manylevels_data.py "$rows" "$levels" "$dir/$name.tmp" "$1"
    mv "$dir/$name.tmp" "$dir/$name.csv"
  fi
  echo "$name"
}

# program HLEVELS : writes the program over h of HLEVELS levels; prints its path.
program() {
  cat >"$work/h$1.qrx" <<QRX
libname b '$dir';
proc varsifter data=b.$(dataOf "$1") seed=7;
  class g h;
  model y = g x1 x2 x3 h / selection=backward(select=sbc);
run;
QRX
  echo "$work/h$1.qrx"
}

# roadTaken LISTING HLEVELS MB : whether step 0 held the intercept, g's and h's levels but one
# each (GLM coding) and the three numerics, within ROADMB.
roadTaken() {
  local parms
  parms=$(awk '/^Backward Elimination Summary/ {s = 1} s && $1 == "0" {print $(NF - 1); exit}' "$1")
  [ "$parms" = $((1 + levels - 1 + 3 + $2 - 1)) ] && [[ "$3" =~ ^[0-9]+$ ]] && [ "$3" -lt "$roadMb" ]
}

echo "qrx: ${qrxs[*]}; g $levels levels, h $high vs $low levels, $rows rows; $reps run(s)" \
  "each on $threads thread(s); $(nproc) CPUs; $(date -u '+%F %T') UTC;" \
  "load:$(cut -d' ' -f1-3 /proc/loadavg)"
declare -A cpu=() wall=() mb=() prog=()
for h in "$high" "$low"; do
  prog[$h]="$(program "$h")"
done
failed=0
for ((i = 0; i < reps; ++i)); do
  for q in "${!qrxs[@]}"; do
    for h in "$high" "$low"; do
      lst="$work/q$q.h$h.lst"
      guardedQrx "$limit" "$work/q$q.h$h.log" "$work/util.$$" "${qrxs[$q]}" \
        -o CPUCOUNT="$threads" -o MEMSIZE="${memcapGb}G" --listing "$lst" "${prog[$h]}"
      cpu[$q.$h]+=" $ranCpu" wall[$q.$h]+=" $ranSecs"
      [ "$ranMb" = - ] || [ "${mb[$q.$h]:-0}" -ge "$ranMb" ] || mb[$q.$h]="$ranMb"
      if ! roadTaken "$lst" "$h" "$ranMb"; then
        echo "CHECK FAILED: qrx $q, h of $h levels: not the structured road with h joined" \
          "(see $lst, peak ${ranMb} MB)" >&2
        failed=1
      fi
    done
  done
done
printf "%-4s %6s %9s %9s %8s\n" qrx h "cpu(s)" "wall(s)" "peakMB"
for q in "${!qrxs[@]}"; do
  declare -A medCpu=() medWall=()
  for h in "$high" "$low"; do
    read -ra c <<<"${cpu[$q.$h]}"
    read -ra w <<<"${wall[$q.$h]}"
    medCpu[$h]="$(median "${c[@]}")" medWall[$h]="$(median "${w[@]}")"
    printf "%-4s %6s %9s %9s %8s\n" "$q" "$h" "${medCpu[$h]}" "${medWall[$h]}" "${mb[$q.$h]:--}"
  done
  echo "qrx $q (${qrxs[$q]}): h $high / h $low: cpu $(ratio "${medCpu[$high]}" "${medCpu[$low]}")," \
    "wall $(ratio "${medWall[$high]}" "${medWall[$low]}")"
  unset medCpu medWall
done
if [ ${#qrxs[@]} -gt 1 ]; then
  for h in "$high" "$low"; do
    if sameListing "$work/q0.h$h.lst" "$work/q1.h$h.lst" >/dev/null; then
      echo "h $h: listings the same under both qrx"
    else
      echo "h $h: listings differ under the two qrx (build/bench/secondclass/q[01].h$h.lst)"
    fi
  done
fi
echo "done $(date -u '+%T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
exit "$failed"
