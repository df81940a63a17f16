#!/usr/bin/python3
"""Writes tests/data/pivotrank/: a corpus of nearly dependent designs as data sets whose
numeric columns c1..cK are the design columns themselves (raw polynomials in two and three
variables, truncated power and B-spline bases of degree 3 to 50 on equal and percentile
knots, CLASS codings written out as columns, pairwise products of a dozen predictors), and pivots.csv: for every case, the pivots of its columns swept in
entry order after the intercept, each computed exactly (mpmath with 250 digits on the
exact cross products of the values the files hold) and in double precision the way the
sweep does (columns less their means, X'X, Gauss-Jordan sweep), with the verdict that a
sound rank rule must reach: "accept" when the exact pivot is at least 1e-7 of the column's
corrected sum of squares and the double one agrees within 1e-3, "refuse" when it is below
1e-9 of it or the double one is off by more than half of it, else "either" (taken here when
at least 1e-8 of it and within 1e-1), and the exact pivot over r^2, r = sqrt(a_kk) plus the
sum over the swept columns i of |b_i| sqrt(a_ii) (b column k's coefficients on them), the
root of its rounding bound. fits.csv holds, per case, the rank of the columns
taken and the exact least-squares error SS on them (and on all columns).
Run from the repository root: /usr/bin/python3 scripts/gen_pivot_rank_ref.py"""
import csv
import os
import random

import mpmath
import numpy as np

mpmath.mp.dps = 250
OUT = "tests/data/pivotrank"


def rnd(v, digits):
    return float("%.*g" % (digits, v))


# ---------------------------------------------------------------- designs


def poly_columns(xs, degree):
    """Monomials of total degree 1..degree in the variables xs (lists of one row each)."""
    k = len(xs)
    exps = []

    def rec(prefix, left, pos):
        if pos == k:
            if 0 < sum(prefix):
                exps.append(tuple(prefix))
            return
        for e in range(left + 1):
            rec(prefix + [e], left - e, pos + 1)

    rec([], degree, 0)
    exps.sort(key=lambda e: (sum(e), [-v for v in e]))
    cols = []
    for e in exps:
        col = []
        for r in range(len(xs[0])):
            v = 1.0
            for j in range(k):
                v *= xs[j][r] ** e[j]
            col.append(v)
        cols.append(col)
    return cols


def knots_of(x, method, count):
    lo, hi = min(x), max(x)
    if method == "equal":
        return [lo + (hi - lo) * (i + 1) / (count + 1) for i in range(count)]
    s = sorted(x)
    return [s[int(len(s) * (i + 1) / (count + 1))] for i in range(count)]


def truncated_power(x, degree, knots):
    cols = [[v**p for v in x] for p in range(1, degree + 1)]
    for k in knots:
        cols.append([max(v - k, 0.0) ** degree for v in x])
    return cols


def bspline(x, degree, knots):
    lo, hi = min(x), max(x)
    t = [lo] * (degree + 1) + list(knots) + [hi] * (degree + 1)
    m = len(t) - degree - 1
    cols = [[0.0] * len(x) for _ in range(m)]
    for r, v in enumerate(x):
        # Cox-de Boor from the degree-0 basis; the last interval is closed.
        b = [0.0] * (len(t) - 1)
        for i in range(len(t) - 1):
            if t[i] <= v < t[i + 1] or (v == hi and t[i] < t[i + 1] == hi):
                b[i] = 1.0
                break
        for d in range(1, degree + 1):
            nb = [0.0] * (len(t) - 1 - d)
            for i in range(len(nb)):
                a = 0.0
                if t[i + d] > t[i]:
                    a += (v - t[i]) / (t[i + d] - t[i]) * b[i]
                if t[i + d + 1] > t[i + 1]:
                    a += (t[i + d + 1] - v) / (t[i + d + 1] - t[i + 1]) * b[i + 1]
                nb[i] = a
            b = nb
        for i in range(m):
            cols[i][r] = b[i]
    return cols


def class_coding(levels, count, coding):
    """Columns of one CLASS variable (level indices 0..count-1) under a coding."""
    if coding == "ref":
        return [[1.0 if v == j else 0.0 for v in levels] for j in range(count - 1)]
    if coding == "effect":
        return [[1.0 if v == j else (-1.0 if v == count - 1 else 0.0) for v in levels]
                for j in range(count - 1)]
    if coding == "poly":
        return [[float(v + 1) ** p for v in levels] for p in range(1, count)]
    # orthpoly: orthonormal polynomials of the level over the levels (Gram-Schmidt).
    basis = []
    for p in range(1, count):
        u = [float(v + 1) ** p for v in range(count)]
        u = [a - sum(u) / count for a in u]
        for b in basis:
            s = sum(a * c for a, c in zip(u, b))
            u = [a - s * c for a, c in zip(u, b)]
        n = sum(a * a for a in u) ** 0.5
        basis.append([a / n for a in u])
    return [[b[v] for v in levels] for b in basis]


def response(cols, rng, rows):
    beta = [rng.gauss(0, 1) for _ in cols]
    y = []
    for r in range(rows):
        s = sum(b * c[r] / (1.0 + max(abs(v) for v in c)) for b, c in zip(beta, cols))
        y.append(rnd(s + rng.gauss(0, 1), 10))
    return y


def cases():
    rng = random.Random(43)
    out = []
    for nvar, degrees, rows in ((2, (2, 3, 4, 5), 120), (3, (2, 3, 4, 5), 160)):
        xs = [[rnd(rng.uniform(20, 30) if j == 0 else rng.uniform(-5, 15), 5) for _ in range(rows)]
              for j in range(nvar)]
        for d in degrees:
            cols = poly_columns(xs, d)
            out.append(("poly%d_d%d" % (nvar, d), cols, response(cols, rng, rows), None, None))
    x = [rnd(rng.uniform(0, 10), 6) for _ in range(150)]
    for method in ("equal", "pct"):
        kn = knots_of(x, method, 3)
        for d in (3, 10, 20, 30, 50):
            cols = truncated_power(x, d, kn)
            out.append(("tp_%s_d%d" % (method, d), cols, response(cols[:3], rng, 150), None, None))
            cols = bspline(x, d, kn)
            out.append(("bs_%s_d%d" % (method, d), cols, response(cols[:3], rng, 150), None, None))
    for coding in ("poly", "orthpoly", "effect", "ref"):
        for count in (4, 6, 12):
            rows = 200
            a = [r % count if r < count else rng.randrange(count) for r in range(rows)]
            b = [rng.randrange(3) for _ in range(rows)]
            c = [rng.randrange(4) for _ in range(rows)]
            num = [rnd(rng.gauss(50, 5), 6) for _ in range(rows)]
            cols = (class_coding(a, count, coding) + class_coding(b, 3, coding)
                    + class_coding(c, 4, coding) + [num])
            out.append(("class_%s_%d" % (coding, count), cols, response(cols, rng, rows), None,
                        None))
    rows = 300
    xs = [[rnd(rng.gauss(3, 1), 6) for _ in range(rows)] for _ in range(12)]
    cols = [list(v) for v in xs]
    for i in range(12):
        for j in range(i + 1, 12):
            cols.append([a * b for a, b in zip(xs[i], xs[j])])
    out.append(("products12", cols, response(cols, rng, rows), None, None))
    return out



def classify(exact, dbl, diag):
    ratio = exact / diag if diag > 0 else mpmath.mpf(0)
    err = abs(mpmath.mpf(dbl) - exact)
    if ratio >= mpmath.mpf("1e-7") and err <= mpmath.mpf("1e-3") * abs(exact):
        return "accept", True
    if ratio < mpmath.mpf("1e-9") or err > abs(exact) / 2:
        return "refuse", False
    return "either", ratio >= mpmath.mpf("1e-8") and err <= abs(exact) / 10


def double_xpx(cols, y, w):
    """X'X of (y, 1, columns) as the model forms it: every value less its weighted mean."""
    X = np.array([y] + cols, dtype=np.float64).T
    wv = np.array(w, dtype=np.float64)
    means = (wv[:, None] * X).sum(axis=0) / wv.sum()
    Xc = X - means
    Z = np.column_stack([Xc[:, :1], np.ones(len(y)), Xc[:, 1:]])
    return (Z * wv[:, None]).T @ Z


def exact_xpx(cols, y, w):
    """The exact corrected cross products of (y, 1, columns): the intercept's are 0, its
    diagonal the sum of weights."""
    W = [mpmath.mpf(v) for v in w]
    sw = mpmath.fsum(W)
    X = [[mpmath.mpf(v) for v in c] for c in [y] + cols]
    means = [mpmath.fsum(wi * v for wi, v in zip(W, c)) / sw for c in X]
    Xc = [[v - m for v in c] for c, m in zip(X, means)]
    n = len(Xc) + 1
    A = mpmath.matrix(n, n)
    idx = [0] + list(range(2, n))
    for a, i in enumerate(idx):
        for b, j in enumerate(idx[: a + 1]):
            s = mpmath.fsum(wi * u * v for wi, u, v in zip(W, Xc[a], Xc[b]))
            A[i, j] = A[j, i] = s
    A[1, 1] = sw
    return A


def sweep(A, k, exact):
    n = A.rows if exact else A.shape[0]
    p = A[k, k]
    for i in range(n):
        if i == k:
            continue
        for j in range(n):
            if j != k:
                A[i, j] -= A[i, k] * A[k, j] / p
    for i in range(n):
        if i != k:
            A[i, k] = -A[i, k] / p
            A[k, i] = A[k, i] / p
    A[k, k] = 1 / p


def sweep_np(A, k):
    p = A[k, k]
    col = A[:, k].copy()
    row = A[k, :].copy()
    A -= np.outer(col, row) / p
    A[:, k] = -col / p
    A[k, :] = row / p
    A[k, k] = 1.0 / p


def root_ratio(E, k, diag, swept):
    r = mpmath.sqrt(diag[k]) + mpmath.fsum(abs(E[i, k]) * mpmath.sqrt(diag[i]) for i in swept)
    return mpmath.nstr(E[k, k] / (r * r), 17)


def dense_case(name, cols, y, w):
    w = w or [1.0] * len(y)
    E = exact_xpx(cols, y, w)
    D = double_xpx(cols, y, w)
    diag = [E[i, i] for i in range(E.rows)]
    rows, taken = [], []
    sweep(E, 1, True)
    sweep_np(D, 1)
    for k in range(2, E.rows):
        verdict, take = classify(E[k, k], D[k, k], diag[k])
        rows.append((name, "c%d" % (k - 1), mpmath.nstr(E[k, k] / diag[k], 17),
                     repr(float(D[k, k] / float(diag[k]))), verdict,
                     root_ratio(E, k, diag, [1] + taken)))
        if take:
            sweep(E, k, True)
            sweep_np(D, k)
            taken.append(k)
    sse_taken = E[0, 0]
    # The least-squares minimum on all columns: every pivot not exactly dependent.
    F = exact_xpx(cols, y, w)
    sweep(F, 1, True)
    for k in range(2, F.rows):
        if F[k, k] > diag[k] * mpmath.mpf("1e-150"):
            sweep(F, k, True)
    return rows, (name, len(taken) + 1, mpmath.nstr(sse_taken, 17), mpmath.nstr(F[0, 0], 17))



def write_data(name, cols, y):
    with open(os.path.join(OUT, name + ".csv"), "w") as f:
        f.write(",".join(["y"] + ["c%d" % (i + 1) for i in range(len(cols))]) + "\n")
        for r in range(len(y)):
            f.write(",".join([repr(y[r])] + [repr(c[r]) for c in cols]) + "\n")


def main():
    os.makedirs(OUT, exist_ok=True)
    pivots, fits = [], []
    for name, cols, y, _, _ in cases():
        write_data(name, cols, y)
        r, f = dense_case(name, cols, y, None)
        pivots += r
        fits.append(f)
        print(name, len(cols), f[1], sum(1 for x in r if x[4] == "either"), flush=True)
    with open(os.path.join(OUT, "pivots.csv"), "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["case", "column", "exact", "double", "verdict", "rootratio"])
        out.writerows(pivots)
    with open(os.path.join(OUT, "fits.csv"), "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["case", "rank", "sse", "leastsse"])
        out.writerows(fits)


if __name__ == "__main__":
    main()
