#!/usr/bin/python3
"""Reference least-squares fits of every model of tests/data/selection/splinetrial_design.csv.

The design: an intercept, three covariates x1, x2, x3 and s, the B-spline basis of degree 6
of a variable x with 18 equally spaced interior knots (25 columns, scipy's BSpline on the
knots lo + k (hi - lo) / 19 for k from -6 to 25: the boundary knots continue the spacing past
the data), on 212 rows. The basis sums to 1, so that with the intercept one of its columns is
dependent; the columns whose knots lie mostly past the data take tiny values on it, so that
the basis beside the intercept is nearly dependent as well (variance inflations of 1e7 and
more): where a fit
sweeps its columns in, its error SS from the swept sums loses digits that the rows give back.

For every set of the effects x1, x2, x3 and s beside the intercept (16 sets), the error SS is
numpy's least squares (SVD) on the columns scaled to unit length, checked against Householder
QR (scipy, column pivoting) of the same columns, and the rank is the number of singular values
above max(n, p) eps times the largest; SBC = n log(SSE / n) + rank log(n).

Writes tests/data/selection/splinetrial_design.csv (widths line, then y and every design
column of each row) and splinetrial_sets.csv (mask over x1 x2 x3 s as bits 1 2 4 8, rank,
error SS, SBC). Run from the repository root: /usr/bin/python3 scripts/gen_trial_entry_ref.py
"""
import math
import os

import numpy as np
from scipy.interpolate import BSpline
from scipy.linalg import qr

OUT = "tests/data/selection"
N, DEGREE, KNOTS = 212, 6, 18


def data():
    rng = np.random.default_rng(20261210)
    x = rng.uniform(0.0, 10.0, N)
    x1, x2, x3 = rng.normal(size=N), rng.normal(size=N), rng.normal(size=N)
    y = np.sin(x) + 0.5 * x1 + 0.3 * x2 + rng.normal(scale=0.5, size=N)
    lo, hi = x.min(), x.max()
    h = (hi - lo) / (KNOTS + 1)
    t = np.array([lo + k * h for k in range(-DEGREE, KNOTS + 2 + DEGREE)])
    s = BSpline.design_matrix(x, t, DEGREE).toarray()
    return y, [x1[:, None], x2[:, None], x3[:, None], s]


def fit(y, X):
    scale = np.sqrt((X * X).sum(axis=0))
    Z = X / scale
    beta, _, rank, sv = np.linalg.lstsq(Z, y, rcond=None)
    r = y - Z @ beta
    sse = float(r @ r)
    # The same fit by Householder QR with column pivoting over the first `rank` pivots.
    q, rr, piv = qr(Z, mode="economic", pivoting=True)
    qy = q[:, :rank].T @ y
    sse_qr = float(y @ y - qy @ qy)
    assert abs(sse - sse_qr) <= 1e-9 * sse, (sse, sse_qr)
    return int(rank), sse


def main():
    y, effects = data()
    one = np.ones((N, 1))
    with open(os.path.join(OUT, "splinetrial_design.csv"), "w") as f:
        f.write("widths,1,1,1,1,%d\n" % effects[3].shape[1])
        X = np.hstack([one] + effects)
        for i in range(N):
            f.write(",".join(repr(float(v)) for v in [y[i]] + list(X[i])) + "\n")
    with open(os.path.join(OUT, "splinetrial_sets.csv"), "w") as f:
        f.write("mask,rank,sse,sbc\n")
        for mask in range(16):
            cols = [one] + [effects[e] for e in range(4) if mask >> e & 1]
            rank, sse = fit(y, np.hstack(cols))
            sbc = N * math.log(sse / N) + rank * math.log(N)
            f.write("%d,%d,%.17g,%.17g\n" % (mask, rank, sse, sbc))


if __name__ == "__main__":
    main()
