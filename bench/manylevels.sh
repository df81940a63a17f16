#!/usr/bin/env bash
# The many-levels benchmark: FORWARD selection by SBC over one CLASS variable g of 1,000 to
# 50,000 levels on 50,000 rows, and of 100,000 levels on 500,000 rows, with three numeric
# columns (bench/gen_manylevels_data.py, written to build/bench/ when missing). Each data set
# is run as a whole qrx run on 1 and on all threads (wall time and peak memory) and through
# the scipy sparse peer (bench/peer_manylevels.py: the same candidates and criterion; its
# selection alone and its whole run, file read included), and the ratio of qrx's
# all-thread time to the peer's selection is printed. A run that passes LIMIT seconds
# (default 600) is reported as "timeout", one that ends with an error as "error" (its log
# is build/bench/<road><levels>.log).
# ROADS (default "forward") lists the roads to run over each data set: forward, forwardcv
# (FORWARD by cross validation, 5 random folds), stepwise (STEPWISE by SBC), lasso (LASSO with
# the levels split into candidates) and effect (FORWARD under the effect coding); the peer
# runs beside forward only.
# Run from the repository root: [ROADS="forward lasso"] bench/manylevels.sh [QRX_BINARY] [LEVELS...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
qrx="${1:-./qrx}"
shift || true
limit="${LIMIT:-600}"
dir=build/bench
mkdir -p "$dir"
levelsList=("$@")
[ ${#levelsList[@]} -gt 0 ] || levelsList=(1000 2500 5000 10000 25000 50000 100000)
threads="$(nproc)"
roads=(${ROADS:-forward})
printf "%10s %8s %8s %10s %10s %10s %10s %10s %10s %7s\n" road levels rows "qrx 1 (s)" \
  "peak (MB)" "qrx $threads (s)" "peak (MB)" "peer (s)" "peer run" ratio
# The CLASS and MODEL statements' options of a road.
classOf() {
  case "$1" in
  lasso) echo " / split" ;;
  effect) echo " / param=effect" ;;
  *) echo "" ;;
  esac
}
selectionOf() {
  case "$1" in
  forward | effect) echo "selection=forward(select=sbc)" ;;
  forwardcv) echo "selection=forward(select=cv) cvmethod=random(5)" ;;
  stepwise) echo "selection=stepwise(select=sbc)" ;;
  lasso) echo "selection=lasso" ;;
  *) echo "unknown road $1" >&2 && exit 2 ;;
  esac
}
for levels in "${levelsList[@]}"; do
  rows=50000
  [ "$levels" -lt 100000 ] || rows=500000
  data="$dir/lev${levels}r$rows.csv"
  [ -f "$data" ] || /usr/bin/python3 bench/gen_manylevels_data.py "$rows" "$levels" "$data"
  for road in "${roads[@]}"; do
    prog="$dir/$road$levels.qrx"
    cat >"$prog" <<QRX
libname b '$dir';
proc varsifter data=b.lev${levels}r$rows;
  class g$(classOf "$road");
  model y = g x1 x2 x3 / $(selectionOf "$road");
run;
QRX
    cells=()
    for cpus in 1 "$threads"; do
      status=0
      timeout "$limit" /usr/bin/time -f "%e %M" -o "$dir/time.txt" "$qrx" -o CPUCOUNT="$cpus" \
        --listing /dev/null "$prog" >"$dir/$road$levels.log" 2>&1 || status=$?
      if [ "$status" = 0 ] || [ "$status" = 1 ]; then
        read -r secs kb <"$dir/time.txt"
        cells+=("$secs" "$((kb / 1024))")
      elif [ "$status" = 124 ]; then
        cells+=("timeout" "-")
      else
        cells+=("error" "-")
      fi
    done
    peer="-" peerRun="-" ratio="-"
    if [ "$road" = forward ]; then
      /usr/bin/time -f "%e" -o "$dir/time.txt" /usr/bin/python3 bench/peer_manylevels.py "$data" \
        >"$dir/peer.log"
      peer="$(sed -n 's/.*: \([0-9.]*\) s$/\1/p' "$dir/peer.log")"
      peerRun="$(cat "$dir/time.txt")"
      case "${cells[2]}" in
      timeout | error) ;;
      *) ratio="$(awk -v a="${cells[2]}" -v b="$peer" 'BEGIN { printf "%.2f", a / b }')" ;;
      esac
    fi
    printf "%10s %8s %8s %10s %10s %10s %10s %10s %10s %7s\n" "$road" "$levels" "$rows" \
      "${cells[0]}" "${cells[1]}" "${cells[2]}" "${cells[3]}" "$peer" "$peerRun" "$ratio"
  done
done
