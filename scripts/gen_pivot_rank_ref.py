#!/usr/bin/python3
"""Writes tests/data/pivotrank/pivots.csv and fits.csv on a corpus of nearly dependent designs
as data sets whose numeric columns c1..cK are the design columns themselves (raw polynomials
in two and three variables, truncated power and B-spline bases of degree 3 to 50 on equal and
percentile knots, CLASS codings written out as columns, pairwise products of a dozen
predictors), drawn by cases() from random.Random(43). The data sets of both corpora are not
committed: the test makes them at run time by tests/programs/pivotcorpus.h, which follows
cases(), user_cases() and repr draw for draw and bit for bit; --data prints every data file's
name (user/ for the second corpus) and text, for the test that checks that the two agree.
pivots.csv holds, for every case, the pivots of its columns
swept in entry order after the intercept, each computed exactly (mpmath with 250 digits on the
exact cross products of the values the files hold) and in double precision the way the
sweep does (columns less their means, X'X, Gauss-Jordan sweep), with the verdict that a
sound rank rule must reach: "accept" when the exact pivot is at least 1e-7 of the column's
corrected sum of squares and the double one agrees within 1e-3, "refuse" when it is below
1e-9 of it or the double one is off by more than half of it, else "either" (taken here when
at least 1e-8 of it and within 1e-1), and the exact pivot over r^2, r = sqrt(a_kk) plus the
sum over the swept columns i of |b_i| sqrt(a_ii) (b column k's coefficients on them), the
root of its rounding bound. fits.csv holds, per case, the rank of the columns
taken and the exact least-squares error SS on them (and on all columns).

It also writes tests/data/pivotrank/user/ for designs as a user writes them (EFFECT statements,
CLASS with PARAM=, WEIGHT; see user_cases), each with its data (<case>.csv, made at run time)
and its design columns made here from the definitions of the effects (<case>_x.csv, made at
run time likewise): the statements of each (cases.csv), the same pivots
and verdicts in entry order (pivots.csv, computed from exact integer cross products) and the
exact rank, error SS and corrected total (fits.csv).

Run from the repository root: /usr/bin/python3 scripts/gen_pivot_rank_ref.py [--user] writes
both corpora [the second only]; --data prints their data sets; --report BUILD/app/qrx
runs the second through that qrx under every selection method on 1 and 8 threads and prints
what fails (the checks of tests/programs/pivot_rank_user_test.cpp, with exact instead of long
double refits)."""
import csv
import fractions
import io
import json
import math
import os
import random
import re
import struct
import subprocess
import sys
import tempfile

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



def data_text(cols, y):
    """A case's data set as CSV text: y and c1..cK, every value as repr writes it."""
    text = ",".join(["y"] + ["c%d" % (i + 1) for i in range(len(cols))]) + "\n"
    for r in range(len(y)):
        text += ",".join([repr(y[r])] + [repr(c[r]) for c in cols]) + "\n"
    return text


# ------------------------------------------------- designs as a user writes them
#
# Each case below is a data set of raw variables and the statements a user writes for it
# (EFFECT statements, CLASS with PARAM=, WEIGHT). The design columns are made here from
# the definitions of the constructed effects and codings, in the order the model lays them
# out, and written beside the data under the parameter names the fit reports (blanks, "_"
# and ":" read as one blank, letters in lower case), so that a test can fit any subset of
# them. Their cross products are formed exactly from the doubles (integers scaled by powers
# of two), and the pivots in entry order by an LDL' elimination at 250 digits.

USER = os.path.join(OUT, "user")
EPS13 = 1.110223024625157e-13
# The sweep refuses every pivot below this floor (bits 0x20000000002302AC, about 2^-511, the
# root of the smallest normal double) whatever its diagonal: a column whose exact pivot lies
# below it (the first and last B-spline columns of degree 60 on knots spaced below and above
# the data, whose values are below 1e-80) is undecided here and not taken by the reference.
TINY_PIVOT = struct.unpack("<d", (0x20000000002302AC).to_bytes(8, "little"))[0]


def grid(rng, lo, hi, bits=10):
    """A uniform draw on a grid of 2^-bits, so that sums and halves of the values are exact."""
    return round(rng.uniform(lo, hi) * 2**bits) / 2**bits


def poly_terms(names, degree):
    """Terms of a polynomial effect in graded order: the variables, then for every degree
    each variable times the terms of one degree less that begin with it or a later one."""
    terms = [[i] for i in range(len(names))]
    last = list(terms)
    for _ in range(2, degree + 1):
        nxt = [[i] + t for i in range(len(names)) for t in last if t[0] >= i]
        terms += nxt
        last = nxt
    return terms


def poly_label(names, term):
    runs = []
    for i in term:
        if runs and runs[-1][0] == i:
            runs[-1][1] += 1
        else:
            runs.append([i, 1])
    return "*".join(names[i] + ("^%d" % m if m > 1 else "") for i, m in runs)


def poly_design(xs, names, degree):
    """The columns of polynomial(names / degree=d): each column of degree g is the first
    variable of its term times the column of the rest of the term."""
    terms = poly_terms(names, degree)
    values = {}
    cols = []
    for t in terms:
        if len(t) == 1:
            v = list(xs[t[0]])
        else:
            v = [a * b for a, b in zip(xs[t[0]], values[tuple(t[1:])])]
        values[tuple(t)] = v
        cols.append((poly_label(names, t), v))
    return cols


def percentile_knots(x, n):
    s = sorted(x)
    big_n = len(s)
    knots = []
    for i in range(1, n + 1):
        p = i / (n + 1) * big_n
        k = int(math.floor(p + EPS13))
        exact = abs(p - k) <= EPS13
        j = k - 1
        if j < 0:
            knots.append(s[0])
        elif j > big_n - 1:
            knots.append(s[-1])
        else:
            knots.append((s[j] + s[j + 1]) / 2 if exact else s[j + 1])
    return knots


def tpf_design(name, x, degree, knots):
    """A truncated power basis with all terms: the constant, the powers of x, then
    (x - k)^degree beyond each knot."""
    cols = [[1.0] * len(x)]
    p = list(x)
    for _ in range(degree):
        cols.append(p)
        p = [a * b for a, b in zip(p, x)]
    for k in knots:
        cols.append([(v - k) ** degree if v - k > 0 else 0.0 for v in x])
    return [("%s %d" % (name, i + 1), c) for i, c in enumerate(cols)]


def bspline_knots(x, d, n, method):
    """Boundary and interior knots of a B-spline basis: d knots below the data, n inside,
    max(d, 1) above, the outermost ones just beyond the data range."""
    lo, hi = min(x), max(x)
    e0 = EPS13
    while d and math.log(e0) < math.log(2.225073858507202e-308) / (2 * d):
        e0 *= 100
    elo = e0
    while not lo - elo < lo:
        elo *= 10
    ehi = e0
    while not hi + ehi > hi:
        ehi *= 10
    low, up = lo - elo, hi + ehi
    r = max(d, 1)
    step = (hi - lo) / (n + 1)
    if method == "equal":
        lower = [lo - (d - 1 - j) * step for j in range(d)]
        lower[d - 1] = low
        seq, v = [], lo
        for _ in range(n + r):
            v += step
            seq.append(v)
        inner, upper = seq[:n], seq[n:]
        upper[0] = up
    else:
        lower, inner, upper = [low] * d, percentile_knots(x, n), [up] * r
    return lower + inner + upper


def bspline_row(t, d, x):
    """The d + 1 basis functions that can be non-zero at x by the recurrence of de Boor and
    Cox, and the index of the last of them."""
    i, lim = d, len(t) - max(d, 1)
    while i < lim and x >= t[i]:
        i += 1
    b = [1.0] + [0.0] * d
    dr, dl = [0.0] * d, [0.0] * d
    for j in range(d):
        dr[j] = t[i + j] - x
        dl[j] = x - t[i - 1 - j]
        saved = 0.0
        for q in range(j + 1):
            den = dr[q] + dl[j - q]
            term = b[q] / den if den != 0 else 0.0
            b[q] = saved + dr[q] * term
            saved = dl[j - q] * term
        b[j + 1] = saved
    return b, i


def bspline_design(name, x, d, n, method):
    t = bspline_knots(x, d, n, method)
    m = len(t) - d + 1
    cols = [[0.0] * len(x) for _ in range(m)]
    for row, v in enumerate(x):
        b, i = bspline_row(t, d, v)
        for q in range(d + 1):
            cols[i - d + q][row] = b[q]
    return [("%s %d" % (name, i + 1), c) for i, c in enumerate(cols)]


def class_poly_design(name, levels, count):
    """PARAM=POLY of a numeric CLASS variable with values 1..count: the powers 1..count-1
    of the value."""
    return [("%s poly%d" % (name, p), [math.pow(float(v), p) for v in levels])
            for p in range(1, count)]


def user_response(cols, rng, rows, scale=1.0):
    y = []
    for r in range(rows):
        s = sum(b * c[r] / (1.0 + max(abs(v) for v in c))
                for b, c in zip((rng.gauss(0, 3) for _ in cols), cols))
        y.append(rnd(s + rng.gauss(0, scale), 10))
    return y


def linear_response(xs, rng):
    """A response that follows the predictors closely: sum of b_j x_j plus unit noise."""
    beta = [rng.gauss(0, 1) for _ in xs]
    return [rnd(sum(b * x[r] for b, x in zip(beta, xs)) + rng.gauss(0, 1), 10)
            for r in range(len(xs[0]))]


def user_cases():
    """(name, data columns, statements before MODEL, model effects, design columns):
    raw polynomials of degree 4 and 5 in two and three variables on 40 to 60 rows; an 8- and
    a 12-level CLASS variable under PARAM=POLY beside three others; a cubic truncated power
    spline on 8 percentile knots beside another predictor; B-splines of degree 10 on equal
    and percentile knots; a degree-30 truncated power basis split into one effect per
    column and one kept whole (for BACKWARD); three near copies (x + 1e-7 noise); a sum of three columns times
    1 + 1e-12; a many-level effect; and splines of 64 columns and more (wide_spline_cases)."""
    rng = random.Random(52)
    out = []
    for nvar, degree, rows in ((2, 4, 40), (2, 5, 47), (3, 4, 60), (3, 5, 60)):
        names = ["a", "b", "c"][:nvar]
        xs = [[grid(rng, 20, 30) if j == 0 else grid(rng, -5, 15) for _ in range(rows)]
              for j in range(nvar)]
        design = poly_design(xs, names, degree)
        data = dict(zip(names, xs))
        data["y"] = user_response([c for _, c in design[:nvar + 2]], rng, rows)
        out.append(("poly%d_d%d" % (nvar, degree), data,
                    ["effect s = polynomial(%s / degree=%d)" % (" ".join(names), degree)], "s",
                    design))
    for count in (8, 12):
        rows = 150
        g = [r % count + 1 if r < count else rng.randrange(count) + 1 for r in range(rows)]
        others = [[r % k + 1 if r < k else rng.randrange(k) + 1 for r in range(rows)]
                  for k in (3, 4, 5)]
        design = class_poly_design("g", g, count)
        for nm, lv, k in zip(("h", "i", "j"), others, (3, 4, 5)):
            design += class_poly_design(nm, lv, k)
        data = {"g": g, "h": others[0], "i": others[1], "j": others[2]}
        data["y"] = user_response([c for _, c in design], rng, rows)
        out.append(("classpoly_%d" % count, data, ["class g h i j / param=poly"], "g h i j",
                    design))
    rows = 80
    x = [grid(rng, 0, 10) for _ in range(rows)]
    z = [grid(rng, -3, 3) for _ in range(rows)]
    design = tpf_design("sp", x, 3, percentile_knots(x, 8)) + [("z", z)]
    data = {"x": x, "z": z, "y": user_response([c for _, c in design[1:5]], rng, rows, 10)}
    out.append(("tpf_pct8", data,
                ["effect sp = spline(x / basis=tpf degree=3 knotmethod=percentiles(8))"],
                "sp z", design))
    for method, n, tag in (("equal", 3, "knotmethod=equal(3)"),
                           ("pct", 6, "knotmethod=percentiles(6)")):
        x = [grid(rng, 0, 10) for _ in range(rows)]
        design = bspline_design("bs", x, 10, n, method)
        data = {"x": x, "y": user_response([c for _, c in design[:4]], rng, rows)}
        out.append(("bspline_d10_%s" % method, data,
                    ["effect bs = spline(x / degree=10 %s)" % tag], "bs", design))
    rows = 60
    x = [grid(rng, 0, 10, 8) for _ in range(rows)]
    design = tpf_design("t", x, 30, [2.5, 5.0, 7.5])
    data = {"x": x, "y": user_response([c for _, c in design[1:4]], rng, rows)}
    out.append(("tpf_d30", data,
                ["effect t = spline(x / basis=tpf degree=30 knotmethod=list(2.5 5 7.5) split)"],
                "t", design))
    x = [grid(rng, 0, 10, 8) for _ in range(rows)]
    lo, hi = min(x), max(x)
    design = tpf_design("t", x, 30, [lo + (hi - lo) * i / 4 for i in (1, 2, 3)])
    data = {"x": x, "y": user_response([c for _, c in design[1:2]], rng, rows, 10)}
    out.append(("tpf_d30_whole", data, ["effect t = spline(x / basis=tpf degree=30)"], "t",
                design))
    rows = 100
    xs = [[rnd(rng.gauss(3, 1), 6) for _ in range(rows)] for _ in range(4)]
    copies = [[v + 1e-7 * rng.gauss(0, 1) for v in xs[j]] for j in range(3)]
    names = ["x1", "x2", "x3", "x4", "x5", "x6", "x7"]
    design = list(zip(names, xs + copies))
    data = dict(design)
    data["y"] = linear_response(xs, rng)
    out.append(("nearcopy", data, [], "x1-x7", design))
    xs = [[rnd(rng.gauss(3, 1), 6) for _ in range(rows)] for _ in range(4)]
    total = [(a + b + c) * (1 + 1e-12) for a, b, c in zip(*xs[:3])]
    design = list(zip(names[:5], xs + [total]))
    data = dict(design)
    data["y"] = linear_response(xs, rng)
    out.append(("nearsum", data, [], "x1-x5", design))
    out.append(many_level_case(rng))
    return out + wide_spline_cases()


def wide_spline_cases():
    """Spline effects of 64 columns and more, which enter by the blocked sweep, beside another
    predictor z on 100 rows: B-splines of degree 60 (three equal knots) and of degree 50 on
    20 equal knots, and a truncated power basis of degree 60 (three equal knots)."""
    rng = random.Random(60)
    rows = 100
    out = []
    for name, statement, degree, effect in (
            ("bspline_d60", "effect bs = spline(x / degree=60)", 60, "bs"),
            ("bspline_d50_equal20", "effect bs = spline(x / degree=50 knotmethod=equal(20))", 50,
             "bs"),
            ("tpf_d60", "effect t = spline(x / basis=tpf degree=60)", 60, "t")):
        x = [grid(rng, 0, 10) for _ in range(rows)]
        z = [rnd(rng.gauss(0, 1), 6) for _ in range(rows)]
        if effect == "t":
            lo, hi = min(x), max(x)
            design = tpf_design("t", x, degree, [lo + (hi - lo) * i / 4 for i in (1, 2, 3)])
        else:
            design = bspline_design("bs", x, degree, 20 if "equal20" in name else 3, "equal")
        y = [rnd(3 * math.sin(v) + 2 * w + rng.gauss(0, 1), 10) for v, w in zip(x, z)]
        out.append((name, {"x": x, "z": z, "y": y}, [statement], effect + " z",
                    design + [("z", z)]))
    return out


def many_level_case(rng):
    """200 levels of two rows after six dense columns, the last of them the level's number
    plus noise; the last level's rows weigh 1e-5."""
    count, rows = 200, 400
    g = [r % count + 1 for r in range(rows)]
    xs = [[rnd(rng.gauss(0, 1), 6) for _ in range(rows)] for _ in range(5)]
    xs.append([rnd(v / 100 + 1e-5 * rng.gauss(0, 1), 11) for v in g])
    effect = [rng.gauss(0, 1) for _ in range(count)]
    w = [1e-5 if v == count else 1.0 for v in g]
    y = [rnd(effect[v - 1] + sum(x[r] for x in xs) + rng.gauss(0, 1), 10)
         for r, v in enumerate(g)]
    design = [("x%d" % (j + 1), xs[j]) for j in range(6)]
    design += [("g %d" % (k + 1), [1.0 if v == k + 1 else 0.0 for v in g]) for k in range(count)]
    data = {"g": g, "w": w, "y": y}
    data.update({"x%d" % (j + 1): xs[j] for j in range(6)})
    return ("manylevel", data, ["class g", "weight w"], "x1-x6 g", design)


def scaled_ints(values):
    """The values as integers over one power of two: (integers, denominator)."""
    den = max(fractions.Fraction(v).denominator for v in values)
    return [int(fractions.Fraction(v) * den) for v in values], den


def exact_cross(cols, w):
    """The exact corrected weighted cross products of the columns (the last one the
    response), from integer sums over the rows where the columns are non-zero."""
    wi, wd = scaled_ints(w)
    sw = sum(wi)
    sparse = []
    for c in cols:
        ints, den = scaled_ints(c)
        sparse.append(({r: v for r, v in enumerate(ints) if v != 0}, den))
    sums = [sum(wi[r] * v for r, v in s.items()) for s, _ in sparse]
    n = len(cols)
    C = [[None] * n for _ in range(n)]
    for a in range(n):
        sa, da = sparse[a]
        for b in range(a + 1):
            sb, db = sparse[b]
            small, big = (sa, sb) if len(sa) <= len(sb) else (sb, sa)
            s = sum(wi[r] * v * big[r] for r, v in small.items() if r in big)
            num = s * sw - sums[a] * sums[b]
            C[a][b] = C[b][a] = mpmath.mpf(num) / (mpmath.mpf(wd * da * db) * sw)
    return C


def ldl_pivots(C, order, take):
    """Pivots of the columns in `order` swept in that order (after the intercept, which the
    corrected sums hold), each taken when take(k, pivot) says so; the response's pivot last
    (the error SS). Returns the pivots and the columns taken."""
    taken, rows, scaled = [], {}, {}
    pivots = []
    for k in list(order) + [len(C) - 1]:
        u = []
        for idx, l in enumerate(taken):
            u.append(C[k][l] - mpmath.fdot(u[:idx], scaled[l]))
        d = C[k][k] - mpmath.fdot(u, [a / rows[l] for a, l in zip(u, taken)])
        if k == len(C) - 1:
            return pivots, taken, d
        pivots.append(d)
        if take(k, d):
            scaled[k] = [a / rows[l] for a, l in zip(u, taken)]
            rows[k] = d
            taken.append(k)


def user_case(name, design, y, w):
    """Pivots and verdicts of one design's columns in entry order, and its fit. The exact and
    the double elimination advance together: each verdict needs both pivots, and both then
    sweep the columns the verdict takes."""
    C = exact_cross([c for _, c in design] + [y], w)
    p = len(design)
    diag = [C[k][k] for k in range(p)]
    D = double_xpx([c for _, c in design], y, w)
    sweep_np(D, 1)
    rows = []

    def take(k, exact):
        dbl = D[k + 2, k + 2]
        verdict, takes = classify(exact, dbl, diag[k])
        if verdict != "refuse" and abs(exact) < TINY_PIVOT:
            verdict, takes = "either", False
        ratios = ("0", "0") if diag[k] == 0 else (mpmath.nstr(exact / diag[k], 17),
                                                   repr(float(dbl / float(diag[k]))))
        rows.append((name, design[k][0]) + ratios + (verdict, ""))
        if takes:
            sweep_np(D, k + 2)
        return takes

    _, taken, sse = ldl_pivots(C, range(p), take)
    _, _, least = ldl_pivots(C, range(p), lambda k, d: d > diag[k] * mpmath.mpf("1e-150"))
    return rows, (name, len(taken) + 1, mpmath.nstr(sse, 17), mpmath.nstr(least, 17),
                  mpmath.nstr(C[p][p], 17))


def csv_text(header, columns):
    text = ",".join(header) + "\n"
    for r in range(len(columns[0])):
        text += ",".join("0" if c[r] == 0 else repr(c[r]) if isinstance(c[r], float)
                         else str(c[r]) for c in columns) + "\n"
    return text


def user_files():
    """Every user case's data (<case>.csv) and design columns (<case>_x.csv) as CSV text."""
    files = {}
    for name, data, _, _, design in user_cases():
        names = list(data)
        files[name + ".csv"] = csv_text(names, [data[k] for k in names])
        files[name + "_x.csv"] = csv_text([n for n, _ in design], [c for _, c in design])
    return files


def write_user_corpus():
    os.makedirs(USER, exist_ok=True)
    pivots, fits, statements = [], [], []
    for name, data, prologue, effects, design in user_cases():
        w = data.get("w", [1.0] * len(data["y"]))
        r, f = user_case(name, design, data["y"], w)
        pivots += r
        fits.append(f)
        statements.append((name, "|".join(prologue), effects, "w" if "w" in data else ""))
        print(name, len(design), f[1], sum(1 for x in r if x[4] == "either"), flush=True)
    with open(os.path.join(USER, "pivots.csv"), "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["case", "column", "exact", "double", "verdict", "rootratio"])
        out.writerows(pivots)
    with open(os.path.join(USER, "fits.csv"), "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["case", "rank", "sse", "leastsse", "total"])
        out.writerows(fits)
    with open(os.path.join(USER, "cases.csv"), "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["case", "statements", "effects", "weight"])
        out.writerows(statements)

# ------------------------------------------------- running the corpus through qrx

METHODS = [("none", "none"), ("forward", "forward(stop=none)"), ("backward", "backward"),
           ("stepwise", "stepwise"), ("lar", "lar(stop=none)"), ("lasso", "lasso(stop=none)"),
           ("cv", "forward(select=cv stop=none) cvmethod=split(5)")]


def norm_name(s):
    return re.sub(r"[ _:]+", " ", s.strip().lower())


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.reader(f))


def find_table(node, name):
    if isinstance(node, list):
        for item in node:
            t = find_table(item, name)
            if t is not None:
                return t
        return None
    if isinstance(node, dict):
        if node.get("name") == name and node.get("kind") in ("table", "factoid"):
            return node
        return find_table(node.get("children", []), name)
    return None


def cell(table, row, column):
    names = [c["name"] if isinstance(c, dict) else c for c in table["columns"]]
    return table["rows"][row][names.index(column)]


class UserCase:
    def __init__(self, name, prologue, effects, weight, files):
        self.name, self.prologue, self.effects, self.weight = name, prologue, effects, weight
        self.data = list(csv.reader(io.StringIO(files[name + ".csv"])))
        design = list(csv.reader(io.StringIO(files[name + "_x.csv"])))
        self.columns = design[0]
        cols = [[float(r[k]) for r in design[1:]] for k in range(len(self.columns))]
        head = self.data[0]
        y = [float(r[head.index("y")]) for r in self.data[1:]]
        w = [float(r[head.index(weight)]) for r in self.data[1:]] if weight else [1.0] * len(y)
        self.C = exact_cross(cols + [y], w)
        self.verdict = {}
        self.ratio = {}
        self.takes = {}
        self.cache = {}

    def subset(self, accepted, refused):
        """Pivot over diagonal of every accepted column against those before it, of every
        refused one against all accepted, the rank and the least-squares error SS."""
        key = (tuple(accepted), tuple(refused))
        if key not in self.cache:
            keep = set(accepted)
            tiny = mpmath.mpf("1e-150")
            piv, _, sse = ldl_pivots(self.C, accepted + refused,
                                     lambda k, d: k in keep and d > self.C[k][k] * tiny)
            ratios = [d / self.C[k][k] if self.C[k][k] > 0 else mpmath.mpf(0)
                      for k, d in zip(accepted + refused, piv)]
            rank = sum(1 for r in ratios[:len(accepted)] if r >= mpmath.mpf("1e-12"))
            self.cache[key] = (ratios, rank, float(sse))
        return self.cache[key]


def run_program(qrx, cases, cpus, work):
    program, outputs = [], []
    for i, (c, (_, method)) in enumerate((c, m) for c in cases for m in METHODS):
        with open(os.path.join(work, "d%d.csv" % i), "w") as f:
            f.write("\n".join(",".join(r) for r in c.data) + "\n")
        body = "".join("  %s;\n" % s for s in c.prologue.split("|") if s)
        program.append("proc varsifter data=d%d;\n%s  model y = %s / selection=%s;\n"
                       "  performance cpucount=%d;\n  output out=o%d p=p;\nrun;\n"
                       % (i, body, c.effects, method, cpus, i))
        outputs.append("o%d.csv" % i)
    with open(os.path.join(work, "program.qrx"), "w") as f:
        f.write("".join(program))
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
    subprocess.run([qrx, "--work", work, "--json", os.path.join(work, "run.json"),
                    os.path.join(work, "program.qrx")], env=env, capture_output=True)
    with open(os.path.join(work, "run.json")) as f:
        return json.load(f)["steps"], outputs


def check_step(c, method, step, output_path):
    """The faults of one fit, as lines of text; and the columns' DF."""
    faults = []
    if step.get("returnCode", 0) != 0:
        return ["return code %s" % step.get("returnCode")], {}
    pe = find_table(step["output"], "ParameterEstimates")
    anova = find_table(step["output"], "ANOVA")
    if pe is None or anova is None:
        return ["no ParameterEstimates or ANOVA table"], {}
    df = {}
    for r in range(len(pe["rows"])):
        df[norm_name(cell(pe, r, "Parameter"))] = int(cell(pe, r, "DF"))
    index = {n: k for k, n in enumerate(c.columns)}
    listed = [n for n in df if n in index]
    unknown = [n for n in df if n not in index and n != "intercept"]
    if unknown:
        faults.append("parameters not in the design: %s" % unknown)
    accepted = sorted(index[n] for n in listed if df[n] == 1)
    refused = sorted(index[n] for n in listed if df[n] == 0)
    ratios, rank, least = c.subset(accepted, refused)
    if method == "none":
        # Entry order is design order: each column against its verdict, up to the first
        # undecided one the fit decided otherwise than the reference (the pivots after it
        # differ from the reference's).
        for n in c.columns:
            v = c.verdict[n]
            if n not in df:
                faults.append("%s not reported" % n)
                break
            if v == "either" and (df[n] == 1) != c.takes[n]:
                break
            if v == "accept" and df[n] != 1 or v == "refuse" and df[n] == 1:
                faults.append("%s: exact pivot/diagonal %s, verdict %s, DF %d"
                              % (n, mpmath.nstr(mpmath.mpf(c.ratio[n]), 3), v, df[n]))
    for k, r in zip(accepted + refused, ratios):
        n = c.columns[k]
        entry = "in entry order %s, %s" % (mpmath.nstr(mpmath.mpf(c.ratio[n]), 3), c.verdict[n])
        if k in accepted and r < mpmath.mpf("1e-9"):
            faults.append("%s taken (DF 1), pivot/diagonal %s against the columns taken "
                          "before it (%s)" % (n, mpmath.nstr(r, 3), entry))
        if k in refused and r >= mpmath.mpf("1e-7") and c.verdict[n] == "accept":
            faults.append("%s refused (DF 0), pivot/diagonal %s against the columns taken "
                          "(%s)" % (n, mpmath.nstr(r, 3), entry))
    model_df = cell(anova, 0, "DF")
    error = cell(anova, 1, "SS")
    total = cell(anova, 2, "SS")
    if model_df != rank:
        faults.append("Model DF %s, rank of the columns taken %d" % (model_df, rank))
    stop = find_table(step["output"], "StopReason")
    stopped = stop is not None and "maximum number of steps" in str(stop["rows"])
    if not stopped and abs(error - least) > 1e-8 * total:
        faults.append("error SS %.10g, least squares on the columns taken %.10g (%.2g of the "
                      "total)" % (error, least, (error - least) / total))
    if os.path.exists(output_path):
        out = read_rows(output_path)
        h = out[0]
        sse = 0.0
        for r in out[1:]:
            e = float(r[h.index("y")]) - float(r[h.index("p")])
            sse += (float(r[h.index(c.weight)]) if c.weight else 1.0) * e * e
        if abs(error - sse) > 1e-8 * total:
            faults.append("error SS %.10g, predictions' SSE %.10g" % (error, sse))
    else:
        faults.append("no OUTPUT data set")
    if error > total * (1 + 1e-10):
        faults.append("error SS %.10g above the corrected total %.10g" % (error, total))
    return faults, df


def report(qrx):
    cases = []
    files = user_files()
    for name, prologue, effects, weight in read_rows(os.path.join(USER, "cases.csv"))[1:]:
        cases.append(UserCase(name, prologue, effects, weight, files))
    byname = {c.name: c for c in cases}
    for row in read_rows(os.path.join(USER, "pivots.csv"))[1:]:
        byname[row[0]].verdict[row[1]] = row[4]
        byname[row[0]].ratio[row[1]] = row[2]
        byname[row[0]].takes[row[1]] = row[4] == "accept" or (
            row[4] == "either" and float(row[2]) >= 1e-8
            and abs(float(row[3]) - float(row[2])) <= 0.1 * float(row[2]))
    runs = {}
    for cpus in (1, 8):
        with tempfile.TemporaryDirectory() as work:
            steps, outputs = run_program(os.path.abspath(qrx), cases, cpus, work)
            pairs = [(c, m) for c in cases for m, _ in METHODS]
            for (c, m), step, out in zip(pairs, steps, outputs):
                runs[(c.name, m, cpus)] = check_step(c, m, step, os.path.join(work, out))
    failed = 0
    for c in cases:
        for m, _ in METHODS:
            lines = []
            for cpus in (1, 8):
                faults, _ = runs.get((c.name, m, cpus), (["no step"], {}))
                lines += ["cpucount=%d: %s" % (cpus, f) for f in faults]
            if (c.name, m, 1) in runs and runs[(c.name, m, 1)][1] != runs[(c.name, m, 8)][1]:
                lines.append("1 and 8 threads differ in the columns taken")
            failed += bool(lines)
            for line in lines:
                print("%s %s: %s" % (c.name, m, line))
    print("%d of %d fits fail" % (failed, len(cases) * len(METHODS)))
    return 1 if failed else 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--report":
        sys.exit(report(sys.argv[2]))
    if len(sys.argv) == 2 and sys.argv[1] == "--user":
        return write_user_corpus()
    if len(sys.argv) == 2 and sys.argv[1] == "--data":
        files = {name + ".csv": data_text(cols, y) for name, cols, y, _, _ in cases()}
        files.update(("user/" + f, text) for f, text in user_files().items())
        for f in sorted(files):
            sys.stdout.write("%s\n%s" % (f, files[f]))
        return None
    if len(sys.argv) > 1:
        sys.exit("usage: gen_pivot_rank_ref.py [--user | --data | --report QRX]")
    write_user_corpus()
    os.makedirs(OUT, exist_ok=True)
    pivots, fits = [], []
    for name, cols, y, _, _ in cases():
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
