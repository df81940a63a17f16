# shellcheck shell=bash disable=SC2034
# Shell pieces shared by the benchmark scripts that time qrx beside its peers: a run under a
# wall-time limit and an address-space cap (prlimit --as, so that no run can take the
# machine's memory), the median of a list of times, a ratio, and what a qrx listing says.
# Source it after cd'ing to the repository root; MEMCAP (GB, default 8) sets the memory cap,
# DISKCAP (GB, default 4) the largest file a run may write.

memcapGb="${MEMCAP:-8}"
diskcapGb="${DISKCAP:-4}"

# benchStart NAME QRX : the qrx under test (its absolute path) and the script's work folder
# build/bench/NAME, made. Sets qrx, dir (build/bench) and work.
benchStart() {
  qrx="$(realpath "$2")"
  dir=build/bench
  work="$dir/$1"
  mkdir -p "$work"
}

# capped LIMIT LOG command... : runs the command (standard output and error into LOG), killed
# with its whole process group after LIMIT seconds, unable to map more than MEMCAP GB or to
# write a file beyond DISKCAP GB. Sets ranSecs (wall seconds), ranUser (user CPU seconds,
# which a loaded machine disturbs less), ranCpu (user and system CPU seconds) and ranMb (peak
# resident MB);
# on a failure ranSecs is ">LIMIT" (killed by the limit), "disk" (a file passed the cap) or
# "failed" (a non-zero status, see LOG; status 1, qrx's "ended with warnings", passes when
# warningsPass=1) and ranMb is "-".
capped() {
  local limit="$1" log="$2" rc=0
  shift 2
  rm -f "$log.time"
  timeout -k 10 "$limit" /usr/bin/time -f "%e %M %U %S" -o "$log.time" \
    prlimit --as=$((memcapGb * 1073741824)) --fsize=$((diskcapGb * 1073741824)) --core=0 \
    "$@" >"$log" 2>&1 || rc=$?
  ranMb="-" ranUser="-" ranCpu="-"
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    ranSecs=">$limit"
  elif [ "$rc" = 153 ]; then # SIGXFSZ: a file would have passed DISKCAP
    ranSecs="disk"
  elif [ "$rc" != 0 ] && { [ "$rc" != 1 ] || [ "${warningsPass:-0}" != 1 ]; }; then
    ranSecs="failed"
  else
    local sys
    read -r ranSecs kb ranUser sys < <(tail -n 1 "$log.time")
    ranMb=$((kb / 1024))
    ranCpu=$(awk -v u="$ranUser" -v s="$sys" 'BEGIN {printf "%.2f", u + s}')
  fi
}

# median VALUE... : the median of numbers; any value that is not a number (a failed or
# killed run) is the answer instead, so a failure is never hidden by a median.
median() {
  local v
  for v in "$@"; do
    [[ "$v" =~ ^[0-9.]+$ ]] || {
      echo "$v"
      return
    }
  done
  printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

# ratio A B : A / B to two decimals, or "-" when either is not a number.
ratio() {
  if [[ "$1" =~ ^[0-9.]+$ ]] && [[ "$2" =~ ^[0-9.]+$ ]]; then
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'
  else
    echo "-"
  fi
}

# selectedEffects LISTING : the effects of the selected model, as the listing names them.
selectedEffects() { sed -n 's/^Effects: *//p' "$1" | tail -n 1; }

# hasEffects LISTING NAME... : whether the selected model holds every named effect; a miss
# is reported on standard error with the listing's name.
hasEffects() {
  local listing="$1" chosen name
  shift
  chosen=" $(selectedEffects "$listing") "
  for name in "$@"; do
    if [[ "$chosen" != *" $name "* ]]; then
      echo "CHECK FAILED: $name is not in the selected model of $listing" >&2
      return 1
    fi
  done
}

# selectionSecs LISTING : the selection phase's seconds in the Timing table of a run made
# with PERFORMANCE DETAILS ("-" when the table is missing).
selectionSecs() {
  awk '/^Candidate Evaluation and Selection/ {s = $NF} END {print (s == "" ? "-" : s)}' "$1"
}

# guardedQrx LIMIT LOG UTILDIR QRX ARG... : capped for a qrx run (warnings pass) whose utility
# files go to UTILDIR, which a watcher keeps under DISKCAP GB in all, since the per-file cap
# alone would let many files fill the disk: past it the run is killed and ranSecs is "disk".
# UTILDIR is removed afterwards.
guardedQrx() {
  local limit="$1" log="$2" util="$3" qrx="$4" watcher
  shift 4
  mkdir -p "$util"
  rm -f "$log.pid" "$log.disk"
  (
    while sleep 1; do
      [ -s "$log.pid" ] || continue
      if [ "$(du -sm "$util" 2>/dev/null | cut -f1)" -gt $((diskcapGb * 1024)) ]; then
        echo "the utility files passed ${diskcapGb} GB: run killed" >"$log.disk"
        kill -9 "$(cat "$log.pid")" 2>/dev/null || true
        break
      fi
    done
  ) &
  watcher=$!
  # shellcheck disable=SC2016 # $0 and $@ belong to the inner shell
  warningsPass=1 capped "$limit" "$log" bash -c 'echo $$ >"$0" && exec "$@"' "$log.pid" \
    "$qrx" -o UTILPATH="$util" "$@"
  kill "$watcher" 2>/dev/null || true
  wait "$watcher" 2>/dev/null || true
  rm -rf "${util:?}"
  [ ! -s "$log.disk" ] || ranSecs=disk ranMb=-
}

# sameListing A B : whether two qrx listings agree but for the lines that name the threads and
# the timings (prints the first difference otherwise).
sameListing() {
  local drop='^(Setup and Parsing|Reading Data|Levelization|Candidate Evaluation|Results and Displays|Cleanup|Other|Total) |Thread'
  diff <(grep -Ev "$drop" "$1") <(grep -Ev "$drop" "$2") | head -n 4
  [ "${PIPESTATUS[0]}" = 0 ]
}
