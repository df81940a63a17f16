#!/usr/bin/python3
"""Least squares of the model STEPWISE holds after it takes an effect out only to learn the
stop criterion without it and brings it back, over splines of degree 57 and 50 on 33 rows
(the rows of tests/data/stepwiserefit/data.csv; tests/data/stepwiserefit/design<degree>.csv
holds the model's design columns as OUTDESIGN(FULLMODEL NAMES) writes them, the spline's
basis among them). Their columns lie so nearly in a smaller span that the swept sums hold
the fit to a few digits, and which of them a model holds is the rank rule's choice at the
edge of the rounding; the sets below are the ones the last step holds (Intercept, x2, x3, x5
and fifteen or fourteen of the spline's columns).

Writes tests/data/stepwiserefit/fit<degree>.csv: the taken spline columns, the model DF, and
mpmath's least squares of those columns at 250 digits (the normal equations of the design as
its doubles stand, inverted by LU decomposition): the error SS, and the estimates and
standard errors of the intercept, x2, x3 and x5. Run from the repository root:
/usr/bin/python3 scripts/gen_stepwise_refit_ref.py"""
import csv
import os

import mpmath

DIR = "tests/data/stepwiserefit"
SPLINES = {57: [2, 3, 4, 5, 6, 8, 11, 13, 22, 28, 29, 32, 36, 42, 43],
           50: [1, 2, 3, 4, 5, 7, 10, 13, 20, 26, 29, 32, 36, 37]}
NAMED = ["Intercept", "x2", "x3", "x5"]


def read(degree):
    with open(os.path.join(DIR, "design%d.csv" % degree)) as f:
        rows = list(csv.reader(f))
    head = rows[0]
    cols = NAMED + ["S1_%d" % k for k in SPLINES[degree]]
    X = [[mpmath.mpf(r[head.index(c)]) for c in cols] for r in rows[1:]]
    y = [mpmath.mpf(r[head.index("y")]) for r in rows[1:]]
    return X, y


def write(degree):
    X, y = read(degree)
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
    with open(os.path.join(DIR, "fit%d.csv" % degree), "w") as f:
        f.write("name,value\n")
        f.write("taken,%s\n" % " ".join(str(k) for k in SPLINES[degree]))
        f.write("model_df,%d\n" % (p - 1))
        f.write("error_ss,%s\n" % mpmath.nstr(sse, 17))
        for i, name in enumerate(NAMED):
            f.write("estimate %s,%s\n" % (name, mpmath.nstr(beta[i], 17)))
            f.write("stderr %s,%s\n" % (name, mpmath.nstr(mpmath.sqrt(mse * inv[i, i]), 17)))


def main():
    mpmath.mp.dps = 250
    for degree in SPLINES:
        write(degree)


if __name__ == "__main__":
    main()
