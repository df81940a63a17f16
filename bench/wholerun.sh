#!/usr/bin/env bash
# Whole runs on a generated ROWS x 50 CSV (default 1,000,000 rows: build/bench/wide.csv; other
# counts: build/bench/wide_ROWS.csv; made by bench/gen_csvread_data.py when missing): qrx
# LASSO and FORWARD (bench/csvread_*.qrx) on 1 and on 8 threads with their peak memory, beside
# fread + glmnet, fread + leaps (1 and 8 threads for the reading) and pandas + LassoLarsIC
# (PEERS=0 leaves the peers out). Needs r-cran-data.table, r-cran-glmnet, r-cran-leaps and
# python3-pandas. Each qrx line gives wall, user and system seconds, peak memory and the load
# average before the run; with RUNS=n each qrx run is made n times, every binary given and both
# thread counts in turn within a round (so that a change of load falls on all alike). Run from
# the repository root: [ROWS=n] [PEERS=0] [RUNS=n] bench/wholerun.sh [QRX...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
rows="${ROWS:-1000000}"
name=wide
[ "$rows" = 1000000 ] || name="wide_$rows"
data="build/bench/$name.csv"
mkdir -p build/bench
[ -f "$data" ] || /usr/bin/python3 bench/gen_csvread_data.py "$rows" "$data"
qrxs=("$@")
[ ${#qrxs[@]} -gt 0 ] || qrxs=(./qrx)
echo "data: $data ($(stat -c %s "$data") bytes; design as doubles $((rows * 50 * 8 / 1048576)) MB)"
timed() { # label, command...
  local label="$1" load
  shift
  load=$(cut -d' ' -f1 /proc/loadavg)
  /usr/bin/time -f "%e %U %S %M" -o build/bench/time.txt "$@" >/dev/null 2>&1
  read -r secs user sys kb <build/bench/time.txt
  echo "$label: $secs s (user $user, sys $sys), peak $((kb / 1024)) MB, load $load"
}
for ((round = 1; round <= ${RUNS:-1}; ++round)); do
  for cpus in 1 8; do
    for qrx in "${qrxs[@]}"; do
      for prog in lasso forward; do
        sed "s/data=b\.wide;/data=b.$name;/" "bench/csvread_$prog.qrx" >"build/bench/$prog.qrx"
        timed "$qrx $prog, $cpus thread(s)" "$qrx" -o CPUCOUNT="$cpus" --listing /dev/null \
          "build/bench/$prog.qrx"
      done
    done
  done
done
if [ "${PEERS:-1}" != 0 ]; then
  for cpus in 1 8; do
    timed "fread + glmnet, $cpus thread(s)" Rscript bench/peer_wholerun.R glmnet "$data" "$cpus"
    timed "fread + leaps, $cpus thread(s)" Rscript bench/peer_wholerun.R leaps "$data" "$cpus"
  done
  timed "pandas + LassoLarsIC" /usr/bin/python3 bench/peer_wholerun.py "$data"
fi
