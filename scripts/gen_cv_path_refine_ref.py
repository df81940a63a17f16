#!/usr/bin/python3
"""Writes tests/data/cvpathrefine/press.csv: the CV PRESS at each step of LASSO by CV over
the rows of tests/data/cvpathrefine/d.csv (folds by index variable fold), from exact refits
of each fold: each step's CV PRESS is the held-out error of the least-squares refit of the
step's active columns on the fold's training rows, the normal equations solved at 80 digits
(mpmath) and each held-out residual formed at 80 digits. Beside it, the relative error of
the same refits by Householder QR in double (numpy), the accuracy that a computation in
double from the rows reaches on these folds.

The model is y on x1 .. x6 and the powers v1 .. v1^7 of a column near 0.1 to 2 in size (the
powers taken exactly from v1's doubles), the response near 1e-9; 26 rows in 7 folds. Fold
3's training rows put the columns at a scaled condition near 1e3 and fold 4's held-out rows
extrapolate the polynomial (v1 = -2.44 beyond every training row), so that coefficients
solved on the folds' cross products alone miss their held-out errors by up to 4e-7. PATH
lists the path's steps as the fit takes them (the test checks that it does). Run from the
repository root: /usr/bin/python3 scripts/gen_cv_path_refine_ref.py"""
import csv
import os
import sys

import mpmath
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from oracle_lib import ref  # noqa: E402

mpmath.mp.dps = 80
OUT = "tests/data/cvpathrefine"
# Each step's entered (+) or removed (-) effect.
PATH = ["+x6", "+v1^6", "+x4", "+x5", "+x3", "+x2", "+v1^5", "+v1^7", "-v1^5", "+v1^2", "+v1",
        "+x1", "-x3", "+v1^3", "+x3", "-v1", "+v1", "-x2", "+v1^4", "+x2", "+v1^5", "-x2",
        "+x2", "-v1^2", "-v1^3", "+v1^2", "+v1^3", "-v1"]
ORDER = ["x1", "x2", "x3", "x4", "x5", "x6"] + ["v1"] + ["v1^%d" % k for k in range(2, 8)]


def load():
    with open(os.path.join(OUT, "d.csv")) as f:
        rows = list(csv.DictReader(f))
    return {k: [float(r[k]) for r in rows] for k in rows[0]}


def column(d, name):
    """The effect's values at 80 digits: a power of v1 taken exactly."""
    base, _, power = name.partition("^")
    return [mpmath.mpf(v) ** (int(power) if power else 1) for v in d[base]]


def cv_press(d, effects):
    """The exact CV PRESS of the model and the relative error of QR refits in double."""
    n = len(d["y"])
    cols = [[mpmath.mpf(1)] * n] + [column(d, e) for e in effects]
    y = [mpmath.mpf(v) for v in d["y"]]
    A = np.array([[float(c[i]) for c in cols] for i in range(n)])
    fold = np.array(d["fold"])
    exact, qr = mpmath.mpf(0), 0.0
    for k in sorted(set(fold.tolist())):
        out = fold == k
        tr = [i for i in range(n) if not out[i]]
        p = len(cols)
        G = mpmath.matrix(p, p)
        c = mpmath.matrix(p, 1)
        for a in range(p):
            c[a] = mpmath.fsum(cols[a][i] * y[i] for i in tr)
            for b in range(p):
                G[a, b] = mpmath.fsum(cols[a][i] * cols[b][i] for i in tr)
        beta = mpmath.lu_solve(G, c)
        for i in np.flatnonzero(out):
            r = y[i] - mpmath.fsum(cols[a][i] * beta[a] for a in range(p))
            exact += r * r
        f = ref.fit(A[~out][:, 1:], np.array(d["y"])[~out], np.ones(int((~out).sum())), False)
        res = f.residual(A[out][:, 1:], np.array(d["y"])[out])
        qr += float(np.sum(res * res))
    return float(exact), abs(qr - float(exact)) / float(exact)


def main():
    d = load()
    active = []
    with open(os.path.join(OUT, "press.csv"), "w") as f:
        f.write("step,effects,cvpress,qrerror\n")
        for step in range(len(PATH) + 1):
            if step > 0:
                move, name = PATH[step - 1][0], PATH[step - 1][1:]
                active = active + [name] if move == "+" else [e for e in active if e != name]
            effects = [e for e in ORDER if e in active]
            exact, qr = cv_press(d, effects)
            f.write("%d,%s,%.17g,%.2g\n" % (step, " ".join(effects), exact, qr))


if __name__ == "__main__":
    main()
