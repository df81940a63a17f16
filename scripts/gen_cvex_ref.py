#!/usr/bin/python3
"""Reference values for external cross validation of the LASSO path.

Reads tests/data/cv/cvdata.csv (the diabetes data) and, for SPLIT(3) folds (row i in fold
i mod 3), fits scikit-learn's lars_path (method='lasso') on each fold's training rows,
standardised with that fold's own means and standard deviations (the response centred).
Writes tests/data/cvex/:
- records.csv: per fold and knot the path ratio, L1 norm, path value, the held-out mean
  squared error at the knot and the curvature of that error along the step ending there;
- curve_<choice>.csv (ratio, norm, value): the merged grid of all folds' knots and, at every
  grid point, the mean over folds of the held-out MSE of the fold's coefficients
  interpolated at that point (exact: the coefficients are linear in lambda on a step);
- final_<choice>.csv: the path on all rows and, at each of its knots, the curve
  interpolated linearly between the bracketing grid points.
"""
import csv
import os

import numpy as np
from sklearn.linear_model import lars_path

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "cvex")
NAMES = ["AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]
K = 3


def load():
    with open(os.path.join(ROOT, "tests", "data", "cv", "cvdata.csv")) as f:
        rows = list(csv.DictReader(f))
    X = np.array([[float(r[n]) for n in NAMES] for r in rows])
    y = np.array([float(r["Y"]) for r in rows])
    return X, y


def path(X, y, train):
    mean = X[train].mean(axis=0)
    sd = X[train].std(axis=0, ddof=1)
    Xs = (X - mean) / sd
    yc = y - y[train].mean()
    alphas, _, coefs = lars_path(Xs[train], yc[train], method="lasso", max_iter=500)
    lam = alphas * train.sum()  # the path's lambda: the largest |x'r|, not divided by n
    return Xs, yc, lam, coefs.T


def mse(Xs, yc, rows, beta):
    r = yc[rows] - Xs[rows] @ beta
    return float(np.mean(r * r))


def coef_at(lam, B, norms, choice, G):
    """The fold's coefficients at grid value G, and whether G lies past its last knot."""
    lmax = lam[0]
    if choice == "norm":
        if G <= norms[0]:
            return B[0], False
        for i in range(1, len(lam)):
            if G <= norms[i]:
                u = (G - norms[i - 1]) / (norms[i] - norms[i - 1])
                return B[i - 1] + u * (B[i] - B[i - 1]), False
        return B[-1], True
    lg = G * lmax if choice == "ratio" else G
    if lg >= lam[0]:
        return B[0], False
    for i in range(1, len(lam)):
        if lg >= lam[i]:
            u = (lam[i - 1] - lg) / (lam[i - 1] - lam[i])
            return B[i - 1] + u * (B[i] - B[i - 1]), False
    return B[-1], True


def main():
    os.makedirs(OUT, exist_ok=True)
    X, y = load()
    n = len(y)
    fold = np.arange(n) % K
    folds = []
    with open(os.path.join(OUT, "records.csv"), "w", newline="") as out:
        wr = csv.writer(out)
        wr.writerow(["fold", "step", "ratio", "l1norm", "value", "error", "curvature"])
        for k in range(K):
            train, held = fold != k, fold == k
            Xs, yc, lam, B = path(X, y, train)
            norms = np.abs(B).sum(axis=1)
            err = [mse(Xs, yc, held, b) for b in B]
            for i in range(len(lam)):
                q = 0.0
                if i > 0 and lam[i - 1] > lam[i]:
                    v = Xs[held] @ ((B[i] - B[i - 1]) / (lam[i - 1] - lam[i]))
                    q = float(np.mean(v * v))
                wr.writerow([k, i] + [repr(float(x)) for x in
                                      (lam[i] / lam[0], norms[i], lam[i], err[i], q)])
            folds.append((Xs, yc, held, lam, B, norms))
    for choice in ("ratio", "norm", "value"):
        knots = set()
        for (_, _, _, lam, B, norms) in folds:
            axis = {"ratio": lam / lam[0], "norm": norms, "value": lam}[choice]
            knots.update(float(v) for v in axis)
        grid = sorted(knots, reverse=(choice != "norm"))
        curve = []
        for G in grid:
            s = 0.0
            for (Xs, yc, held, lam, B, norms) in folds:
                beta, _ = coef_at(lam, B, norms, choice, G)
                s += mse(Xs, yc, held, beta)
            curve.append(s / K)
        with open(os.path.join(OUT, "curve_%s.csv" % choice), "w", newline="") as out:
            wr = csv.writer(out)
            wr.writerow(["grid", "curve"])
            for G, c in zip(grid, curve):
                wr.writerow([repr(G), repr(c)])
        # The final fit on every row, and the curve at its knots.
        allrows = np.ones(n, dtype=bool)
        Xs, yc, lam, B = path(X, y, allrows)
        norms = np.abs(B).sum(axis=1)
        g, c = np.array(grid), np.array(curve)
        with open(os.path.join(OUT, "final_%s.csv" % choice), "w", newline="") as out:
            wr = csv.writer(out)
            wr.writerow(["step", "cvexpress"])
            for i in range(len(lam)):
                x = {"ratio": lam[i] / lam[0], "norm": norms[i], "value": lam[i]}[choice]
                if choice == "norm":
                    val = c[-1] if x >= g[-1] else c[0] if x <= g[0] else np.interp(x, g, c)
                else:
                    val = c[-1] if x <= g[-1] else c[0] if x >= g[0] else \
                        np.interp(x, g[::-1], c[::-1])
                wr.writerow([i, repr(float(val))])


if __name__ == "__main__":
    main()
