#!/usr/bin/python3
"""Writes tests/data/manylevelpress/ref.csv: the exact PRESS (mpmath, 60 digits) of the
weighted fit of y on the intercept, z, x1-x4, the EFFECT-coded columns of the CLASS variable m1
(136 levels, the last level's rows -1 in every column) and v1, v1^2 over
tests/data/manylevelpress/d.csv. z is the level's number plus noise of 1e-5, so the levels
explain it to about 1e-14 of its spread, and some rows weigh 1e-6: their leverages lie within
1e-6 of 1. The exact rank of the columns is one short of their count: the fit leaves out the
last column of m1 (L135), and so does this reference. A row counts when |1 - h| > 1e-8, h its
leverage w x'(X'WX)^-1 x. Run from the repository root:
/usr/bin/python3 scripts/gen_manylevel_press_ref.py"""
import csv

import mpmath as mp

mp.mp.dps = 60
DIR = "tests/data/manylevelpress/"


def design():
    rows = list(csv.DictReader(open(DIR + "d.csv")))
    levels = sorted({r["m1"] for r in rows})
    X, y, w = [], [], []
    for r in rows:
        k = levels.index(r["m1"])
        effect = [-1 if k == len(levels) - 1 else int(k == q) for q in range(len(levels) - 2)]
        v1 = mp.mpf(r["v1"])
        dense = [mp.mpf(r[c]) for c in ("z", "x1", "x2", "x3", "x4")]
        X.append([mp.mpf(1)] + dense + [mp.mpf(e) for e in effect] + [v1, v1 * v1])
        y.append(mp.mpf(r["y"]))
        w.append(mp.mpf(r["w"]))
    return X, y, w


def main():
    X, y, w = design()
    n, p = len(X), len(X[0])
    A = mp.matrix(p, p)
    b = mp.matrix(p, 1)
    for i in range(n):
        xi = X[i]
        for a in range(p):
            if xi[a] == 0:
                continue
            wa = w[i] * xi[a]
            b[a] += wa * y[i]
            for c in range(p):
                if xi[c] != 0:
                    A[a, c] += wa * xi[c]
    Ai = mp.inverse(A)
    beta = Ai * b
    press = mp.mpf(0)
    for i in range(n):
        xi = mp.matrix(X[i])
        h = w[i] * (xi.T * Ai * xi)[0]
        e = y[i] - (xi.T * beta)[0]
        if abs(1 - h) > mp.mpf("1e-8"):
            press += w[i] * (e / (1 - h)) ** 2
    with open(DIR + "ref.csv", "w") as f:
        f.write("press\n%s\n" % mp.nstr(press, 17))


if __name__ == "__main__":
    main()
