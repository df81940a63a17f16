#!/usr/bin/python3
"""Least squares of the model BACKWARD holds when its stop undoes a removal over a spline
of degree 55 on 33 rows (tests/data/backwardundo: data.csv, rows drawn by numpy's
default_rng(1666) as x1..x5 normal with scales 10**U(-2, 2) and y normal noise plus a few of
them standardised, and design.csv, the model's design columns as OUTDESIGN(FULLMODEL NAMES)
writes them, the spline's basis among them). Its columns lie so nearly in a smaller span
that which of them a model holds is the rank rule's choice at the edge of the rounding, made
along the removals; the set below is the one the last step before the stop holds
(Intercept, x4, x5 and nine of the spline's columns).

Writes fit.csv: the taken spline columns, the model DF, and mpmath's least squares of those
columns at 250 digits (the normal equations of the design as its doubles stand, inverted by
LU decomposition): the error SS, and the estimates and standard errors of the
intercept, x4 and x5. Run from the repository root:
/usr/bin/python3 scripts/gen_backward_undo_ref.py"""
import csv
import os

import mpmath

DIR = "tests/data/backwardundo"
SPLINE = [1, 14, 17, 20, 22, 24, 26, 34, 39]
NAMED = ["Intercept", "x4", "x5"]


def read():
    with open(os.path.join(DIR, "design.csv")) as f:
        rows = list(csv.reader(f))
    head = rows[0]
    cols = NAMED + ["S1_%d" % k for k in SPLINE]
    X = [[mpmath.mpf(r[head.index(c)]) for c in cols] for r in rows[1:]]
    y = [mpmath.mpf(r[head.index("y")]) for r in rows[1:]]
    return X, y


def main():
    mpmath.mp.dps = 250
    X, y = read()
    n, p = len(X), len(X[0])
    A = mpmath.matrix(p, p)
    b = mpmath.matrix(p, 1)
    for i in range(p):
        b[i] = mpmath.fsum(X[r][i] * y[r] for r in range(n))
        for j in range(p):
            A[i, j] = mpmath.fsum(X[r][i] * X[r][j] for r in range(n))
    inv = mpmath.inverse(A)
    beta = inv * b
    sse = mpmath.fsum((y[r] - mpmath.fsum(X[r][i] * beta[i] for i in range(p))) ** 2
                      for r in range(n))
    mse = sse / (n - p)
    with open(os.path.join(DIR, "fit.csv"), "w") as f:
        f.write("name,value\n")
        f.write("taken,%s\n" % " ".join(str(k) for k in SPLINE))
        f.write("model_df,%d\n" % (p - 1))
        f.write("error_ss,%s\n" % mpmath.nstr(sse, 17))
        for i, name in enumerate(NAMED):
            f.write("estimate %s,%s\n" % (name, mpmath.nstr(beta[i], 17)))
            f.write("stderr %s,%s\n" % (name, mpmath.nstr(mpmath.sqrt(mse * inv[i, i]), 17)))


if __name__ == "__main__":
    main()
