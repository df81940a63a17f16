#!/usr/bin/python3
"""CV PRESS by exact weighted refits for a response far from zero with a small spread.

Writes tests/data/farresponse/farweight.csv: two groups g of 32 rows, x1-x4 small normal
doubles, a weight w in [0.5, 2], y = level + 0.8 x1 + noise of sd 0.45 with the level
1805482877 in group 1 and 410000000 in group 2 (a double's spacing there is 2.4e-7 and 6e-8,
against held-out errors near 0.3), and a fold index (1-4, drawn). Every number is written as
the shortest text of its double, so the rows read back as the doubles used here.

And tests/data/farresponse/farweight_ref.csv: for each group, each fold rule (split: row i of
the group in fold i mod 4; block: four runs of consecutive rows; index: by the fold column)
and each subset of x1-x4, the sum over the folds of w (y - yhat)^2 over the fold's rows, where
yhat is the weighted least-squares refit with an intercept on the group's other rows (mpmath
at 50 digits on the doubles as written).
Run from the repository root: /usr/bin/python3 scripts/gen_cv_far_weight_ref.py"""
import csv
import itertools
import os

import mpmath as mp
import numpy as np

OUT = os.path.join("tests", "data", "farresponse")
COLS = ["x1", "x2", "x3", "x4"]
ROWS, K = 32, 4
LEVELS = {1: 1805482877.0, 2: 410000000.0}


def data():
    rng = np.random.default_rng(1009957)
    rows = []
    for g, level in LEVELS.items():
        x = rng.normal(scale=0.2, size=(ROWS, len(COLS)))
        w = rng.uniform(0.5, 2.0, ROWS)
        y = level + 0.8 * x[:, 0] + 0.45 * rng.standard_normal(ROWS)
        fold = rng.integers(1, K + 1, ROWS)
        rows += [[g, *map(float, xi), float(yi), float(wi), int(fi)]
                 for xi, yi, wi, fi in zip(x, y, w, fold)]
    return rows


def folds(rule, rows):
    n = len(rows)
    if rule == "split":
        return [i % K for i in range(n)]
    if rule == "block":
        q, r = divmod(n, K)
        return [k for k in range(K) for _ in range(q + 1 if k < r else q)]
    return [r[-1] for r in rows]


def cv_press(X, y, w, fold):
    total = mp.mpf(0)
    for k in sorted(set(fold)):
        tr = [i for i in range(len(y)) if fold[i] != k]
        p = len(X[0])
        A = mp.matrix([[mp.fsum(w[i] * X[i][a] * X[i][b] for i in tr) for b in range(p)]
                       for a in range(p)])
        c = mp.matrix([mp.fsum(w[i] * X[i][a] * y[i] for i in tr) for a in range(p)])
        beta = mp.lu_solve(A, c)
        for i in range(len(y)):
            if fold[i] == k:
                r = y[i] - mp.fsum(X[i][a] * beta[a] for a in range(p))
                total += w[i] * r * r
    return total


def main():
    mp.mp.dps = 50
    rows = data()
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "farweight.csv"), "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["g"] + COLS + ["y", "w", "fold"])
        out.writerows([r[0]] + [repr(v) for v in r[1:-1]] + [r[-1]] for r in rows)
    ref = [["group", "folds", "columns", "cvpress"]]
    for g in LEVELS:
        grp = [r for r in rows if r[0] == g]
        y = [mp.mpf(r[5]) for r in grp]
        w = [mp.mpf(r[6]) for r in grp]
        for rule in ("split", "block", "index"):
            fold = folds(rule, grp)
            for k in range(len(COLS) + 1):
                for subset in itertools.combinations(range(len(COLS)), k):
                    X = [[mp.mpf(1)] + [mp.mpf(r[1 + j]) for j in subset] for r in grp]
                    press = cv_press(X, y, w, fold)
                    names = " ".join(COLS[j] for j in subset)
                    ref.append([g, rule, names, mp.nstr(press, 17, strip_zeros=False)])
    with open(os.path.join(OUT, "farweight_ref.csv"), "w", newline="") as f:
        csv.writer(f, lineterminator="\n").writerows(ref)


if __name__ == "__main__":
    main()
