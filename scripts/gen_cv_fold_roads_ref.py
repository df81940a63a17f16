#!/usr/bin/python3
"""CV PRESS of FORWARD's steps by exact refits where a held-out row dominates a column's mean,
on a design with a CLASS effect.

Writes DIR/foldroads.csv (g a CLASS variable of --levels levels, 10 by default, five rows
each, one in each fold; x in [0, 36] and the last row at x = 45.8; the columns x1..x3 = x,
x^2, x^3 and t = (x - 33)_+^7; y a quadratic in x plus 1e-4 t, a level effect and noise; the
fold index i mod 5) and DIR/foldroads_ref.csv: for the models that enter x1, x3, x2, g, t in
turn (FORWARD's order there), the sum over the folds of the held-out squared errors of the exact least-squares refit
without the fold (mpmath at 50 digits on the rows as written). With g in the model the refit
is taken within its levels: the training rows' level means are taken off the response and
the other columns, the slopes are those of the rest, and a held-out row's fit is its level's
training mean plus the slopes times its columns less theirs. t's mean over all rows is the
far row's, and the sums of the folds that leave that row out lose their digits about it.

With --compare JSON it prints each step's relative difference of a run's CV PRESS (qrx
--json) from the reference for the run's order of entry instead; 150 levels take the many-level road under
PERFORMANCE BUILDSSCP=FULL.
"""
import argparse
import csv
import json
import os

import mpmath as mp
import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LEVELS, K = 10, 5
# The order in which FORWARD enters the effects on the default data.
ORDER = ["x1", "x3", "x2", "g", "t"]


def data(levels):
    rng = np.random.default_rng(5)
    n = levels * K
    x = np.round(rng.uniform(0.0, 36.0, n - 1), 3).tolist() + [45.8]
    effect = rng.standard_normal(levels)
    rows = []
    for i, v in enumerate(x):
        t = max(v - 33.0, 0.0) ** 7
        y = round(2 + 0.5 * v - 0.01 * v * v + 1e-4 * t + effect[i // K] + rng.standard_normal(), 6)
        rows.append({"g": i // K, "x1": v, "x2": v * v, "x3": v ** 3, "t": t, "y": y, "fold": i % K})
    return rows


def solve(A, b):
    return mp.lu_solve(A, b) if A.rows > 0 else mp.matrix(0, 1)


def fold_error(rows, cols, by_level, out):
    """Held-out squared error of the refit without fold `out` on columns `cols` (with an
    intercept, or within the levels of g)."""
    train = [r for r in rows if r["fold"] != out]
    X = [[mp.mpf(r[c]) for c in cols] for r in train]
    y = [mp.mpf(r["y"]) for r in train]
    keys = [r["g"] if by_level else 0 for r in train]
    means = {}
    for k, xr, yr in zip(keys, X, y):
        s = means.setdefault(k, [0, [mp.mpf(0)] * len(cols), mp.mpf(0)])
        s[0] += 1
        s[1] = [a + b for a, b in zip(s[1], xr)]
        s[2] += yr
    means = {k: ([a / s[0] for a in s[1]], s[2] / s[0]) for k, s in means.items()}
    p = len(cols)
    A, b = mp.zeros(p, p), mp.zeros(p, 1)
    for k, xr, yr in zip(keys, X, y):
        mx, my = means[k]
        d = [a - m for a, m in zip(xr, mx)]
        for i in range(p):
            b[i] += d[i] * (yr - my)
            for j in range(p):
                A[i, j] += d[i] * d[j]
    beta = solve(A, b)
    e = mp.mpf(0)
    for r in rows:
        if r["fold"] == out:
            mx, my = means[r["g"] if by_level else 0]
            fit = my + sum(beta[i] * (mp.mpf(r[c]) - mx[i]) for i, c in enumerate(cols))
            e += (mp.mpf(r["y"]) - fit) ** 2
    return e


def references(rows, order):
    out = [sum(fold_error(rows, [], False, f) for f in range(K))]
    for s in range(1, len(order) + 1):
        model = order[:s]
        cols = [c for c in model if c != "g"]
        out.append(sum(fold_error(rows, cols, "g" in model, f) for f in range(K)))
    return out


def run_press(path):
    def find(x):
        if isinstance(x, dict):
            if x.get("name") == "SelectionSummary" and "rows" in x:
                return x
            x = list(x.values())
        if isinstance(x, list):
            for v in x:
                t = find(v)
                if t:
                    return t
        return None

    with open(path) as f:
        table = find(json.load(f)["steps"][0]["output"])
    return [(r[2], r[17]) for r in table["rows"]]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dir", default=os.path.join(ROOT, "tests", "data", "cvfolds"))
    ap.add_argument("--compare")
    ap.add_argument("--levels", type=int, default=LEVELS)
    a = ap.parse_args()
    mp.mp.dps = 50
    rows = data(a.levels)
    if a.compare:
        run = run_press(a.compare)
        ref = references(rows, [effect for effect, _ in run[1:]])
        for (effect, press), want in zip(run, ref):
            print(f"{effect:10s} {press:.17g} {mp.nstr(want, 17)} rel {float(abs(press - want) / want):.3g}")
        return
    ref = references(rows, ORDER)
    os.makedirs(a.dir, exist_ok=True)
    with open(os.path.join(a.dir, "foldroads.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["g", "x1", "x2", "x3", "t", "y", "fold"])
        for r in rows:
            w.writerow([r["g"]] + [repr(float(r[c])) for c in ("x1", "x2", "x3", "t")] + [repr(r["y"]), r["fold"]])
    with open(os.path.join(a.dir, "foldroads_ref.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["step", "effect", "cvpress"])
        for s, v in enumerate(ref):
            w.writerow([s, (["Intercept"] + ORDER)[s], mp.nstr(v, 17)])


if __name__ == "__main__":
    main()
