#!/usr/bin/env bash
# qrx beside an older qrx (OLDQRX, e.g. a build of an earlier commit) on the same programs,
# run after run interleaved (old, new, old, new, ...), so that a loaded machine disturbs both
# alike. Each program runs REPS times (default 3) on THREADS threads (default 1) with
# MEMSIZE=MEMCAP GB (benchlib.sh); the table gives the medians of user CPU and wall seconds,
# the largest peak resident MB, the ratios new / old, and whether the two listings are the
# same byte for byte. The many-level roads' programs come from
# PROGRAMS_ONLY=1 ROADS=... LEVELS=... bench/manylevels_roads.sh (build/bench/roads/ROAD.qrx).
# Run from the repository root: [REPS=n] bench/sidebyside.sh QRX OLDQRX PROGRAM...
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source bench/benchlib.sh
qrx="$(realpath "${1:?the qrx to time}")"
old="$(realpath "${2:?the older qrx to compare with}")"
shift 2
work=build/bench/sidebyside
mkdir -p "$work"
reps="${REPS:-3}"
echo "qrx: $qrx; older: $old; $reps runs each on ${THREADS:-1} thread(s);" \
  "$(date -u '+%F %T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-12s %8s %8s %6s %8s %8s %6s %7s %7s  %s\n" program "old cpu" "new cpu" ratio \
  "old wall" "new wall" ratio "old MB" "new MB" listings
for prog in "$@"; do
  name="$(basename "$prog" .qrx)"
  declare -A user=() wall=() mb=([old]=0 [new]=0)
  for ((i = 0; i < reps; ++i)); do
    for which in old new; do
      exe="$qrx"
      [ "$which" = new ] || exe="$old"
      guardedQrx "${LIMIT:-600}" "$work/$which.log" "$work/util.$$" "$exe" \
        -o CPUCOUNT="${THREADS:-1}" -o MEMSIZE="${memcapGb}G" --listing \
        "$work/$name.$which.lst" "$prog"
      user[$which]+=" $ranUser" wall[$which]+=" $ranSecs"
      [ "$ranMb" = - ] || [ "${mb[$which]}" -ge "$ranMb" ] || mb[$which]="$ranMb"
    done
  done
  read -ra t <<<"${user[old]}"
  ou="$(median "${t[@]}")"
  read -ra t <<<"${user[new]}"
  nu="$(median "${t[@]}")"
  read -ra t <<<"${wall[old]}"
  ow="$(median "${t[@]}")"
  read -ra t <<<"${wall[new]}"
  nw="$(median "${t[@]}")"
  same=same
  cmp -s "$work/$name.old.lst" "$work/$name.new.lst" || same=differ
  printf "%-12s %8s %8s %6s %8s %8s %6s %7s %7s  %s\n" "$name" "$ou" "$nu" "$(ratio "$nu" "$ou")" \
    "$ow" "$nw" "$(ratio "$nw" "$ow")" "${mb[old]}" "${mb[new]}" "$same"
  unset user wall mb
done
echo "done $(date -u '+%T') UTC; load:$(cut -d' ' -f1-3 /proc/loadavg)"
