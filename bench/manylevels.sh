#!/usr/bin/env bash
# The many-levels benchmark: FORWARD selection by SBC over one CLASS variable of 1,000, 5,000
# and 10,000 levels and three numeric columns on 50,000 rows (bench/gen_manylevels_data.py,
# written to build/bench/ when missing), timed as whole qrx runs on 1 and on all threads
# with their peak memory. Run from the repository root: bench/manylevels.sh [QRX_BINARY]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
qrx="${1:-./qrx}"
dir=build/bench
mkdir -p "$dir"
for levels in 1000 5000 10000; do
  data="$dir/lev$levels.csv"
  [ -f "$data" ] || /usr/bin/python3 bench/gen_manylevels_data.py 50000 "$levels" "$data"
  prog="$dir/lev$levels.qrx"
  cat >"$prog" <<QRX
libname b '$dir';
proc varsifter data=b.lev$levels;
  class g;
  model y = g x1 x2 x3 / selection=forward(select=sbc);
run;
QRX
  for cpus in 1 "$(nproc)"; do
    /usr/bin/time -f "%e %M" -o "$dir/time.txt" "$qrx" -o CPUCOUNT="$cpus" \
      --listing /dev/null "$prog" >/dev/null 2>&1
    read -r secs kb <"$dir/time.txt"
    echo "levels $levels, $cpus thread(s): $secs s, peak $kb kB"
  done
done
