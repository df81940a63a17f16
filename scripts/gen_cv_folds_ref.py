#!/usr/bin/python3
"""Reference values for cross validation by many small folds on a close fit.

The data (10,000 rows: X1-X3 about 100, Y a linear function of them plus noise of standard
deviation 12, so that each fold's held-out error is small against the sums over all rows) is
scripts/synthdata.py's cv_folds_csv, which the test makes at run time from the same recipe;
this writes tests/data/cvfolds/folds_ref.csv. The folds are those of
CVMETHOD=SPLIT(1000) (row i in fold i mod 1000). Forward selection by CV PRESS picks each
candidate by the folds' errors from the hat matrix, e_f = (I - H_ff)^-1 r_f; the values
written come from explicit numpy least-squares refits on the rows outside each fold: the
CV PRESS of each step (rows "step") and each fold's error in the last step (rows "fold").
"""
import csv
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "cvfolds")
N, K = 10000, 1000


def data():
    _, rows = synthdata.columns(synthdata.cv_folds_csv(N))
    values = np.array([[float(v) for v in row] for row in rows])
    return values[:, :3], values[:, 3]


def design(X, cols):
    return np.column_stack([np.ones(len(X))] + [X[:, c] for c in cols])


def press_hat(A, y, fold):
    Q, _ = np.linalg.qr(A)
    r = y - A @ np.linalg.lstsq(A, y, rcond=None)[0]
    total = 0.0
    for f in range(K):
        m = fold == f
        Qf = Q[m]
        e = np.linalg.solve(np.eye(int(m.sum())) - Qf @ Qf.T, r[m])
        total += float(e @ e)
    return total


def fold_refits(A, y, fold):
    errors = []
    for f in range(K):
        m = fold == f
        b = np.linalg.lstsq(A[~m], y[~m], rcond=None)[0]
        errors.append(float(np.sum((y[m] - A[m] @ b) ** 2)))
    return errors


def main():
    X, y = data()
    fold = np.arange(N) % K
    os.makedirs(OUT, exist_ok=True)
    rows = [["kind", "index", "name", "value"]]
    chosen, left = [], [0, 1, 2]
    errors = fold_refits(design(X, chosen), y, fold)
    rows.append(["step", 0, "Intercept", repr(sum(errors))])
    while left:
        best = min(left, key=lambda c: press_hat(design(X, chosen + [c]), y, fold))
        chosen.append(best)
        left.remove(best)
        errors = fold_refits(design(X, chosen), y, fold)
        rows.append(["step", len(chosen), "X%d" % (best + 1), repr(sum(errors))])
    rows += [["fold", f + 1, "", repr(e)] for f, e in enumerate(errors)]
    with open(os.path.join(OUT, "folds_ref.csv"), "w", newline="") as out:
        csv.writer(out).writerows(rows)


if __name__ == "__main__":
    main()
