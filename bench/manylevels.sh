#!/usr/bin/env bash
# The many-levels benchmark: FORWARD selection by SBC over one CLASS variable g of 1,000 to
# 50,000 levels on 50,000 rows, and of 100,000 levels on 500,000 rows, with three numeric
# columns (bench/gen_manylevels_data.py, written to build/bench/ when missing). Each data set
# is run as a whole qrx run on 1 and on all threads (wall time and peak memory) and through
# the scipy sparse peer (bench/peer_manylevels.py: the same candidates and criterion; its
# selection alone and its whole run, file read included), and the ratio of qrx's
# all-thread time to the peer's selection is printed. A run that fails or passes LIMIT
# seconds (default 600) is reported as failed.
# Run from the repository root: bench/manylevels.sh [QRX_BINARY] [LEVELS...]
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
printf "%8s %8s %10s %10s %10s %10s %10s %10s %7s\n" levels rows "qrx 1 (s)" "peak (MB)" \
  "qrx $threads (s)" "peak (MB)" "peer (s)" "peer run" ratio
for levels in "${levelsList[@]}"; do
  rows=50000
  [ "$levels" -lt 100000 ] || rows=500000
  data="$dir/lev${levels}r$rows.csv"
  [ -f "$data" ] || /usr/bin/python3 bench/gen_manylevels_data.py "$rows" "$levels" "$data"
  prog="$dir/lev$levels.qrx"
  cat >"$prog" <<QRX
libname b '$dir';
proc varsifter data=b.lev${levels}r$rows;
  class g;
  model y = g x1 x2 x3 / selection=forward(select=sbc);
run;
QRX
  cells=()
  for cpus in 1 "$threads"; do
    if timeout "$limit" /usr/bin/time -f "%e %M" -o "$dir/time.txt" "$qrx" -o CPUCOUNT="$cpus" \
      --listing /dev/null "$prog" >"$dir/run.log" 2>&1; then
      read -r secs kb <"$dir/time.txt"
      cells+=("$secs" "$((kb / 1024))")
    else
      cells+=("failed" "-")
    fi
  done
  /usr/bin/time -f "%e" -o "$dir/time.txt" /usr/bin/python3 bench/peer_manylevels.py "$data" \
    >"$dir/peer.log"
  peer="$(sed -n 's/.*: \([0-9.]*\) s$/\1/p' "$dir/peer.log")"
  peerRun="$(cat "$dir/time.txt")"
  ratio="-"
  [ "${cells[2]}" = failed ] || ratio="$(awk -v a="${cells[2]}" -v b="$peer" 'BEGIN { printf "%.2f", a / b }')"
  printf "%8s %8s %10s %10s %10s %10s %10s %10s %7s\n" "$levels" "$rows" "${cells[0]}" \
    "${cells[1]}" "${cells[2]}" "${cells[3]}" "$peer" "$peerRun" "$ratio"
done
