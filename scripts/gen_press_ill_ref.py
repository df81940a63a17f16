#!/usr/bin/python3
"""Writes tests/data/pressill/: nearly dependent designs whose PRESS a swept matrix cannot
resolve, and their exact PRESS. Each data set holds a response y, a weight w, a frequency f
and design columns c1..cK (raw powers of one variable, so that their cross products span
dozens of orders of magnitude), all as binary fractions exact in a double:

- poly: 40 rows, the powers 1..11 of x ~ N(0, 1) and a smooth response with noise;
- saturated: 11 rows, the powers 1..10 of x: with the intercept as many columns as rows, so
  every row of frequency 1 has leverage exactly 1 and every residual is 0 (PRESS 0);
- nearsat: 14 rows, the powers 1..11 of x: a few rows of leverage within 1e-3 of 1.

ref.csv gives for each data set, each of unweighted, weighted and weighted with frequencies,
and the design of every set of its columns that holds c1..c4 (a rank rule may refuse some of
the higher powers, and a selection take them in any order), the PRESS sum over rows with |1 - h| > 1e-8 of f w (e / (1 - h))^2, where h is one
copy's leverage w x'(X'WFX)^-1 x (the intercept among the columns), e the least-squares
residual, both computed by mpmath at 60 digits from the doubles the files hold, and the relative error that
a computation in double from the cross products may carry: 160 eps kappa / (1 - hmax), kappa
the squared condition of the centred, scaled weighted design (numpy) and hmax the largest
leverage of the rows counted, at least 1e-9.

Run from the repository root: /usr/bin/python3 scripts/gen_press_ill_ref.py"""
import csv
import os

import mpmath
import numpy as np

mpmath.mp.dps = 60
OUT = "tests/data/pressill"


def fraction(v, bits):
    return round(v * 2**bits) / 2**bits


def data_set(n, powers, seed, noise):
    rng = np.random.default_rng(seed)
    x = [fraction(v, 10) for v in rng.normal(size=n)]
    y = [fraction(np.sin(2 * v) + v + noise * e, 20) for v, e in zip(x, rng.normal(size=n))]
    w = [fraction(v, 4) for v in rng.uniform(0.5, 2.0, size=n)]
    f = [int(v) for v in rng.integers(1, 4, size=n)]
    cols = [[v**p for v in x] for p in range(1, powers + 1)]
    return x, y, w, f, cols


def exact_press(y, w, f, cols):
    n = len(y)
    X = mpmath.matrix(n, len(cols) + 1)
    for i in range(n):
        X[i, 0] = 1
        for j, c in enumerate(cols):
            X[i, j + 1] = mpmath.mpf(c[i])
    W = [mpmath.mpf(a) * b for a, b in zip(w, f)]
    A = mpmath.matrix(len(cols) + 1, len(cols) + 1)
    b = mpmath.matrix(len(cols) + 1, 1)
    for i in range(n):
        for j in range(len(cols) + 1):
            b[j] += W[i] * X[i, j] * y[i]
            for k in range(len(cols) + 1):
                A[j, k] += W[i] * X[i, j] * X[i, k]
    Ai = A**-1
    beta = Ai * b
    total = mpmath.mpf(0)
    hmax = 0.0
    for i in range(n):
        row = X[i, :]
        h = w[i] * (row * Ai * row.T)[0]
        e = y[i] - (row * beta)[0]
        if abs(1 - h) > mpmath.mpf("1e-8"):
            total += f[i] * w[i] * (e / (1 - h)) ** 2
            hmax = max(hmax, float(h))
    return total, hmax


def condition(w, f, cols):
    wf = np.array(w) * np.array(f)
    X = np.array(cols).T
    c = (X * wf[:, None]).sum(axis=0) / wf.sum()
    A = np.column_stack([np.ones(len(wf)), X - c]) * np.sqrt(wf)[:, None]
    A = A / np.sqrt((A * A).sum(axis=0))
    return np.linalg.cond(A)


def main():
    os.makedirs(OUT, exist_ok=True)
    sets = {"poly": (40, 11, 7, 0.05), "saturated": (11, 10, 11, 0.3), "nearsat": (14, 11, 13, 0.3)}
    refs = []
    for name, (n, powers, seed, noise) in sets.items():
        x, y, w, f, cols = data_set(n, powers, seed, noise)
        with open(os.path.join(OUT, name + ".csv"), "w", newline="") as fh:
            out = csv.writer(fh)
            out.writerow(["y", "w", "f"] + ["c%d" % (j + 1) for j in range(powers)])
            for i in range(n):
                out.writerow([repr(y[i]), repr(w[i]), f[i]] + [repr(c[i]) for c in cols])
        for kind, ww, ff in (("plain", [1.0] * n, [1] * n), ("weight", w, [1] * n),
                             ("freq", w, f)):
            for mask in range(2 ** (powers - 4)):
                take = list(range(4)) + [4 + j for j in range(powers - 4) if mask >> j & 1]
                press, hmax = exact_press(y, ww, ff, [cols[j] for j in take])
                kappa = condition(ww, ff, [cols[j] for j in take]) ** 2
                tol = max(1e-9, 160 * np.finfo(float).eps * kappa / max(1 - hmax, 1e-300))
                refs.append([name, kind, " ".join("c%d" % (j + 1) for j in take),
                             mpmath.nstr(press if press > 1e-100 else 0, 17), "%.3g" % tol])
    with open(os.path.join(OUT, "ref.csv"), "w", newline="") as fh:
        out = csv.writer(fh)
        out.writerow(["data", "kind", "columns", "press", "tolerance"])
        out.writerows(refs)


if __name__ == "__main__":
    main()
