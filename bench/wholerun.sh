#!/usr/bin/env bash
# Whole runs on the generated 1,000,000 x 50 CSV (build/bench/wide.csv, made by
# bench/gen_csvread_data.py when missing): qrx LASSO and FORWARD (bench/csvread_*.qrx) on 1
# and on 8 threads with their peak memory, beside fread + glmnet, fread + leaps (1 and 8
# threads for the reading) and pandas + LassoLarsIC. Needs r-cran-data.table, r-cran-glmnet,
# r-cran-leaps and python3-pandas. Run from the repository root: bench/wholerun.sh [QRX]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
data=build/bench/wide.csv
[ -f "$data" ] || /usr/bin/python3 bench/gen_csvread_data.py 1000000 "$data"
qrx="${1:-./qrx}"
timed() { # label, command...
  local label="$1"
  shift
  /usr/bin/time -f "%e %M" -o build/bench/time.txt "$@" >/dev/null 2>&1
  read -r secs kb <build/bench/time.txt
  echo "$label: $secs s, peak $((kb / 1024)) MB"
}
for cpus in 1 8; do
  for prog in lasso forward; do
    timed "qrx $prog, $cpus thread(s)" "$qrx" -o CPUCOUNT="$cpus" --listing /dev/null \
      "bench/csvread_$prog.qrx"
  done
  timed "fread + glmnet, $cpus thread(s)" Rscript bench/peer_wholerun.R glmnet "$data" "$cpus"
  timed "fread + leaps, $cpus thread(s)" Rscript bench/peer_wholerun.R leaps "$data" "$cpus"
done
timed "pandas + LassoLarsIC" /usr/bin/python3 bench/peer_wholerun.py "$data"
