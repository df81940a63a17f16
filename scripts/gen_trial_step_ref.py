#!/usr/bin/python3
"""References for candidates whose criterion must be the one their step prints, and for steps
that must print the least-squares fit, on two designs. Writes, under tests/data/trialstep:

far.csv: 60 rows of x1, x2 (normal, spreads 0.2 and 3), c (a covariate near 1.9e9 with a
spread of 0.05) and y (near 1.91e9, spread about 6); fitted without an intercept, c stands in
for it, and every error SS is about 1e-16 of y'y.
far_ref.csv: for every subset of x1 x2 c that holds c, the error SS (mpmath at 60 digits on the
doubles of the file) and the estimates in the columns' order.

poly.csv: 25 rows of x1 and v (normal) and y near 1e5: the raw powers of v to degree 10 beside
x1 leave a row at leverage 1e-7 from 1.
poly_ref.csv: PRESS of the full model (x1 and v .. v^10 with the intercept), its least leverage
distance 1 - h, both by mpmath at 60 digits.

compsum.csv: residuals y - sum b_j x_j of 20 rows of far.csv under the full model's
estimates rounded to doubles (three terms, the last near 1.9e9), and each residual's exact
value (mpmath at 60 digits), against which a compensated sum in double must come out within
a unit in the last place.

Run from the repository root: /usr/bin/python3 scripts/gen_trial_step_ref.py
"""
import csv
import itertools
import os

import mpmath as mp
import numpy as np

OUT = "tests/data/trialstep"
mp.mp.dps = 60


def write(name, header, rows):
    with open(os.path.join(OUT, name), "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(header)
        for r in rows:
            w.writerow([repr(float(v)) if isinstance(v, (float, np.floating)) else v for v in r])


def mp_fit(X, y, w=None):
    """Least squares in mpmath on the doubles: (error SS, estimates, leverages)."""
    n, p = X.shape
    W = [mp.mpf(1) if w is None else mp.mpf(float(w[i])) for i in range(n)]
    Xm = [[mp.mpf(float(X[i, j])) for j in range(p)] for i in range(n)]
    ym = [mp.mpf(float(y[i])) for i in range(n)]
    A = mp.matrix(p, p)
    b = mp.matrix(p, 1)
    for i in range(n):
        for a in range(p):
            b[a] += W[i] * Xm[i][a] * ym[i]
            for c in range(p):
                A[a, c] += W[i] * Xm[i][a] * Xm[i][c]
    Ai = mp.inverse(A)
    beta = Ai * b
    sse, lev = mp.mpf(0), []
    for i in range(n):
        r = ym[i] - sum(Xm[i][j] * beta[j] for j in range(p))
        sse += W[i] * r * r
        lev.append((W[i] * sum(Xm[i][a] * sum(Ai[a, c] * Xm[i][c] for c in range(p))
                               for a in range(p)), r))
    return sse, [beta[j] for j in range(p)], lev


def far():
    rng = np.random.default_rng(20261211)
    n = 60
    x1 = rng.normal(scale=0.2, size=n)
    x2 = rng.normal(scale=3.0, size=n)
    c = 1904592318.0 + rng.normal(scale=0.05, size=n)
    y = 1.0024 * c + 5.0 * x1 - 0.4 * x2 + rng.normal(scale=6.0, size=n)
    write("far.csv", ["x1", "x2", "c", "y"], zip(x1, x2, c, y))
    cols = {"x1": x1, "x2": x2, "c": c}
    rows = []
    for k in range(3):
        for sub in itertools.combinations(["x1", "x2"], k):
            names = list(sub) + ["c"]
            names = [v for v in ("x1", "x2", "c") if v in names]
            sse, beta, _ = mp_fit(np.column_stack([cols[v] for v in names]), y)
            rows.append([" ".join(names), mp.nstr(sse, 20)] + [mp.nstr(b, 20) for b in beta])
    write("far_ref.csv", ["columns", "sse", "estimates"], rows)


def poly():
    rng = np.random.default_rng(20261219)
    n = 25
    x1 = rng.normal(scale=8.0, size=n)
    v = rng.normal(scale=1.8, size=n)
    y = 1e5 + 0.3 * x1 + rng.normal(scale=5.0, size=n)
    write("poly.csv", ["x1", "v", "y"], zip(x1, v, y))
    X = np.column_stack([np.ones(n), x1] + [v ** k for k in range(1, 11)])
    # the powers as the engine forms them, in double from v
    for k in range(2, 11):
        p = v.copy()
        for _ in range(k - 1):
            p = p * v
        X[:, k + 1] = p
    _, _, lev = mp_fit(X, y)
    press = sum((r / (1 - h)) ** 2 for h, r in lev)
    least = min(1 - h for h, _ in lev)
    write("poly_ref.csv", ["press", "least_one_minus_h"], [[mp.nstr(press, 20),
                                                            mp.nstr(least, 10)]])


def compsum():
    rows = list(csv.reader(open(os.path.join(OUT, "far.csv"))))[1:21]
    ref = list(csv.reader(open(os.path.join(OUT, "far_ref.csv"))))
    b = [float(v) for v in ref[-1][2:]]  # x1 x2 c, as doubles
    out = []
    for r in rows:
        x = [float(v) for v in r[:3]]
        y = float(r[3])
        exact = mp.mpf(y) - sum(mp.mpf(bj) * mp.mpf(xj) for bj, xj in zip(b, x))
        out.append([y] + [v for pair in zip(b, x) for v in pair] + [mp.nstr(exact, 25)])
    write("compsum.csv", ["y", "b1", "x1", "b2", "x2", "b3", "x3", "exact"], out)


def main():
    os.makedirs(OUT, exist_ok=True)
    far()
    compsum()
    poly()


if __name__ == "__main__":
    main()
