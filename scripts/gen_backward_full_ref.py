#!/usr/bin/python3
"""Reference least-squares fits of every model of tests/data/selection/backwardfull_design.csv.

The design: an intercept, two noise covariates z1 and z2 and the raw powers x, x^2, x^3, x^4
of x uniform on [2, 3] (200 rows), with y = 1e4 sin(3x) + 0.5 z1 + noise (0.3): the powers are
nearly dependent (variance inflations past 1e6 about the means, scaled condition 1.5e5) and
the error SS is some 1e-7 of the total, so that the error SS of the full model as the swept
sums give it loses digits that a fit from the rows keeps.

For every set of the six effects beside the intercept (64 sets) the error SS is the exact
least-squares minimum over the values as written (mpmath at 60 digits, normal equations
solved by LU: the condition squared costs some 20 of them), checked against numpy's SVD
least squares on the columns scaled to unit length; the rank is the number of singular
values above max(n, p) eps times the largest.

Writes tests/data/selection/backwardfull_design.csv (widths line, then y and every design
column of each row) and backwardfull_sets.csv (mask over z1 z2 p1 p2 p3 p4 as bits 1 2 4 8 16
32, rank, error SS). Run from the repository root: /usr/bin/python3
scripts/gen_backward_full_ref.py
"""
import os

import mpmath
import numpy as np

OUT = "tests/data/selection"
N = 200


def data():
    rng = np.random.default_rng(5)
    x = rng.uniform(2.0, 3.0, N)
    z1, z2 = rng.normal(size=N), rng.normal(size=N)
    y = 1e4 * np.sin(3 * x) + 0.5 * z1 + rng.normal(scale=0.3, size=N)
    return y, [z1, z2] + [x**k for k in range(1, 5)]


def exact_sse(y, X):
    mpmath.mp.dps = 60
    A = mpmath.matrix(X.tolist())
    v = mpmath.matrix(y.tolist())
    At = A.T
    b = mpmath.lu_solve(At * A, At * v)
    r = v - A * b
    return float(sum(e * e for e in r))


def fit(y, X):
    scale = np.sqrt((X * X).sum(axis=0))
    Z = X / scale
    beta, _, rank, _ = np.linalg.lstsq(Z, y, rcond=None)
    r = y - Z @ beta
    sse = exact_sse(y, X)
    assert abs(float(r @ r) - sse) <= 1e-6 * sse, (float(r @ r), sse)
    assert rank == X.shape[1]
    return int(rank), sse


def main():
    y, effects = data()
    one = np.ones(N)
    X = np.column_stack([one] + effects)
    with open(os.path.join(OUT, "backwardfull_design.csv"), "w") as f:
        f.write("widths,1,1,1,1,1,1,1\n")
        for i in range(N):
            f.write(",".join(repr(float(v)) for v in [y[i]] + list(X[i])) + "\n")
    with open(os.path.join(OUT, "backwardfull_sets.csv"), "w") as f:
        f.write("mask,rank,sse\n")
        for mask in range(64):
            cols = [one] + [effects[e] for e in range(6) if mask >> e & 1]
            rank, sse = fit(y, np.column_stack(cols))
            f.write("%d,%d,%.17g\n" % (mask, rank, sse))


if __name__ == "__main__":
    main()
