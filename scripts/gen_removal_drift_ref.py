#!/usr/bin/python3
"""Writes tests/data/removaldrift/steps.csv: numpy's weighted least-squares fit of every step
of BACKWARD on synthdata's removal-drift rows (scripts/synthdata.py removal_drift_csv) with
s = SPLINE(x1 / DEGREE=8): step 0 takes y on the intercept, x1, x2, the 100 levels of g and s;
step 1 drops g; step 2 drops s. The spline's default knots are three, equally spaced inside the
range of x1, so its columns span the piecewise polynomials of degree 8 joined there, which
scipy's B-splines on those knots span too (with the intercept and x1). For each step: the
error SS (the same for any basis of that space and any coding of g), and for step 2 x1's
standard error (in steps 0 and 1 it depends on the spline's basis, x1 lying in its span).
y is taken less 100000 (exactly), which no fit with an intercept sees. Run from the
repository root: /usr/bin/python3 scripts/gen_removal_drift_ref.py"""
import os
import sys

import numpy as np
from scipy.interpolate import BSpline

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402

OUT = "tests/data/removaldrift"
DEGREE = 8


def fit(X, y, w):
    """The error SS and the standard errors of a weighted least-squares fit by QR."""
    sw = np.sqrt(w)
    A = X * sw[:, None]
    scale = np.sqrt((A * A).sum(axis=0))
    Q, R = np.linalg.qr(A / scale)
    beta = np.linalg.solve(R, Q.T @ (y * sw)) / scale
    resid = (y - X @ beta) * sw
    sse = float(resid @ resid)
    Rinv = np.linalg.solve(R, np.eye(R.shape[0]))
    var = (Rinv * Rinv).sum(axis=1) / scale**2 * sse / (len(y) - X.shape[1])
    return sse, np.sqrt(var)


def spline(x):
    """The B-spline basis of degree 8 on three equally spaced inner knots over x's range."""
    lo, hi = x.min(), x.max()
    inner = [lo + k * (hi - lo) / 4 for k in (1, 2, 3)]
    knots = np.array([lo] * (DEGREE + 1) + inner + [hi] * (DEGREE + 1))
    return BSpline.design_matrix(np.clip(x, lo, hi), knots, DEGREE).toarray()


def main():
    rows = [line.split(",") for line in synthdata.removal_drift_csv().splitlines()[1:]]
    y = np.array([float(r[0]) for r in rows]) - 100000.0
    g = np.array([int(r[1][1:]) - 1 for r in rows])
    x1, x2, w = (np.array([float(r[i]) for r in rows]) for i in (2, 3, 4))
    levels = np.column_stack([(g == k).astype(float) for k in range(g.max())])
    s = spline(x1)
    # The spline's columns span the intercept and x1: steps 0 and 1 take them in their place.
    designs = [np.column_stack([x2, levels, s]), np.column_stack([x2, s]),
               np.column_stack([np.ones(len(y)), x1, x2])]
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "steps.csv"), "w") as f:
        f.write("step,error_ss,stderr_x1\n")
        for step, X in enumerate(designs):
            sse, se = fit(X, y, w)
            f.write("%d,%.17g,%s\n" % (step, sse, "%.17g" % se[1] if step == 2 else ""))


if __name__ == "__main__":
    main()
