#!/usr/bin/env bash
# Cross validation and whole-path timings of qrx beside its peers, measured in one run on CSVs
# of bench/gen_csvread_data.py (y on x1..x10; written to build/bench/ when missing, untimed).
# The sections (SECTIONS, default "cv big lar wide"):
#   cv   CV_ROWS x CV_COLS (100,000 x 200), FOLDS (5 10) folds, THREADS (1 8): qrx LASSO
#        choose=cv stop=none over the whole path, qrx FORWARD select=cv stop=none maxsteps=20,
#        fread + cv.glmnet (bench/peer_cvex.R) and pandas + LassoLarsCV (bench/peer_cvchoose.py);
#   big  BIG_ROWS x BIG_COLS (1,000,000 x 49), 5 folds, BIG_THREADS (1): LASSO choose=cv
#        against choose=cvex on the same folds;
#   lar  each of LAR_SIZES (1000000x49 100000x1000), 1 thread: the selection phase of a full
#        LAR and LASSO path (the Timing table's row) beside lars_path from its Gram matrix, X'X
#        timed, on the data already in memory and standardized in place untimed;
#   wide WIDE_ROWS x WIDE_COLS (10,000 x 20,000), WIDE_THREADS (1 8): a LASSO of WIDE_STEPS
#        (750) steps beside fread + glmnet's default path, the reading excluded and included.
# Each configuration runs REPS times (default 3), qrx and its peers interleaved; the table
# gives medians and ratios (below 1: qrx is faster). A run is killed after LIMIT seconds
# (default 1800) and cannot map more than MEMCAP GB (default 8, prlimit --as); a killed,
# failed or wrong run (a qrx selected model without all of x1..x10, a peer's own check) shows
# in the table instead of a time; qrx's utility files go to build/bench/cvchoose/util.PID,
# which may hold DISKCAP GB (default 4; also the largest file any run may write). QUICK=1
# runs every section once at small sizes.
# Needs r-cran-data.table, r-cran-glmnet, python3-pandas and python3-sklearn.
# Run from the repository root: [REPS=n] [QUICK=1] [SECTIONS=...] bench/cvchoose.sh [QRX]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
benchStart cvchoose "${1:-./qrx}"
if [ "${QUICK:-0}" = 1 ]; then
  : "${REPS:=1}" "${CV_ROWS:=5000}" "${CV_COLS:=30}" "${BIG_ROWS:=50000}" "${BIG_COLS:=49}"
  : "${LAR_SIZES:=20000x49 5000x200}" "${WIDE_ROWS:=500}" "${WIDE_COLS:=2000}" "${WIDE_STEPS:=100}"
fi
reps="${REPS:-3}"
limit="${LIMIT:-1800}"
signal=(x1 x2 x3 x4 x5 x6 x7 x8 x9 x10)

# dataFile ROWS COLUMNS : the generated CSV of that many rows and candidate columns, written
# first when missing (the sizes of bench/cvex.sh and bench/wholerun.sh share their files).
dataFile() {
  local name="csv_$1x$(($2 + 1))"
  [ "$1x$2" != 100000x200 ] || name=cvex
  [ "$1x$2" != 1000000x49 ] || name=wide
  if [ ! -f "$dir/$name.csv" ]; then
    /usr/bin/python3 bench/gen_csvread_data.py "$1" "$dir/$name.tmp" "$(($2 + 1))"
    mv "$dir/$name.tmp" "$dir/$name.csv"
  fi
  echo "$name"
}

# program NAME DATA COLUMNS OPTIONS [STATEMENT] : writes a qrx program fitting y on x1..xCOLUMNS
# of build/bench/DATA with the MODEL options given; prints its path.
program() {
  cat >"$dir/cvchoose/$1.qrx" <<QRX
libname b '$dir';
proc varsifter data=b.$2 seed=7;
  model y = x1-x$3 / $4;
  ${5:-}
run;
QRX
  echo "$dir/cvchoose/$1.qrx"
}

# qrxTimed NAME CPUS PROGRAM : one qrx run (listing in build/bench/cvchoose/NAME.lst); sets
# ranSecs and ranMb as capped does (a run ending with warnings counts), ranSecs "wrong" when
# the selected model misses a signal.
qrxTimed() {
  local out="$dir/cvchoose/$1"
  rm -f "$out.lst"
  guardedQrx "$limit" "$out.log" "$dir/cvchoose/util.$$" "$qrx" -o CPUCOUNT="$2" \
    --listing "$out.lst" "$3"
  if [[ "$ranSecs" =~ ^[0-9.]+$ ]] && ! hasEffects "$out.lst" "${signal[@]}"; then
    ranSecs=wrong
  fi
}

# printedSecs LOG [WORD] : the seconds a peer printed after "WORD " or after ": ".
printedSecs() {
  local v
  if [ $# -gt 1 ]; then
    v="$(sed -n "s/.*$2 \([0-9.]*\) s.*/\1/p" "$1")"
  else
    v="$(sed -n 's/.*: \([0-9.]*\) s.*/\1/p' "$1")"
  fi
  echo "${v:-failed}"
}

# peerSecs LOG : the time of a peer run just made: its printed figure, or capped's failure.
peerSecs() {
  if [[ "$ranSecs" =~ ^[0-9.]+$ ]]; then printedSecs "$@"; else echo "$ranSecs"; fi
}

sectionCv() {
  local data folds cpus lasso forward i
  data="$(dataFile "${CV_ROWS:-100000}" "${CV_COLS:-200}")"
  echo "== cv: $data.csv ($(stat -c %s "$dir/$data.csv") bytes); qrx LASSO choose=cv and FORWARD" \
    "select=cv maxsteps=20 (stop=none), whole runs; cv.glmnet fits on one thread"
  printf "%5s %7s %10s %10s %10s %10s %9s %9s %9s\n" folds threads "LASSO(s)" "FORWARD(s)" \
    "glmnet(s)" "LarsCV(s)" "L/glmnet" "F/glmnet" "L/LarsCV"
  for folds in ${FOLDS:-5 10}; do
    lasso="$(program "lasso_cv$folds" "$data" "${CV_COLS:-200}" \
      "selection=lasso(choose=cv stop=none) cvmethod=random($folds)")"
    forward="$(program "forward_cv$folds" "$data" "${CV_COLS:-200}" \
      "selection=forward(select=cv stop=none maxsteps=20) cvmethod=random($folds)")"
    for cpus in ${THREADS:-1 8}; do
      local l=() f=() r=() p=() ml mf mr mp
      for ((i = 0; i < reps; ++i)); do
        qrxTimed lasso "$cpus" "$lasso"
        l+=("$ranSecs")
        qrxTimed forward "$cpus" "$forward"
        f+=("$ranSecs")
        capped "$limit" "$dir/cvchoose/glmnet.log" Rscript bench/peer_cvex.R "$dir/$data.csv" \
          "$folds" "$cpus"
        r+=("$ranSecs")
        capped "$limit" "$dir/cvchoose/larscv.log" env OPENBLAS_NUM_THREADS="$cpus" \
          OMP_NUM_THREADS="$cpus" /usr/bin/python3 bench/peer_cvchoose.py cv "$dir/$data.csv" \
          "$folds" "$cpus"
        p+=("$ranSecs")
      done
      ml="$(median "${l[@]}")" mf="$(median "${f[@]}")"
      mr="$(median "${r[@]}")" mp="$(median "${p[@]}")"
      printf "%5s %7s %10s %10s %10s %10s %9s %9s %9s\n" "$folds" "$cpus" "$ml" "$mf" "$mr" \
        "$mp" "$(ratio "$ml" "$mr")" "$(ratio "$mf" "$mr")" "$(ratio "$ml" "$mp")"
    done
  done
}

sectionBig() {
  local data cols="${BIG_COLS:-49}" cv cvex cpus i mc mx
  data="$(dataFile "${BIG_ROWS:-1000000}" "$cols")"
  echo "== big: $data.csv, LASSO stop=none cvmethod=random(5), whole runs"
  cv="$(program big_cv "$data" "$cols" "selection=lasso(choose=cv stop=none) cvmethod=random(5)")"
  cvex="$(program big_cvex "$data" "$cols" \
    "selection=lasso(choose=cvex stop=none) cvmethod=random(5)")"
  for cpus in ${BIG_THREADS:-1}; do
    local c=() x=()
    for ((i = 0; i < reps; ++i)); do
      qrxTimed big_cv "$cpus" "$cv"
      c+=("$ranSecs")
      qrxTimed big_cvex "$cpus" "$cvex"
      x+=("$ranSecs")
    done
    mc="$(median "${c[@]}")" mx="$(median "${x[@]}")"
    echo "$cpus thread(s): choose=cv $mc s, choose=cvex $mx s, ratio cv/cvex $(ratio "$mc" "$mx")"
  done
}

sectionLar() {
  local size rows cols data method prog i
  echo "== lar: selection phase of the full path (Timing), 1 thread; lars_path from its Gram" \
    "matrix (X'X timed), data in memory and standardized in place untimed"
  printf "%16s %6s %12s %10s %12s %10s\n" data method "select(s)" "run(s)" "lars_path(s)" ratio
  for size in ${LAR_SIZES:-1000000x49 100000x1000}; do
    rows="${size%x*}" cols="${size#*x}"
    data="$(dataFile "$rows" "$cols")"
    for method in lar lasso; do
      prog="$(program "path_$method" "$data" "$cols" "selection=$method(stop=none)" \
        "performance details;")"
      local s=() w=() p=() ms mw mp
      for ((i = 0; i < reps; ++i)); do
        qrxTimed "path_$method" 1 "$prog"
        w+=("$ranSecs")
        if [[ "$ranSecs" =~ ^[0-9.]+$ ]]; then
          s+=("$(selectionSecs "$dir/cvchoose/path_$method.lst")")
        else
          s+=("$ranSecs")
        fi
        capped "$limit" "$dir/cvchoose/larspath.log" env OPENBLAS_NUM_THREADS=1 \
          OMP_NUM_THREADS=1 /usr/bin/python3 bench/peer_cvchoose.py lars "$dir/$data.csv" "$method"
        p+=("$(peerSecs "$dir/cvchoose/larspath.log")")
      done
      ms="$(median "${s[@]}")" mw="$(median "${w[@]}")" mp="$(median "${p[@]}")"
      printf "%16s %6s %12s %10s %12s %10s\n" "$size" "$method" "$ms" "$mw" "$mp" \
        "$(ratio "$ms" "$mp")"
    done
  done
}

sectionWide() {
  local rows="${WIDE_ROWS:-10000}" cols="${WIDE_COLS:-20000}" steps="${WIDE_STEPS:-750}"
  local data prog cpus i rd=() gl=() ts=() tw=() mrd mgl both s w
  data="$(dataFile "$rows" "$cols")"
  prog="$(program wide "$data" "$cols" "selection=lasso(stop=none maxsteps=$steps)" \
    "performance details;")"
  echo "== wide: $data.csv, LASSO of $steps steps (qrx whole run and its selection phase)" \
    "beside fread + glmnet's default path (one thread)"
  local -A whole sel
  for ((i = 0; i < reps; ++i)); do
    for cpus in ${WIDE_THREADS:-1 8}; do
      qrxTimed "wide$cpus" "$cpus" "$prog"
      whole[$cpus]+=" $ranSecs"
      if [[ "$ranSecs" =~ ^[0-9.]+$ ]]; then
        sel[$cpus]+=" $(selectionSecs "$dir/cvchoose/wide$cpus.lst")"
      else
        sel[$cpus]+=" $ranSecs"
      fi
    done
    capped "$limit" "$dir/cvchoose/glmnetpath.log" Rscript bench/peer_glmnetpath.R \
      "$dir/$data.csv" 1
    rd+=("$(peerSecs "$dir/cvchoose/glmnetpath.log" fread)")
    gl+=("$(peerSecs "$dir/cvchoose/glmnetpath.log" glmnet)")
  done
  mrd="$(median "${rd[@]}")" mgl="$(median "${gl[@]}")" both="$mgl"
  [[ ! "$mrd" =~ ^[0-9.]+$ ]] || [[ ! "$mgl" =~ ^[0-9.]+$ ]] ||
    both="$(awk -v a="$mrd" -v b="$mgl" 'BEGIN {printf "%.2f", a + b}')"
  printf "%7s %10s %10s %11s %14s %12s %12s\n" threads "select(s)" "run(s)" "glmnet(s)" \
    "fread+glmnet(s)" "select/glmnet" "run/both"
  for cpus in ${WIDE_THREADS:-1 8}; do
    read -ra ts <<<"${sel[$cpus]}"
    read -ra tw <<<"${whole[$cpus]}"
    s="$(median "${ts[@]}")" w="$(median "${tw[@]}")"
    printf "%7s %10s %10s %11s %14s %12s %12s\n" "$cpus" "$s" "$w" "$mgl" "$both" \
      "$(ratio "$s" "$mgl")" "$(ratio "$w" "$both")"
  done
}

echo "qrx: $qrx; $reps run(s) each, medians; limit $limit s, address space ${memcapGb} GB;" \
  "$(nproc) CPUs; $(date -u '+%F %T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
for section in ${SECTIONS:-cv big lar wide}; do
  case "$section" in
    cv) sectionCv ;;
    big) sectionBig ;;
    lar) sectionLar ;;
    wide) sectionWide ;;
    *) echo "unknown section $section (cv, big, lar, wide)" >&2 && exit 2 ;;
  esac
done
echo "done $(date -u '+%T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
