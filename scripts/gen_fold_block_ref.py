#!/usr/bin/python3
"""Reference fits for the pivots of a many-level effect in a fold record's refit of the
model's columns (tests/model/foldblock_test.cpp).

The rows: four levels of five rows each (GLM coding, one column per level), a covariate x
that is its level's number plus a within-level spread of DELTA (so that with the intercept
and x swept the third level's column is left a pivot below 1e-8 of its diagonal, yet far
above the rounding of the sums), and a response with a spread of its own. Written as
tests/data/foldblock/rows.csv (level, x, y, each double written to round-trip).

For each set of level columns a run may take beside the intercept and x, the error SS of
the least-squares fit on the rows as written, in mpmath at 60 digits, and the pivot of the
set's last level column relative to its sum of squares about the mean (to show it lies below
the floor of 1e-8): tests/data/foldblock/ref.csv (columns taken as '1'/'0' by level, error
SS, that ratio).

Beside them, a reference-coded CLASS whose reference level weighs next to nothing
(reference_rows): tests/data/foldblock/refrows.csv (level, y, weight) and refcoded.csv (the
error SS of the fit that takes every level's column, and the last level's pivot over its
centred sum of squares).

A fold whose sums lose a level its rows hold (lost_rows): five GLM-coded levels, the fourth
without rows (as a fold's training rows can miss a level), and x its level's value plus a
spread of LOST_DELTA, so that with the intercept and x swept the third level's pivot is
7e-18 of its centred sum of squares: no sum in double holds it, while the rows do (the
pivot is not 0, and a factor of the rows, at their condition near 4e8, resolves it). Written
as tests/data/foldblock/lostrows.csv (level, x, y) and lostref.csv (the error SS of the fit
on the intercept, x and the first two levels' columns, and that pivot ratio).

Run from the repository root: /usr/bin/python3 scripts/gen_fold_block_ref.py
"""
import math
import os

import mpmath as mp

import mpfit

OUT = "tests/data/foldblock"
LEVELS, PER, DELTA = 4, 5, 2e-5
# The sets: the whole rule's (the third level's column refused), the model's columns (all
# but the last, which the intercept spans), and a model that left the second level out.
SETS = ["1100", "1110", "1010"]


def rows():
    out = []
    for i in range(LEVELS * PER):
        j, e = divmod(i, PER)
        x = (j + 1) + DELTA * (e - 2) * (1.0 + 0.3 * j)
        y = 1.0 + 0.3 * j + 0.8 * math.sin(1.7 * i) + 0.2 * x
        out.append((j, float(x), float(y)))
    return out


def fit(data, taken):
    """Error SS and the last taken column's pivot over its centred sum of squares."""
    cols = [[mp.mpf(1)] * len(data), [mp.mpf(x) for _, x, _ in data]]
    for j, t in enumerate(taken):
        if t == "1":
            cols.append([mp.mpf(1 if lv == j else 0) for lv, _, _ in data])
    y = [mp.mpf(v) for _, _, v in data]
    p = len(cols)
    A = mp.matrix(p, p)
    b = mp.matrix(p, 1)
    for a in range(p):
        b[a] = mp.fsum(cols[a][i] * y[i] for i in range(len(y)))
        for c in range(p):
            A[a, c] = mp.fsum(cols[a][i] * cols[c][i] for i in range(len(y)))
    beta = mp.lu_solve(A, b)
    sse = mp.fsum((y[i] - mp.fsum(beta[a] * cols[a][i] for a in range(p))) ** 2
                  for i in range(len(y)))
    # the last column's pivot: its residual SS on the columns before it
    last = cols[-1]
    B = mp.matrix([[A[a, c] for c in range(p - 1)] for a in range(p - 1)])
    r = mp.lu_solve(B, mp.matrix([A[a, p - 1] for a in range(p - 1)]))
    pivot = A[p - 1, p - 1] - mp.fsum(r[a] * A[a, p - 1] for a in range(p - 1))
    n = len(y)
    centred = A[p - 1, p - 1] - mp.fsum(last) ** 2 / n
    return sse, pivot / centred


# A reference-coded CLASS of 300 levels of two rows each beside a reference level whose two
# rows weigh 2e-8 each: the levels' weights fall 6.7e-11 of the total short of the
# intercept's, and the last level's pivot is 2e-8 of its diagonal, above the rule's floor.
REF_LEVELS, REF_WEIGHT = 300, 2e-8


def reference_rows():
    out = []
    for j in range(REF_LEVELS + 1):
        for r in range(2):
            y = 0.05 * ((7 * j) % 13) + (0.1 if r else 0.0) + (10.0 if j == REF_LEVELS else 0.0)
            out.append((j, float(y), REF_WEIGHT if j == REF_LEVELS else 1.0))
    return out


def reference_fit(data):
    """Error SS of the weighted fit on the intercept and every level's column (the
    reference level's rows have none), and the last column's pivot over its centred sum of
    squares: the levels' columns are orthogonal but for the intercept, so the fit is each
    level's weighted mean, and the last pivot w_l w_r / (w_l + w_r) against w_l - w_l^2 / W."""
    sse = mp.mpf(0)
    for j in range(REF_LEVELS + 1):
        rows = [(mp.mpf(y), mp.mpf(w)) for lv, y, w in data if lv == j]
        mean = mp.fsum(y * w for y, w in rows) / mp.fsum(w for _, w in rows)
        sse += mp.fsum(w * (y - mean) ** 2 for y, w in rows)
    wl = mp.fsum(mp.mpf(w) for lv, _, w in data if lv == REF_LEVELS - 1)
    wr = mp.fsum(mp.mpf(w) for lv, _, w in data if lv == REF_LEVELS)
    total = mp.fsum(mp.mpf(w) for _, _, w in data)
    return sse, (wl * wr / (wl + wr)) / (wl - wl * wl / total)


# The lost level's rows: levels 0, 1, 2 and 4 of five rows each at x near 1, 2, 3 and 5.
LOST_X, LOST_DELTA = {0: 1.0, 1: 2.0, 2: 3.0, 4: 5.0}, 1e-9


def lost_rows():
    out, i = [], 0
    for j, centre in LOST_X.items():
        for e in range(PER):
            x = centre + LOST_DELTA * (e - 2) * (1.0 + 0.3 * j) * (1.0 + 0.1 * ((e * e) % 3))
            y = 1.0 + 0.3 * j + 0.8 * math.sin(1.7 * i) + 0.2 * x
            out.append((j, float(x), float(y)))
            i += 1
    return out


def lost_fit(data):
    """Error SS of the fit on the intercept, x and the first two levels' columns, and the
    third level's pivot after them over its centred sum of squares."""
    n = len(data)
    one = [mp.mpf(1)] * n
    x = [mp.mpf(v) for _, v, _ in data]
    y = [mp.mpf(v) for _, _, v in data]
    level = lambda j: [mp.mpf(1 if lv == j else 0) for lv, _, _ in data]
    cols = [one, x, level(0), level(1), level(2)]
    q = len(cols) - 1
    sse, _, _ = mpfit.least_squares([[c[i] for c in cols[:q]] for i in range(n)], y)
    A = mp.matrix([[mp.fsum(u[i] * v[i] for i in range(n)) for v in cols] for u in cols])
    B = mp.matrix([[A[a, c] for c in range(q)] for a in range(q)])
    r = mp.lu_solve(B, mp.matrix([A[a, q] for a in range(q)]))
    pivot = A[q, q] - mp.fsum(r[a] * A[a, q] for a in range(q))
    centred = A[q, q] - mp.fsum(cols[q]) ** 2 / n
    return sse, pivot / centred


def main():
    mp.mp.dps = 60
    os.makedirs(OUT, exist_ok=True)
    lost = lost_rows()
    with open(os.path.join(OUT, "lostrows.csv"), "w") as f:
        f.write("level,x,y\n")
        for j, x, y in lost:
            f.write("%d,%r,%r\n" % (j, x, y))
    sse, ratio = lost_fit(lost)
    with open(os.path.join(OUT, "lostref.csv"), "w") as f:
        f.write("sse,ratio\n%s,%s\n" % (mp.nstr(sse, 17), mp.nstr(ratio, 6)))
    ref = reference_rows()
    with open(os.path.join(OUT, "refrows.csv"), "w") as f:
        f.write("level,y,w\n")
        for j, y, w in ref:
            f.write("%d,%r,%r\n" % (j, y, w))
    sse, ratio = reference_fit(ref)
    with open(os.path.join(OUT, "refcoded.csv"), "w") as f:
        f.write("sse,ratio\n%s,%s\n" % (mp.nstr(sse, 17), mp.nstr(ratio, 6)))
    data = rows()
    with open(os.path.join(OUT, "rows.csv"), "w") as f:
        f.write("level,x,y\n")
        for j, x, y in data:
            f.write("%d,%r,%r\n" % (j, x, y))
    with open(os.path.join(OUT, "ref.csv"), "w") as f:
        f.write("taken,sse,ratio\n")
        for s in SETS:
            sse, ratio = fit(data, s)
            f.write("%s,%s,%s\n" % (s, mp.nstr(sse, 17), mp.nstr(ratio, 6)))


if __name__ == "__main__":
    main()
