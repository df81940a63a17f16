#!/usr/bin/python3
"""Reference values for cross validation where a held-out row dominates a column's mean.

Writes tests/data/cvfolds/foldmeans.csv (50 rows: x in [0, 36] and one row at x = 45.8; the
columns p1..p3 = x, x^2, x^3 and t = (x - 33)_+^7, y a quadratic in x plus 1e-4 t and noise,
the fold index i mod 5) and tests/data/cvfolds/foldmeans_ref.csv. The model has an intercept,
so the pages are shifted by the means over all rows; t's mean is the far row's (5.6e7 / 50
against at most 3^7 = 2187 on the other rows), and the sums of the folds that leave that row
out lose their digits about it. Each fold's held-out error is that of the exact least-squares
refit without it (mpmath at 60 digits on the rows as written), for the model with every
column (the last step of FORWARD).
"""
import csv
import os

import mpmath as mp
import numpy as np

from gen_cv_far_fold_ref import fold_error

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "cvfolds")
COLS = ["p1", "p2", "p3", "t"]
K = 5


def columns(v):
    return [v, v * v, v ** 3, max(v - 33.0, 0.0) ** 7]


def data():
    rng = np.random.default_rng(3)
    x = np.round(rng.uniform(0.0, 36.0, 49), 3).tolist() + [45.8]
    y = [round(2 + 0.5 * v - 0.01 * v * v + 1e-4 * max(v - 33, 0) ** 7 + rng.standard_normal(), 6)
         for v in x]
    fold = [i % K for i in range(len(x))]
    return x, y, fold


def main():
    mp.mp.dps = 60
    x, y, fold = data()
    rows = [columns(v) for v in x]
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "foldmeans.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(COLS + ["y", "fold"])
        for r, v, k in zip(rows, y, fold):
            w.writerow([repr(float(c)) for c in r] + [repr(v), k])
    X = [[mp.mpf(1)] + [mp.mpf(c) for c in r] for r in rows]
    Y = [mp.mpf(v) for v in y]
    errors = [fold_error(X, Y, [k == f for k in fold]) for f in range(K)]
    with open(os.path.join(OUT, "foldmeans_ref.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["kind", "fold", "value"])
        w.writerow(["total", "", mp.nstr(sum(errors), 17)])
        for k, e in enumerate(errors):
            w.writerow(["fold", k, mp.nstr(e, 17)])


if __name__ == "__main__":
    main()
