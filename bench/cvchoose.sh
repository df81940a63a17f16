#!/usr/bin/env bash
# Cross validation by folds and the least-angle path beside their peers, all in one run with
# the runs of each line interleaved, REPS times each (default 3), medians reported:
#  1. 100,000 x 200: LASSO over its whole path with CHOOSE=CV and FORWARD with SELECT=CV
#     (40 steps), 5 and 10 random folds, 1 and 8 threads, beside fread + cv.glmnet with the
#     same folds (bench/peer_cvex.R); whole runs, reading included.
#  2. 1,000,000 x 50: LASSO CHOOSE=CV against CHOOSE=CVEX, 5 folds, 1 and 8 threads.
#  3. The selection phase of a full LAR and LASSO path (the Timing table's Candidate
#     Evaluation and Selection: cross products and path) on 1,000,000 x 49 and 100,000 x 999,
#     1 thread, beside lars_path with its Gram matrix (bench/peer_larpath.py).
# Data sets are made by bench/gen/bigcsv.cpp under build/bench when missing (3 GB of disk).
# The load average before and after is printed. Needs r-cran-data.table, r-cran-glmnet,
# python3-sklearn and python3-pandas. Run from the repository root:
#   [REPS=n] [PARTS=123] bench/cvchoose.sh [QRX]     (default build/rel/app/qrx)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
qrx="${1:-build/rel/app/qrx}"
reps="${REPS:-3}"
out=build/bench
mkdir -p "$out"
[ -x "$out/gen_bigcsv" ] || c++ -O2 -std=c++20 -pthread bench/gen/bigcsv.cpp -o "$out/gen_bigcsv"
data() { # ROWS COLS: the file's path, made when missing
  local f="$out/cv${1}x${2}.csv"
  [ -f "$f" ] || "$out/gen_bigcsv" "$1" "$2" "$f" >/dev/null
  echo "$f"
}
secs() { # command... : the wall time in seconds
  /usr/bin/time -f "%e" -o "$out/cvchoose_time.txt" "$@" >/dev/null 2>&1
  cat "$out/cvchoose_time.txt"
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
program() { # NAME DATA MODEL CPUS: writes a program, prints its path
  local f="$out/cvchoose_$1.qrx"
  printf "libname b '%s';\nproc varsifter data=b.%s seed=7;\n  model %s;\n  performance %s;\nrun;\n" \
    "$out" "$(basename "$2" .csv)" "$3" "$4" >"$f"
  echo "$f"
}
selection() { # PROGRAM: the Timing table's selection seconds of one run
  "$qrx" --listing "$out/cvchoose.lst" "$1" >/dev/null 2>&1
  awk '/Candidate Evaluation and Selection/ {print $NF}' "$out/cvchoose.lst"
}
larpath() { # DATA METHOD: the peer's seconds of one run
  /usr/bin/python3 bench/peer_larpath.py "$1" "$2" 1 1 | awk '{print $(NF-3)}'
}
interleaved() { # COMMAND...: each prints seconds; run in turn REPS times, prints their medians
  local -a times=()
  local i j
  for ((i = 0; i < reps; ++i)); do
    for ((j = 1; j <= $#; ++j)); do
      times[j]+=" $(eval "${!j}")"
    done
  done
  for ((j = 1; j <= $#; ++j)); do
    # shellcheck disable=SC2086 # the times are words
    median ${times[j]}
  done | paste -sd' '
}
parts="${PARTS:-123}" # which of the parts above to run
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg); $reps runs each, medians in seconds"

[[ "$parts" == *1* ]] && for folds in 5 10; do
  d=$(data 100000 201)
  for cpus in 1 8; do
    perf=$([ "$cpus" = 1 ] && echo nothreads || echo "threads cpucount=$cpus")
    lasso=$(program "lasso$folds" "$d" \
      "y = x1-x200 / selection=lasso(choose=cv stop=none) cvmethod=random($folds)" "$perf")
    fwd=$(program "fwd$folds" "$d" \
      "y = x1-x200 / selection=forward(select=cv stop=none maxsteps=40) cvmethod=random($folds)" \
      "$perf")
    read -r ml mf mr <<<"$(interleaved "secs $qrx --listing /dev/null $lasso" \
      "secs $qrx --listing /dev/null $fwd" "secs Rscript bench/peer_cvex.R $d $folds $cpus")"
    echo "100000 x 200, $folds folds, $cpus thread(s): LASSO CHOOSE=CV $ml, FORWARD SELECT=CV" \
      "$mf, fread + cv.glmnet $mr; ratios $(ratio "$ml" "$mr"), $(ratio "$mf" "$mr")"
  done
done

[[ "$parts" == *2* ]] && for cpus in 1 8; do
  d=$(data 1000000 51)
  perf=$([ "$cpus" = 1 ] && echo nothreads || echo "threads cpucount=$cpus")
  cv=$(program cv1m "$d" "y = x1-x50 / selection=lasso(choose=cv stop=none) cvmethod=random(5)" \
    "$perf")
  ex=$(program cvex1m "$d" \
    "y = x1-x50 / selection=lasso(choose=cvex stop=none) cvmethod=random(5)" "$perf")
  read -r mc mx <<<"$(interleaved "secs $qrx --listing /dev/null $cv" \
    "secs $qrx --listing /dev/null $ex")"
  echo "1000000 x 50, 5 folds, $cpus thread(s): CHOOSE=CV $mc, CHOOSE=CVEX $mx," \
    "ratio $(ratio "$mc" "$mx")"
done

[[ "$parts" == *3* ]] && for size in "1000000 50" "100000 1000"; do
  set -- $size
  d=$(data "$1" "$2")
  last=$(($2 - 1))
  for method in lar lasso; do
    p=$(program "${method}$1" "$d" "y = x1-x$last / selection=$method(stop=none)" \
      "nothreads details")
    read -r mq ms <<<"$(interleaved "selection $p" "larpath $d $method")"
    echo "$method path $1 x $last, 1 thread: selection phase $mq, lars_path Gram $ms," \
      "ratio $(ratio "$mq" "$ms")"
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
