#!/usr/bin/env bash
# The reading pass's peak memory and read time on 1 and THREADS (8) threads, several qrx
# binaries side by side: FORWARD by SBC over a CLASS variable g of 100,000 levels and x1..x3,
# weighted, on 500,000 rows (bench/gen_manylevels_data.py ROWS LEVELS FILE 5 3 1; written to
# build/bench/ when missing, untimed), whose pages are about 4 MB. The binaries and thread
# counts take turns, REPS (5) times, so that a loaded machine weighs on each alike. Prints per
# binary and thread count the medians of the Timing table's reading row and the wall time,
# and of the peak resident size (/usr/bin/time -v), with the load before and after; every
# listing must match the first one but for the performance table, the threads and timings.
# Run from the repository root:
#   [REPS=n] [THREADS=t] [ROWS=r] [LEVELS=l] bench/readpeak.sh QRX...
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
reps="${REPS:-5}" threads="${THREADS:-8}" rows="${ROWS:-500000}" levels="${LEVELS:-100000}"
qrxs=("$@")
[ "${#qrxs[@]}" -gt 0 ] || qrxs=(./qrx)
dir=build/bench
work="$dir/readpeak"
mkdir -p "$work"
data="lev${levels}r${rows}w"
if [ ! -f "$dir/$data.csv" ]; then
  /usr/bin/python3 bench/gen_manylevels_data.py "$rows" "$levels" "$dir/$data.tmp" 5 3 1
  mv "$dir/$data.tmp" "$dir/$data.csv"
fi
prog="$work/forward.qrx"
printf "libname b '%s';\nproc varsifter data=b.%s seed=7;\n  class g;\n  weight w;\n  %s\n  %s\nrun;\n" \
  "$dir" "$data" "model y = g x1 x2 x3 / selection=forward(select=sbc);" "performance details;" \
  >"$prog"
timingRow() { awk -v row="$2" 'index($0, row) == 1 {s = $NF} END {print (s == "" ? "-" : s)}' "$1"; }
# The listing without its performance table, thread counts and timings.
results() {
  awk '/^Performance Information/ {skip = 1} /^Number of Observations$/ {skip = 0} !skip' "$1" |
    grep -Ev '^(Setup and Parsing|Reading Data|Levelization|Candidate Evaluation|Results and Displays|Cleanup|Other|Total) |Thread|NOTE: There is not enough memory'
}
echo "$(nproc) CPUs; $(date -u '+%F %T') UTC; load: $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A reading wall mb
first="" differ=0
for ((i = 0; i < reps; ++i)); do
  for q in "${qrxs[@]}"; do
    for t in 1 "$threads"; do
      tag="$(echo "$q" | tr '/' '_').$t.$i"
      lst="$work/$tag.lst"
      /usr/bin/time -v -o "$work/$tag.time" "$q" -o CPUCOUNT="$t" --listing "$lst" "$prog" \
        >"$work/$tag.log" 2>&1 || echo "FAILED: $q on $t thread(s)" >&2
      wall[$q $t]+=" $(awk '/Elapsed/ {n = split($NF, a, ":"); print a[n - 1] * 60 + a[n]}' "$work/$tag.time")"
      mb[$q $t]+=" $(awk '/Maximum resident/ {printf "%.1f", $NF / 1024}' "$work/$tag.time")"
      reading[$q $t]+=" $(timingRow "$lst" "Reading Data")"
      [ -n "$first" ] || first="$lst"
      if ! diff <(results "$first") <(results "$lst") >"$work/$tag.diff"; then
        differ=1
        echo "LISTING DIFFERS: $lst from $first (see $work/$tag.diff)" >&2
      fi
    done
  done
done
printf "%-44s %7s %9s %8s %8s\n" binary threads "read(s)" "wall(s)" "peak(MB)"
for q in "${qrxs[@]}"; do
  for t in 1 "$threads"; do
    # shellcheck disable=SC2086 # the lists split into their values
    printf "%-44s %7s %9s %8s %8s\n" "$q" "$t" "$(median ${reading[$q $t]})" \
      "$(median ${wall[$q $t]})" "$(median ${mb[$q $t]})"
  done
done
echo "listings: $([ "$differ" = 0 ] && echo "all the same as $first" || echo "some differ")"
echo "done $(date -u '+%T') UTC; load: $(cut -d' ' -f1-3 /proc/loadavg)"
