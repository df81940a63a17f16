#!/usr/bin/env bash
# The threaded levelisation against the serial one, as whole qrx runs: four CLASS variables
# of 500, 200, 50 and 100 levels (two character, two numeric) on 400,000 and 4,000,000 rows
# (bench/gen_levelise_data.py, written to build/bench/ when missing), a GLM model of their
# main effects without selection. Each setting runs five times; printed are the medians of
# the Timing table's Levelization row and of the wall time, serial and with
# %let _testthread=1 (2 x CPUCOUNT workers), and the serial/threaded ratio. The tables
# before the Timing table must be the same with and without the workers.
# Run from the repository root: bench/levelise.sh [QRX_BINARY] [CPUCOUNT ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
qrx="${1:-./qrx}"
shift || true
cpus=("$@")
[ ${#cpus[@]} -gt 0 ] || cpus=(1 4)
dir=build/bench
mkdir -p "$dir"

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# One setting five times: prints "levelisation-median wall-median"; keeps the last listing.
runs() { # program, cpucount, listing
  : >"$dir/lev.times"
  for _ in 1 2 3 4 5; do
    /usr/bin/time -f "%e" -o "$dir/time.txt" "$qrx" -o CPUCOUNT="$2" --listing "$3" "$1" \
      >/dev/null 2>&1
    lev=$(awk '/^Levelization/ {print $2}' "$3")
    echo "$lev $(cat "$dir/time.txt")" >>"$dir/lev.times"
  done
  echo "$(cut -d' ' -f1 "$dir/lev.times" | median) $(cut -d' ' -f2 "$dir/lev.times" | median)"
}

for rows in 400000 4000000; do
  data="$dir/levelise$rows.csv"
  [ -f "$data" ] || /usr/bin/python3 bench/gen_levelise_data.py "$rows" "$data"
  for threaded in 0 1; do
    {
      [ "$threaded" = 1 ] && echo '%let _testthread=1;'
      cat <<QRX
libname b '$dir';
proc varsifter data=b.levelise$rows;
  class a b c d;
  model y = a b c d x1 / selection=none;
  performance details;
run;
QRX
    } >"$dir/levelise$threaded.qrx"
  done
  for cpu in "${cpus[@]}"; do
    read -r serial serialWall < <(runs "$dir/levelise0.qrx" "$cpu" "$dir/levelise0.lst")
    read -r threaded threadedWall < <(runs "$dir/levelise1.qrx" "$cpu" "$dir/levelise1.lst")
    same=same
    cmp -s <(sed '/Timing/,$d' "$dir/levelise0.lst") <(sed '/Timing/,$d' "$dir/levelise1.lst") ||
      same=DIFFERENT
    ratio=$(awk -v s="$serial" -v t="$threaded" 'BEGIN {printf "%.2f", (t > 0 ? s / t : 0)}')
    echo "rows $rows, CPUCOUNT=$cpu ($((2 * cpu)) workers): levelisation serial $serial s," \
      "threaded $threaded s, ratio $ratio; wall $serialWall s / $threadedWall s; tables $same"
  done
done
