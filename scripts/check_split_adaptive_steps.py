#!/usr/bin/python3
"""Checks the step F values and p-values of the adaptive LASSO over split levels against the
fits the run reports, on the sparse rows and on the dense rows (the test hook denseRoad).

For each step the run's estimates (DETAILS=STEPS) give the residuals on the rows, formed in
long double; the fall of the weighted SSE from the step before is summed as
w (r0 - r1)(r0 + r1), which keeps the digits of a small step, and
F = fall (n - p1) / (SSE1 (p1 - p0)), p = the F distribution's upper tail (scipy). The data are
those of tests/programs/split_sparse_roads_test.cpp's family: y = a third of the levels'
effects + 2 x1 + noise, every TINY-th row weighted 1e-9 (0: none), drawn here with numpy.
Prints, per road, the largest difference of the run's FValue and ProbF from the reference,
and the largest difference between the roads in every column of the tables.

Run: /usr/bin/python3 scripts/check_split_adaptive_steps.py QRX QRX_HOOKED LEVELS ROWS TINY [HOOKS]
HOOKS (say larCrossLimit=100000000, the kept cross products' road) go to both runs; the sparse
run then takes QRX_HOOKED too.
"""
import json
import os
import subprocess
import sys
import tempfile

import numpy as np
from scipy import stats

from check_path_step_f import tables


def write_data(path, levels, rows, tiny):
    rng = np.random.default_rng(45)
    effect = np.where(np.arange(levels) % 3 == 0, 2.0 * rng.standard_normal(levels), 0.0)
    lines = ["y,c,x1,x2,t"]
    for r in range(rows):
        c = r if r < levels else int(rng.integers(levels))
        x1, x2, e = rng.standard_normal(3)
        t = "1e-9" if tiny > 0 and r % tiny == 3 else "1"
        lines.append("%.10g,C%05d,%.10g,%.10g,%s" % (effect[c] + 2 * x1 + 0.7 * e, c + 1, x1, x2, t))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def run(binary, hooks, work, tag):
    env = dict(os.environ)
    if hooks:
        env["QRX_TEST_HOOKS"] = hooks
    out = os.path.join(work, tag + ".json")
    p = subprocess.run([binary, "--work", work, "--json", out, os.path.join(work, "p.qrx")],
                       env=env, capture_output=True, text=True)
    if p.returncode > 1:
        sys.exit(p.stdout + p.stderr)
    with open(out) as f:
        return tables(json.load(f), [])


def read_rows(path):
    y, level, x1, x2, w = [], [], [], [], []
    with open(path) as f:
        next(f)
        for line in f:
            a = line.rstrip("\n").split(",")
            y.append(float(a[0]))
            level.append(a[1])
            x1.append(float(a[2]))
            x2.append(float(a[3]))
            w.append(float(a[4]))
    ld = np.longdouble
    return (np.array(y, ld), np.array(level), np.array(x1, ld), np.array(x2, ld),
            np.array(w, ld))


def residuals(rows, estimates):
    y, level, x1, x2, _ = rows
    b = {e["Parameter"]: np.longdouble(e["Estimate"]) for e in estimates}
    fit = np.full(y.shape, b.get("Intercept", np.longdouble(0)))
    fit += b.get("x1", np.longdouble(0)) * x1 + b.get("x2", np.longdouble(0)) * x2
    fit += np.array([b.get("c_" + v, np.longdouble(0)) for v in level], np.longdouble)
    return y - fit


def reference_gaps(found, rows):
    """The largest differences of the run's FValue and ProbF from the reference."""
    steps = [t for name, t in found if name == "ParameterEstimates"][:-1]
    summary = next(t for name, t in found if name == "SelectionSummary")
    w, n = rows[4], len(rows[0])
    worst_f = worst_p = 0.0
    r0 = residuals(rows, steps[0])
    for i in range(1, len(summary)):
        r1 = residuals(rows, steps[i])
        fall = np.sum(w * (r0 - r1) * (r0 + r1))
        sse0, sse1 = np.sum(w * r0 * r0), np.sum(w * r1 * r1)
        p0, p1 = summary[i - 1]["nParmsIn"], summary[i]["nParmsIn"]
        r0 = r1
        if p1 <= p0:
            continue
        # The run takes a fall below 1.1e-14 of the SSE for none.
        F = 0.0 if fall < 1.110223024625157e-14 * sse0 else float(fall * (n - p1) / (sse1 * (p1 - p0)))
        prob = stats.f.sf(F, p1 - p0, n - p1)
        row = summary[i]
        worst_f = max(worst_f, abs(row["FValue"] - F) / max(1.0, abs(F)))
        worst_p = max(worst_p, abs(row["ProbF"] - prob))
    return worst_f, worst_p


def road_gaps(a, b):
    worst = {}
    for (name, ta), (_, tb) in zip(a, b):
        if name not in ("SelectionSummary", "ANOVA", "FitStatistics", "ParameterEstimates"):
            continue
        for ra, rb in zip(ta, tb):
            for k, va in ra.items():
                vb = rb[k]
                if isinstance(va, (int, float)) and isinstance(vb, (int, float)):
                    d = abs(va - vb) / max(1.0, abs(va))
                    key = name + "." + k
                    worst[key] = max(worst.get(key, 0.0), d)
    return worst


def main():
    qrx, hooked = sys.argv[1], sys.argv[2]
    levels, rows, tiny = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
    hooks = sys.argv[6] if len(sys.argv) > 6 else None
    work = tempfile.mkdtemp(prefix="splitsteps_")
    write_data(os.path.join(work, "d.csv"), levels, rows, tiny)
    weight = "  weight t;\n" if tiny > 0 else ""
    with open(os.path.join(work, "p.qrx"), "w") as f:
        f.write("proc varsifter data=d;\n  class c / split;\n%s  model y = c x1 x2 / "
                "selection=lasso(adaptive stop=none) details=steps;\n"
                "  performance buildsscp=incremental cpucount=1;\nrun;\n" % weight)
    data = read_rows(os.path.join(work, "d.csv"))
    sparse = run(hooked if hooks else qrx, hooks, work, "sparse")
    dense = run(hooked, "denseRoad=1" + ("," + hooks if hooks else ""), work, "dense")
    for tag, found in (("sparse", sparse), ("dense", dense)):
        f, p = reference_gaps(found, data)
        print("%s rows against the reference: FValue %.2g, ProbF %.2g" % (tag, f, p))
    gaps = road_gaps(sparse, dense)
    print("between the roads (relative above 1): " +
          ", ".join("%s %.2g" % (k, v) for k, v in sorted(gaps.items()) if v > 0))
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
