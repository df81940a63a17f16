#!/usr/bin/python3
"""Writes tests/data/stepsplinerank/fit.csv: the model of y on the intercept, x1, x3 and
s = SPLINE(x1 / DEGREE=9) on the rows of tests/data/stepsplinerank/d.csv where y, x1, x2
and x3 are all present. The spline's default knots are three, equally spaced inside the range
of x1, so its columns span the piecewise polynomials of degree 9 joined there: the intercept
and x1 lie in that span. The exact rank of the model's columns is that of the truncated power
basis 1, x1, ..., x1^9, (x1 - k)_+^9 at the three knots, and x3, found by Gaussian
elimination in fractions on the values the file holds (exactly as read, knots included). The
error SS is numpy's least squares on x3 and scipy's B-spline basis on those knots (a basis of
the same space, the intercept included). y is taken less 1797087416 (exactly), which no fit
with an intercept sees. Run from the repository root:
/usr/bin/python3 scripts/gen_stepwise_spline_rank_ref.py"""
import csv
import os
from fractions import Fraction

import numpy as np
from scipy.interpolate import BSpline

OUT = "tests/data/stepsplinerank"
DEGREE = 9
OFFSET = 1797087416.0


def used_rows():
    with open(os.path.join(OUT, "d.csv")) as f:
        rows = list(csv.DictReader(f))
    return [r for r in rows if all(r[c] != "" for c in ("y", "x1", "x2", "x3"))]


def exact_rank(columns):
    """The rank of the columns (lists of Fractions), by elimination with exact pivots."""
    m = [list(c) for c in columns]
    rank = 0
    rows = len(m[0])
    used = [False] * rows
    for c in range(len(m)):
        p = next((i for i in range(rows) if not used[i] and m[c][i] != 0), None)
        if p is None:
            continue
        used[p] = True
        rank += 1
        for d in range(c + 1, len(m)):
            if m[d][p] != 0:
                f = m[d][p] / m[c][p]
                m[d] = [a - f * b for a, b in zip(m[d], m[c])]
    return rank


def knots(lo, hi):
    return [lo + k * (hi - lo) / 4 for k in (1, 2, 3)]


def main():
    rows = used_rows()
    x1 = [Fraction(float(r["x1"])) for r in rows]
    x3 = [Fraction(float(r["x3"])) for r in rows]
    inner = knots(min(x1), max(x1))
    cols = [[x**p for x in x1] for p in range(DEGREE + 1)]
    cols += [[max(x - k, 0) ** DEGREE for x in x1] for k in inner]
    cols.append(x3)
    rank = exact_rank(cols)

    y = np.array([float(r["y"]) for r in rows]) - OFFSET
    xf = np.array([float(v) for v in x1])
    lo, hi = xf.min(), xf.max()
    t = np.array([lo] * (DEGREE + 1) + [float(k) for k in inner] + [hi] * (DEGREE + 1))
    B = BSpline.design_matrix(np.clip(xf, lo, hi), t, DEGREE).toarray()
    X = np.column_stack([B, np.array([float(v) for v in x3])])
    scale = np.sqrt((X * X).sum(axis=0))
    beta, _, r, _ = np.linalg.lstsq(X / scale, y, rcond=None)
    assert r == rank, (r, rank)
    resid = y - (X / scale) @ beta
    with open(os.path.join(OUT, "fit.csv"), "w") as f:
        f.write("rows,rank,error_ss\n%d,%d,%.17g\n" % (len(rows), rank, float(resid @ resid)))


if __name__ == "__main__":
    main()
