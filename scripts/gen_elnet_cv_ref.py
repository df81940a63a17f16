#!/usr/bin/python3
"""Reference values of the elastic net's L2 search judged by cross validation.

Reads tests/data/cv/cvdata.csv (the diabetes data) with SPLIT(3) folds (row i in fold i mod 3).
Every path at L2 is the LASSO path (scikit-learn's lars_path) of the augmented data
[X; sqrt((n-1) L2) I], [y; 0] (gen_elnet_ref.trial), X standardised with the moments of the
rows the path is fitted on.

CHOOSE=CV: the path on all rows; at every knot the CV PRESS is the sum over the folds of the
held-out squared errors of a least-squares refit (intercept and the step's active effects) on
the rows outside the fold; a trial is judged by the smallest CV PRESS along its path.
CHOOSE=CVEX: per fold the path on the fold's training rows standardised with their own
moments; the folds' knots (path ratios) merge into one grid, and the curve is the mean over
the folds of the held-out mean squared error of the fold's coefficients interpolated at each
grid point (gen_cvex_ref.coef_at); a trial is judged by the curve's minimum.

The searches: grid L2LOW=0, L2HIGH=10, L2STEPS=4 and golden section L2LOW=0, L2HIGH=1,
L2STEPS=6. Writes tests/data/elnetcv/:
- <cv|cvex>_<grid|golden>.csv: one row per trial: trial, L2, L1 ratio, rank, value, steps
  (for CVEX the L1 ratio is the chosen grid value; rank and steps are 0);
- cv_final_grid.csv: the CV PRESS at every knot of the grid's chosen L2;
- cvex_final_grid.csv: the curve of the grid's chosen L2 interpolated at every knot of the
  path on all rows.
Run: /usr/bin/python3 scripts/gen_elnet_cv_ref.py
"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_cv_ref as cvref  # noqa: E402
import gen_cvex_ref as cvexref  # noqa: E402
import gen_elnet_ref as enref  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "elnetcv")
K = 3


def standardize(X, y, train):
    mean = X[train].mean(axis=0)
    sd = X[train].std(axis=0, ddof=1)
    return (X - mean) / sd, y - y[train].mean()


def cv_steps(X, y, folds, l2):
    """Per knot of the path at l2 on all rows: (ratio, rank, CV PRESS)."""
    Xs, yc = standardize(X, y, np.ones(len(y), dtype=bool))
    alphas, coefs = enref.trial(Xs, yc, l2)
    ones = np.ones(len(y))
    out, active = [], set()
    for t, c in enumerate(enref.ref.events(coefs)):
        # The knot where a coefficient reaches 0 is followed by the step that removes it.
        if c > 0:
            active.add(c - 1)
        elif c < 0:
            active.discard(-c - 1)
        cols = sorted(active)
        out.append((float(alphas[t] / alphas[0]), len(cols) + 1,
                    cvref.cv_press(X, y, ones, folds, cols)))
    return out


def cv_trial(X, y, folds, l2):
    steps = cv_steps(X, y, folds, l2)
    k = min(range(len(steps)), key=lambda i: (steps[i][2], i))
    return [l2, steps[k][0], steps[k][1], steps[k][2], k + 1]


def cvex_curve(X, y, folds, l2):
    """The merged ratio grid and the averaged held-out error on it."""
    fits = []
    for k in range(K):
        train, held = folds != k, folds == k
        Xs, yc = standardize(X, y, train)
        alphas, coefs = enref.trial(Xs[train], yc[train], l2)
        B = coefs.T
        fits.append((Xs, yc, held, alphas, B, np.abs(B).sum(axis=1)))
    grid = sorted({float(a / f[3][0]) for f in fits for a in f[3]}, reverse=True)
    curve = []
    for G in grid:
        s = 0.0
        for Xs, yc, held, lam, B, norms in fits:
            beta, _ = cvexref.coef_at(lam, B, norms, "ratio", G)
            s += cvexref.mse(Xs, yc, held, beta)
        curve.append(s / K)
    return np.array(grid), np.array(curve)


def cvex_trial(X, y, folds, l2):
    g, c = cvex_curve(X, y, folds, l2)
    j = int(np.argmin(c))  # the first of equal minima: the larger ratio
    return [l2, float(g[j]), 0, float(c[j]), 0]


def best_l2(rows):
    return min(rows, key=lambda r: r[3])[0]  # min keeps the first of equal values


def write(name, header, rows):
    with open(os.path.join(OUT, name + ".csv"), "w") as out:
        out.write(header + "\n")
        for i, r in enumerate(rows):
            out.write("%d,%s\n" % (i, ",".join(repr(float(v)) for v in r)))


def main():
    os.makedirs(OUT, exist_ok=True)
    X, y = cvexref.load()
    folds = np.arange(len(y)) % K
    head = "trial,l2,l1ratio,rank,value,steps"
    pts = enref.grid_points(0.0, 10.0, 4)
    for name, f in (("cv", cv_trial), ("cvex", cvex_trial)):
        trial = lambda l2, f=f: f(X, y, folds, l2)  # noqa: E731
        grid_rows = [trial(l2) for l2 in pts]
        write(name + "_grid", head, grid_rows)
        write(name + "_golden", head, enref.golden(trial, 0.0, 1.0, 6))
        chosen = best_l2(grid_rows)
        if name == "cv":
            write("cv_final_grid", "step,ratio,rank,cvpress", cv_steps(X, y, folds, chosen))
        else:
            g, c = cvex_curve(X, y, folds, chosen)
            Xs, yc = standardize(X, y, np.ones(len(y), dtype=bool))
            alphas, _ = enref.trial(Xs, yc, chosen)
            ratios = alphas / alphas[0]
            vals = [c[-1] if x <= g[-1] else c[0] if x >= g[0] else
                    np.interp(x, g[::-1], c[::-1]) for x in ratios]
            write("cvex_final_grid", "step,ratio,cvexpress", list(zip(ratios, vals)))


if __name__ == "__main__":
    main()
