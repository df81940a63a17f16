#!/usr/bin/env bash
# Model averaging's benchmark: 100 bootstrap samples of FORWARD (SBC, at most 20 steps) and of
# the LASSO on 100,000 x 50 rows (y and x1..x49 from bench/gen_csvread_data.py, written to
# build/bench/wide100k.csv when missing), each on 1 and on 8 CPUs, timed as whole qrx runs
# (wall time of the median of three). Each run is checked: return code 0 and the averaged
# model holds the ten effects the response depends on. Needs a Release qrx (built in
# build/benchrel); not part of the tests. Run from the repository root: bench/modelaverage.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
data=build/bench/wide100k.csv
mkdir -p build/bench
[ -f "$data" ] || /usr/bin/python3 bench/gen_csvread_data.py 100000 "$data"
build=build/benchrel
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQRX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j4 --target qrx >/dev/null
qrx="$build/app/qrx"
prog="$build/modelaverage.qrx"
for method in "forward(select=sbc maxsteps=20)" "lasso"; do
  for cpus in 1 8; do
    threads=$([ "$cpus" = 1 ] && echo "nothreads" || echo "threads cpucount=$cpus")
    cat >"$prog" <<QRX
libname b 'build/bench';
proc varsifter data=b.wide100k seed=24;
  performance $threads;
  model y = x1-x49 / selection=$method;
  modelaverage nsamples=100 tables=(effectselectpct(minpct=0));
run;
QRX
    times=()
    for rep in 1 2 3; do
      start=$(date +%s.%N)
      "$qrx" --json "$build/modelaverage.json" --listing /dev/null "$prog" >/dev/null 2>&1 || true
      end=$(date +%s.%N)
      times+=("$(echo "$end - $start" | bc)")
      /usr/bin/python3 - "$build/modelaverage.json" <<'PY'
import json, sys
run = json.load(open(sys.argv[1]))
assert run["returnCode"] == 0, run["returnCode"]
def tables(nodes):
    for n in nodes:
        if n["kind"] == "group":
            yield from tables(n["children"])
        elif n["kind"] == "table":
            yield n
pct = next(t for t in tables(run["steps"][0]["output"]) if t["name"] == "EffectSelectPct")
names = [c["name"] for c in pct["columns"]]
e, p = names.index("Effect"), names.index("SelectionPct")
got = {r[e]: r[p] for r in pct["rows"]}
assert all(got.get("x%d" % i, 0) >= 99 for i in range(1, 11)), got
PY
    done
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)
    echo "$method, $cpus CPU(s): median ${median}s of ${times[*]}"
  done
done
