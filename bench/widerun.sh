#!/usr/bin/env bash
# Wide data: LASSO over a numbered range of COLS-1 candidates on a generated ROWS x COLS CSV
# (bench/gen/bigcsv.cpp, written to DATADIR when missing). Prints the CSV reader's median
# time on the file (bench_csvread) and, for each of RUNS whole qrx runs, the wall, user and
# system seconds, the Timing table's setup and reading rows and the load average before the
# run. Run from the repository root:
#   [DATADIR=dir] [THREADS="1 8"] [SELECTION=none] [CSVREAD=0] [QRXS="a b"] \
#     bench/widerun.sh [ROWS] [COLS] [QRX] [RUNS]   (defaults 5000 5001 build/rel/app/qrx 3)
# DATADIR (default build/bench) holds the data; a 1,000,000 x 1,000 file takes 9.5 GB. With
# THREADS each run goes through the thread counts in turn (-o CPUCOUNT=n), so that a change
# of the machine's load falls on every count alike, and the medians of each count follow.
# SELECTION=none fits the full model, so the run's CPU is that of setup and the read pass.
# QRXS compares several binaries (QRX then only names the file for bench_csvread): each run
# goes through every binary and thread count in turn, and the medians follow for each pair.
# CSVREAD=0 leaves out bench_csvread, which needs a Release build with benchmarks in build/rel.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
rows="${1:-5000}"
cols="${2:-5001}"
qrx="${3:-build/rel/app/qrx}"
runs="${4:-3}"
out=build/bench
datadir="${DATADIR:-$out}"
selection="${SELECTION:-lasso}"
read -r -a threads <<<"${THREADS:-default}"
read -r -a qrxs <<<"${QRXS:-$qrx}"
mkdir -p "$out" "$datadir"
name="wide${rows}x${cols}"
data="$datadir/$name.csv"
if [ ! -f "$data" ]; then
  c++ -O2 -std=c++20 -pthread bench/gen/bigcsv.cpp -o "$out/gen_bigcsv"
  "$out/gen_bigcsv" "$rows" "$cols" "$data"
fi
prog="$out/$name.qrx"
printf "libname b '%s';\nproc varsifter data=b.%s;\n  model y = x1-x%d / selection=%s;\n  performance details;\nrun;\n" \
  "$datadir" "$name" "$((cols - 1))" "$selection" >"$prog"
echo "file: $data ($(stat -c %s "$data") bytes); selection=$selection"
if [ "${CSVREAD:-1}" != 0 ]; then
  QRX_BENCH_CSV="$data" build/rel/bench/bench_csvread --benchmark_filter=ReadCsvFile \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null | grep median || true
fi
timingRow() { # listing, row name: the row's seconds
  awk -v row="$2" 'index($0, row) == 1 {s = $NF} END {print (s == "" ? "-" : s)}' "$1"
}
declare -A walls=() users=() syss=() cpus=() reads=()
echo "threads wall user sys setup reading load [binary]"
for ((i = 1; i <= runs; ++i)); do
  for t in "${threads[@]}"; do
    opts=()
    [ "$t" = default ] || opts=(-o CPUCOUNT="$t")
    for q in "${qrxs[@]}"; do
      load=$(cut -d' ' -f1 /proc/loadavg)
      /usr/bin/time -f "%e %U %S" -o "$out/time.txt" "$q" "${opts[@]}" --listing "$out/wide.lst" \
        "$prog" >/dev/null 2>&1
      read -r wall user sys <"$out/time.txt"
      reading=$(timingRow "$out/wide.lst" "Reading Data")
      label=$t
      [ ${#qrxs[@]} = 1 ] || label="$t $q"
      echo "$t $wall $user $sys $(timingRow "$out/wide.lst" "Setup and Parsing") $reading $load" \
        "$([ ${#qrxs[@]} = 1 ] || echo "$q")"
      walls[$label]+=" $wall" users[$label]+=" $user" syss[$label]+=" $sys"
      cpus[$label]+=" $(awk -v u="$user" -v s="$sys" 'BEGIN {print u + s}')"
      reads[$label]+=" $reading"
    done
  done
done
for q in "${qrxs[@]}"; do
  for t in "${threads[@]}"; do
    label=$t
    [ ${#qrxs[@]} = 1 ] || label="$t $q"
    # shellcheck disable=SC2086 # the lists split into their values
    echo "median, $label thread(s): wall $(median ${walls[$label]}) s," \
      "user $(median ${users[$label]}) s, sys $(median ${syss[$label]}) s," \
      "CPU $(median ${cpus[$label]}) s, reading $(median ${reads[$label]}) s"
  done
done
