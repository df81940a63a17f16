#!/usr/bin/python3
"""Reference values for leave-one-out cross validation on a close fit.

Writes tests/data/cvloo/loo.csv (4000 rows: X1-X3 about 100, Y a linear function of them
plus noise of standard deviation 2, so that each row's held-out error is small against the
sums it comes from) and tests/data/cvloo/loo_steps.csv: forward selection by CV PRESS with
one fold per row, every candidate's PRESS from the leverages (e_i / (1 - h_ii)), and the
PRESS of each chosen step from explicit numpy least-squares refits without each row.
"""
import csv
import os

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "cvloo")
N = 4000


def data():
    rng = np.random.default_rng(54)
    X = np.round(100.0 + 10.0 * rng.standard_normal((N, 3)), 4)
    y = 1000.0 + 50.0 * X[:, 0] + 20.0 * X[:, 1] + 5.0 * X[:, 2] + 2.0 * rng.standard_normal(N)
    return X, np.round(y, 4)


def design(X, cols):
    return np.column_stack([np.ones(len(X))] + [X[:, c] for c in cols])


def press_leverage(X, y, cols):
    A = design(X, cols)
    Q, _ = np.linalg.qr(A)
    h = np.sum(Q * Q, axis=1)
    e = y - A @ np.linalg.lstsq(A, y, rcond=None)[0]
    return float(np.sum((e / (1.0 - h)) ** 2))


def press_refits(X, y, cols):
    A = design(X, cols)
    total = 0.0
    keep = np.ones(len(y), dtype=bool)
    for i in range(len(y)):
        keep[i] = False
        b = np.linalg.lstsq(A[keep], y[keep], rcond=None)[0]
        keep[i] = True
        total += (y[i] - A[i] @ b) ** 2
    return total


def main():
    X, y = data()
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "loo.csv"), "w", newline="") as out:
        wr = csv.writer(out)
        wr.writerow(["X1", "X2", "X3", "Y"])
        for i in range(N):
            wr.writerow([repr(v) for v in X[i]] + [repr(y[i])])
    rows = [["step", "entered", "cvpress"], [0, "Intercept", repr(press_refits(X, y, []))]]
    chosen, left = [], [0, 1, 2]
    while left:
        best = min(left, key=lambda c: press_leverage(X, y, chosen + [c]))
        chosen.append(best)
        left.remove(best)
        rows.append([len(chosen), "X%d" % (best + 1), repr(press_refits(X, y, chosen))])
    with open(os.path.join(OUT, "loo_steps.csv"), "w", newline="") as out:
        csv.writer(out).writerows(rows)


if __name__ == "__main__":
    main()
