#!/usr/bin/python3
"""Reference values of external cross validation with the group LASSO on the diabetes data
(examples/diabetes.csv, SEX as a group of two indicator columns), written to
tests/data/cvex/.

SPLIT(3) folds: row i is in fold i mod 3. For each fold k the training rows are the rows
outside it; their columns are centred and scaled by the training rows' means and standard
deviations (divisor n-1), the response centred by the training mean, and the group LASSO
path v = rho^t (t = 1..STEPS) is solved on the training rows by the block coordinate
descent of scripts/gen_grouplasso_ref.py. At step 0 (the intercept only) and at every step
the held-out error is the mean squared error of the held-out rows.
- group_records.csv: fold, step, penalty ratio, held-out error.
- group_curve.csv: step, the mean over folds of the held-out errors, and 1 at the first
  smallest mean (the chosen step), else 0.
"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_grouplasso_ref import ROOT, load, solve_groups  # noqa: E402

OUT = os.path.join(ROOT, "tests", "data", "cvex")
RHO, STEPS, K = 0.7, 20, 3


def design():
    col, y = load()
    sex = col("SEX")
    raw = np.column_stack([col("AGE"), (sex == 1) * 1.0, (sex == 2) * 1.0] +
                          [col(k) for k in ["BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]])
    groups = [[0], [1, 2]] + [[j] for j in range(3, 11)]
    return raw, y, groups


def fold_errors(raw, y, groups, train, held):
    mean = raw[train].mean(axis=0)
    sd = raw[train].std(axis=0, ddof=1)
    Xs = (raw - mean) / sd
    yc = y - y[train].mean()
    X, yt = Xs[train], yc[train]
    lmax = max(np.linalg.norm(X[:, g].T @ yt) / np.sqrt(len(g)) for g in groups)
    b = np.zeros(raw.shape[1])
    rows = [(1.0, float(np.mean(yc[held] ** 2)))]
    v = 1.0
    for _ in range(STEPS):
        v *= RHO
        b = solve_groups(X, yt, groups, v * lmax, b)
        r = yc[held] - Xs[held] @ b
        rows.append((v, float(np.mean(r * r))))
    return rows


def main():
    raw, y, groups = design()
    fold = np.arange(len(y)) % K
    per_fold = [fold_errors(raw, y, groups, fold != k, fold == k) for k in range(K)]
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "group_records.csv"), "w") as f:
        f.write("fold,step,ratio,error\n")
        for k, rows in enumerate(per_fold):
            for s, (v, e) in enumerate(rows):
                f.write("%d,%d,%r,%r\n" % (k, s, v, e))
    curve = np.mean([[e for _, e in rows] for rows in per_fold], axis=0)
    best = int(np.argmin(curve))
    with open(os.path.join(OUT, "group_curve.csv"), "w") as f:
        f.write("step,error,chosen\n")
        for s, c in enumerate(curve):
            f.write("%d,%r,%d\n" % (s, float(c), int(s == best)))


if __name__ == "__main__":
    main()
