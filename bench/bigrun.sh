#!/usr/bin/env bash
# Large inputs with the procedure's pages on disk: LASSO and FORWARD (by SBC, at most 20
# steps) on generated CSVs of 10,000,000 x 100 (about 9.5 GB), 2,000,000 x 100 and
# 5,000,000 x 50, with MEMSIZE bounding the memory (the design's pages beyond it go to the
# utility files; the CSV's values beyond a quarter of it are read window by window). Prints
# wall time and peak resident size of each run. The data (bench/gen/bigcsv.cpp) goes to
# build/bench and is removed after its runs. Run from the repository root:
#   bench/bigrun.sh [QRX] [MEMSIZE]        (defaults: ./qrx, 2G)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
qrx="${1:-./qrx}"
memsize="${2:-2G}"
out=build/bench
mkdir -p "$out"
c++ -O2 -std=c++20 -pthread bench/gen/bigcsv.cpp -o "$out/gen_bigcsv"
"$qrx" --help >/dev/null 2>&1 || true # builds the runner first when it is ./qrx

timed() { # label, command...
  local label="$1"
  shift
  /usr/bin/time -f "%e %M" -o "$out/time.txt" "$@" >"$out/bigrun.log" 2>&1 || {
    echo "$label: failed"
    tail -5 "$out/bigrun.log"
    return
  }
  read -r secs kb <"$out/time.txt"
  echo "$label: $secs s, peak $((kb / 1024)) MB"
}

program() { # name, selection, columns
  printf "libname b '%s';\nproc varsifter data=b.big;\n  model y = x1-x%d / selection=%s;\nrun;\n" \
    "$out" "$(($3 - 1))" "$2" >"$out/big_$1.qrx"
  echo "$out/big_$1.qrx"
}

for size in "10000000 100" "2000000 100" "5000000 50"; do
  read -r rows cols <<<"$size"
  "$out/gen_bigcsv" "$rows" "$cols" "$out/big.csv"
  bytes=$(stat -c %s "$out/big.csv")
  echo "== $rows x $cols: $((bytes / 1048576)) MB of CSV, design as doubles $((rows * cols * 8 / 1048576)) MB"
  lasso=$(program lasso lasso "$cols")
  forward=$(program forward "forward(select=sbc maxsteps=20)" "$cols")
  timed "qrx LASSO, MEMSIZE=$memsize" "$qrx" -o MEMSIZE="$memsize" --listing /dev/null "$lasso"
  timed "qrx FORWARD, MEMSIZE=$memsize" "$qrx" -o MEMSIZE="$memsize" --listing /dev/null "$forward"
  rm -f "$out/big.csv"
done
