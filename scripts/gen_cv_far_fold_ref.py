#!/usr/bin/python3
"""Reference values for cross validation where one fold's held-out row lies far out on power
columns.

Writes tests/data/cvfolds/farfold.csv (41 rows: x in [-1, 1] and one row at x = 8, the columns
one, p1..p5 = x^0..x^5, y a cubic in x plus noise, the fold index i mod 4) and
tests/data/cvfolds/farfold_ref.csv. The far row dominates the sums over all rows of the high
powers (8^10 against about 4 for the other rows of p5), so the sums outside its fold must come
from the other folds' rows, not from the total less its own. The model has no intercept (the
columns carry it), so that the sums are not shifted. Each fold's held-out error is that of the
exact least-squares refit without it (mpmath at 60 digits on the rows as written), for the
model with every column (the last step of FORWARD).
"""
import csv
import os

import mpmath as mp
import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "cvfolds")
COLS = ["one", "p1", "p2", "p3", "p4", "p5"]
K = 4


def data():
    rng = np.random.default_rng(11)
    x = np.round(rng.uniform(-1.0, 1.0, 40), 4).tolist() + [8.0]
    y = [round(1.0 + v - 0.5 * v * v + 0.2 * v ** 3 + 0.1 * rng.standard_normal(), 6) for v in x]
    fold = [i % K for i in range(len(x))]
    return x, y, fold


def fold_error(X, y, out):
    tr = [i for i in range(len(y)) if not out[i]]
    A = mp.matrix([X[i] for i in tr])
    b = mp.matrix([y[i] for i in tr])
    beta = mp.lu_solve(A.T * A, A.T * b)
    e = mp.mpf(0)
    for i in range(len(y)):
        if out[i]:
            r = y[i] - sum(X[i][j] * beta[j] for j in range(len(X[i])))
            e += r * r
    return e


def main():
    mp.mp.dps = 60
    x, y, fold = data()
    rows = [[v ** p for p in range(len(COLS))] for v in x]
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "farfold.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(COLS + ["y", "fold"])
        for r, v, k in zip(rows, y, fold):
            w.writerow([repr(float(c)) for c in r] + [repr(v), k])
    X = [[mp.mpf(c) for c in r] for r in rows]
    Y = [mp.mpf(v) for v in y]
    errors = [fold_error(X, Y, [k == f for k in fold]) for f in range(K)]
    with open(os.path.join(OUT, "farfold_ref.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["kind", "fold", "value"])
        w.writerow(["total", "", mp.nstr(sum(errors), 17)])
        for k, e in enumerate(errors):
            w.writerow(["fold", k, mp.nstr(e, 17)])


if __name__ == "__main__":
    main()
