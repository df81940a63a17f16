#!/usr/bin/env bash
# FORWARD by SBC over raw polynomial and spline columns beside covariates, whose steps are
# nearly dependent (their inflation passes the refinement's bound), so that every candidate
# after such a step is tried by its own refined entry: qrx against an older qrx (OLD, e.g. a
# build of an earlier commit), run after run interleaved, on ROWS rows (default 5,000) of
# bench/gen_illforward_data.py (written to build/bench/ when missing, untimed). The designs
# (DESIGNS, default all):
#   polyxt   polynomial(x t / degree=8), z1-z8          (44 columns of one effect each)
#   poly12   polynomial(x / degree=12), t, z1-z8
#   spline12 spline(x / degree=12 knotmethod=equal(8) split), polynomial(t / degree=10), z1-z8
#   spline10 spline(x / degree=10 knotmethod=equal(6) split), z1-z8
# Each program repeats its step STEPS times (default 5), so that a run lasts long enough for
# its CPU seconds to count. Each configuration runs REPS times (default 3) on one thread; the
# table gives the medians of user CPU and wall seconds, the largest peak resident MB, the
# ratios new / old, and whether the two listings are the same byte for byte.
# Run from the repository root: [REPS=n] [ROWS=n] [DESIGNS=...] bench/illforward.sh QRX OLDQRX
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
old="$(realpath "${2:?the older qrx to compare with}")"
benchStart illforward "${1:-./qrx}"
reps="${REPS:-3}" rows="${ROWS:-5000}" steps="${STEPS:-5}"
data="ill$rows"
if [ ! -f "$dir/$data.csv" ]; then
  /usr/bin/python3 bench/gen_illforward_data.py "$rows" "$dir/$data.tmp"
  mv "$dir/$data.tmp" "$dir/$data.csv"
fi

# program DESIGN : writes the design's qrx program; prints its path.
program() {
  local effects model
  case "$1" in
    polyxt) effects="effect p = polynomial(x t / degree=8);" model="p z1-z8" ;;
    poly12) effects="effect p = polynomial(x / degree=12);" model="p t z1-z8" ;;
    spline12)
      effects="effect s = spline(x / degree=12 knotmethod=equal(8) split);
  effect p = polynomial(t / degree=10);" model="s p z1-z8"
      ;;
    spline10) effects="effect s = spline(x / degree=10 knotmethod=equal(6) split);" model="s z1-z8" ;;
    *) echo "unknown design $1" >&2 && exit 2 ;;
  esac
  {
    echo "libname b '$dir';"
    for ((i = 0; i < steps; ++i)); do
      printf "proc varsifter data=b.%s;\n  %s\n  model y = %s / selection=forward(select=sbc);\nrun;\n" \
        "$data" "$effects" "$model"
    done
  } >"$work/$1.qrx"
  echo "$work/$1.qrx"
}

echo "qrx: $qrx; older: $old; $rows rows, $steps steps a run, $reps runs each;" \
  "$(date -u '+%F %T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-9s %8s %8s %6s %8s %8s %6s %7s %7s  %s\n" design "old cpu" "new cpu" ratio \
  "old wall" "new wall" ratio "old MB" "new MB" listings
for design in ${DESIGNS:-polyxt poly12 spline12 spline10}; do
  prog="$(program "$design")"
  ou=() nu=() ow=() nw=() omb=0 nmb=0
  for ((i = 0; i < reps; ++i)); do
    for which in old new; do
      exe="$qrx"
      [ "$which" = new ] || exe="$old"
      capped "${LIMIT:-600}" "$work/$which.log" "$exe" -o CPUCOUNT=1 --listing \
        "$work/$design.$which.lst" "$prog"
      if [ "$which" = old ]; then
        ou+=("$ranUser") ow+=("$ranSecs")
        [ "$ranMb" = - ] || [ "$omb" -ge "$ranMb" ] || omb="$ranMb"
      else
        nu+=("$ranUser") nw+=("$ranSecs")
        [ "$ranMb" = - ] || [ "$nmb" -ge "$ranMb" ] || nmb="$ranMb"
      fi
    done
  done
  same=same
  cmp -s "$work/$design.old.lst" "$work/$design.new.lst" || same=differ
  mou="$(median "${ou[@]}")" mnu="$(median "${nu[@]}")"
  mow="$(median "${ow[@]}")" mnw="$(median "${nw[@]}")"
  printf "%-9s %8s %8s %6s %8s %8s %6s %7s %7s  %s\n" "$design" "$mou" "$mnu" \
    "$(ratio "$mnu" "$mou")" "$mow" "$mnw" "$(ratio "$mnw" "$mow")" "$omb" "$nmb" "$same"
done
echo "done $(date -u '+%T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
