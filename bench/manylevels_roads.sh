#!/usr/bin/env bash
# Every selection road over one many-level CLASS variable g and three numerics x1..x3
# (bench/gen_manylevels_data.py; L levels, 50,000 rows below 100,000 levels and 500,000 from
# there; written to build/bench/ when missing, untimed), each as a whole qrx run on 1 and on
# 8 threads (THREADS) with its wall time and peak memory, beside a peer in the same run:
#   forward   FORWARD by SBC                       peer: scipy sparse FORWARD
#   forwardcv FORWARD select=cv cvmethod=random(5) peer: scipy sparse FORWARD by 5-fold CV
#   cvdetails the same with cvdetails=all (the folds' estimates shown)  peer: as forwardcv
#   press     FORWARD select=press                 peer: scipy sparse FORWARD by PRESS
#   stepwise  STEPWISE by SBC                      peer: scipy sparse STEPWISE
#   backward  BACKWARD by SBC                      peer: scipy sparse BACKWARD
#   lasso     LASSO with g's levels split          peer: glmnet on sparse.model.matrix
#   adaptive  adaptive LASSO, g's levels split     peer: glmnet, penalty.factor 1/|b| of the
#                                                        least-squares fit
#   enet      elastic net at L2=0.001, levels split peer: glmnet with alpha=0.5
#   effect    FORWARD by SBC, g coded PARAM=EFFECT peer: scipy sparse FORWARD (same column space)
#   store     FORWARD by SL with STORE, which     peer: scipy sparse FORWARD, then the
#             selects g (item store build/bench/roads/store.json: its size printed after the run)
#                                                  covariance of every candidate's model
#                                                  written as JSON rows
#   effectcv  FORWARD select=cv cvmethod=random(5), g coded PARAM=EFFECT
#                                                  peer: scipy sparse FORWARD by 5-fold CV
#   stepwiseh STEPWISE by SBC over h x1 x2 x3 g, h a 5-level CLASS variable
#                                                  peer: scipy sparse STEPWISE with h
#   forwardh  FORWARD by SBC over g x1 x2 x3 h     peer: scipy sparse FORWARD with h
#   backwardh BACKWARD by SBC over g x1 x2 x3 h    peer: scipy sparse BACKWARD with h
# (bench/peer_manylevels.py, bench/peer_manylevels_glmnet.R). LEVELS (default "10000 100000")
# and ROADS choose the runs, ROWS overrides the row count, REPS (default 1) repeats each run
# (medians of the times, the largest peak; a line under each row gives the user CPU
# seconds). A run is killed after LIMIT seconds (default 60
# at 100,000 levels and more, 120 below) and counts as failed. No run may take the machine:
# every process runs under prlimit --as (MEMCAP GB, default 8) and --fsize (DISKCAP GB per
# file, default 4); qrx is also told MEMSIZE=MEMCAP so that it plans within it, and writes
# its utility files into build/bench/roads/util.PID, killed ("disk") when they pass DISKCAP GB
# in all and removed after each run. The ratio column divides qrx's time on the last thread
# count by the peer's whole run, the fit column by the peer's selection alone (its own timer,
# file read excluded). The check column
# compares qrx's selected effects (of the first thread count that finished) with the peer's
# (the CV roads and the penalized roads: x1 selected; store: g selected).
# A sweep over the level count, as in LEVELS="1000 2500 5000 10000 25000 50000 100000"
# ROADS=forward, shows how each road grows with the levels.
# QUICK=1 runs 200 and 2,000 levels on 10,000 rows. PROGRAMS_ONLY=1 writes the data and the
# roads' programs (build/bench/roads/ROAD.qrx) and runs nothing, for bench/sidebyside.sh. HLEVELS (default 5) gives h its levels
# (a second many-level CLASS variable beside g, as in HLEVELS=1000 ROADS="forwardh backwardh").
# Run from the repository root: [LEVELS=...] [ROADS=...] [QUICK=1] bench/manylevels_roads.sh [QRX]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
benchStart roads "${1:-./qrx}"
if [ "${QUICK:-0}" = 1 ]; then
  : "${LEVELS:=200 2000}" "${ROWS:=10000}"
fi
reps="${REPS:-1}"

# program ROAD DATA : writes the qrx program of a road on build/bench/DATA; prints its path.
program() {
  local class="class g;" options="selection=forward(select=sbc)" store=""
  case "$1" in
    forwardcv) options="selection=forward(select=cv) cvmethod=random(5)" ;;
    cvdetails) options="selection=forward(select=cv) cvmethod=random(5) cvdetails=all" ;;
    press) options="selection=forward(select=press)" ;;
    stepwise) options="selection=stepwise(select=sbc)" ;;
    backward) options="selection=backward(select=sbc)" ;;
    lasso) class="class g / split;" options="selection=lasso" ;;
    adaptive) class="class g / split;" options="selection=lasso(adaptive)" ;;
    enet) class="class g / split;" options="selection=elasticnet(l2=0.001)" ;;
    effect) class="class g / param=effect;" ;;
    store)
      options="selection=forward(select=sl)" store="store out='$root/$work/store.json';"
      ;;
    effectcv)
      class="class g / param=effect;" options="selection=forward(select=cv) cvmethod=random(5)"
      ;;
    stepwiseh) class="class g h;" options="selection=stepwise(select=sbc)" ;;
    forwardh) class="class g h;" ;;
    backwardh) class="class g h;" options="selection=backward(select=sbc)" ;;
  esac
  local effects="g x1 x2 x3"
  [ "$1" != stepwiseh ] || effects="x1 x2 x3 h g"
  [ "$1" != forwardh ] && [ "$1" != backwardh ] || effects="g x1 x2 x3 h"
  cat >"$work/$1.qrx" <<QRX
libname b '$dir';
proc varsifter data=b.$2 seed=7;
  $class
  model y = $effects / $options;
  $store
run;
QRX
  echo "$work/$1.qrx"
}

# peerRun ROAD FILE LIMIT : runs the road's peer (log in build/bench/roads/peer.log).
peerRun() {
  case "$1" in
    lasso | adaptive | enet)
      capped "$3" "$work/peer.log" Rscript bench/peer_manylevels_glmnet.R "$2" "$1"
      ;;
    forwardcv | effectcv | cvdetails)
      capped "$3" "$work/peer.log" /usr/bin/python3 bench/peer_manylevels.py "$2" cv
      ;;
    press | store)
      capped "$3" "$work/peer.log" /usr/bin/python3 bench/peer_manylevels.py "$2" "$1"
      ;;
    stepwise | stepwiseh | backward | forwardh | backwardh)
      capped "$3" "$work/peer.log" /usr/bin/python3 bench/peer_manylevels.py "$2" "$1"
      ;;
    *) capped "$3" "$work/peer.log" /usr/bin/python3 bench/peer_manylevels.py "$2" forward ;;
  esac
}

# check ROAD LISTING : "ok" when qrx's selection agrees with the peer's (see above).
check() {
  local chosen peer
  if [ "$1" = lasso ] || [ "$1" = adaptive ] || [ "$1" = enet ] || [ "$1" = forwardcv ] ||
    [ "$1" = effectcv ] || [ "$1" = cvdetails ]; then
    hasEffects "$2" x1 2>/dev/null && echo ok || echo "no x1"
    return
  fi
  if [ "$1" = store ]; then
    hasEffects "$2" g 2>/dev/null && echo ok || echo "no g"
    return
  fi
  chosen="$(selectedEffects "$2" | tr ' ' '\n' | grep -v '^Intercept$' | sort | xargs)"
  peer="$(sed -n 's/^selected: *//p' "$work/peer.log")"
  [ "$chosen" = "$peer" ] && echo ok || echo "differs: qrx '$chosen', peer '$peer'"
}

echo "qrx: $qrx; $reps run(s) each; address space ${memcapGb} GB, files ${diskcapGb} GB;" \
  "$(nproc) CPUs; $(date -u '+%F %T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
printf "%7s %7s %9s %8s %7s %8s %7s %8s %8s %6s %6s  %s\n" levels rows road "qrx1(s)" MB \
  "qrx8(s)" MB "peer(s)" "peerrun" ratio fit check
for levels in ${LEVELS:-10000 100000}; do
  rows=50000 limit=120
  [ "$levels" -lt 100000 ] || rows=500000 limit=60
  rows="${ROWS:-$rows}" limit="${LIMIT:-$limit}"
  hlevels="${HLEVELS:-5}"
  data="lev${levels}r${rows}h"
  [ "$hlevels" = 5 ] || data="lev${levels}r${rows}h${hlevels}"
  if [ ! -f "$dir/$data.csv" ]; then
    /usr/bin/python3 bench/gen_manylevels_data.py "$rows" "$levels" "$dir/$data.tmp" "$hlevels"
    mv "$dir/$data.tmp" "$dir/$data.csv"
  fi
  for road in ${ROADS:-forward forwardcv cvdetails press stepwise backward lasso adaptive enet effect}; do
    prog="$(program "$road" "$data")"
    [ "${PROGRAMS_ONLY:-0}" != 1 ] || continue
    declare -A secs=() mb=() users=()
    pf=() pw=() pu=() verdict=""
    for ((i = 0; i < reps; ++i)); do
      for cpus in ${THREADS:-1 8}; do
        rm -f "$work/$road$cpus.lst"
        guardedQrx "$limit" "$work/$road$cpus.log" "$work/util.$$" "$qrx" \
          -o CPUCOUNT="$cpus" -o MEMSIZE="${memcapGb}G" --listing "$work/$road$cpus.lst" "$prog"
        secs[$cpus]+=" $ranSecs"
        users[$cpus]+=" $ranUser"
        [ "$ranMb" = - ] || [ "${mb[$cpus]:-0}" -ge "$ranMb" ] || mb[$cpus]="$ranMb"
      done
      peerRun "$road" "$dir/$data.csv" "${PEERLIMIT:-600}"
      pw+=("$ranSecs") pu+=("$ranUser")
      if [[ "$ranSecs" =~ ^[0-9.]+$ ]]; then
        pf+=("$(sed -n 's/.*: \([0-9.]*\) s$/\1/p' "$work/peer.log")")
        for cpus in ${THREADS:-1 8}; do
          [ -n "$verdict" ] || [ -z "$(selectedEffects "$work/$road$cpus.lst" 2>/dev/null)" ] ||
            verdict="$(check "$road" "$work/$road$cpus.lst")"
        done
      else
        pf+=("$ranSecs")
      fi
    done
    cells=()
    for cpus in ${THREADS:-1 8}; do
      read -ra t <<<"${secs[$cpus]}"
      cells+=("$(median "${t[@]}")" "${mb[$cpus]:--}")
    done
    peerFit="$(median "${pf[@]}")" peerRun="$(median "${pw[@]}")"
    last="${cells[${#cells[@]} - 2]:-}"
    printf "%7s %7s %9s %8s %7s %8s %7s %8s %8s %6s %6s  %s\n" "$levels" "$rows" "$road" \
      "${cells[@]:0:4}" "$peerFit" "$peerRun" "$(ratio "$last" "$peerRun")" \
      "$(ratio "$last" "$peerFit")" "${verdict:--}"
    userCells=""
    for cpus in ${THREADS:-1 8}; do
      read -ra t <<<"${users[$cpus]}"
      userCells+=" qrx$cpus $(median "${t[@]}")"
    done
    echo "  user CPU s:$userCells, peer $(median "${pu[@]}")"
    if [ "$road" = store ]; then
      echo "  item store: $(stat -c %s "$work/store.json" 2>/dev/null || echo none) bytes," \
        "covariance: $(grep -c '"covariance"' "$work/store.json" 2>/dev/null || true)"
      rm -f "$work/store.json"
    fi
  done
done
echo "done $(date -u '+%T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
