#!/usr/bin/python3
"""The rank rule's judgement of a B-spline column entering beside an EFFECT-coded CLASS of
153 levels without an intercept, and the least-squares fit it leads to, from the data in
tests/data/roadtightform/d.csv (453 rows of an oracle draw, seed 9701075: x1, x2, the
levels m1, the response y and the weight w).

The columns in the order the model takes them: x1, the 152 effect-coded columns of m1 (the
levels in sorted order, the last the reference, its rows -1 in every column), x2, then the
12 columns of SPLINE(x1 / DEGREE=8) from scipy's BSpline.design_matrix on the knots the
procedure places (three interior knots equally spaced, boundary knots spaced like them, the
innermost moved just outside the data). Each column's pivot on the columns taken before it,
its sum of squares about zero as the diagonal, and the two forms of the rule's rounding
bound: 64 u Q with Q = |v|' |X'X| |v|, v = (1, -b) over the column and the columns taken, b
its coefficients on them, and 64 u r^2 with r = sqrt(a_kk) + sum |b_i| sqrt(a_ii), which
bounds Q (u = 2^-53). A column is taken where its pivot exceeds both 1e-8 of its diagonal
and 64 u Q. Everything in mpmath at 60 digits from the doubles of the design.

Writes tests/data/roadtightform/ref.csv (name,value): the model DF and error SS of the
fit of the columns taken, the spline's columns refused, and for S1 12 its pivot over its
diagonal, over 64 u Q and over 64 u r^2. Run from the repository root:
/usr/bin/python3 scripts/gen_road_tight_form_ref.py"""
import csv
import os

import mpmath as mp
import numpy as np
from scipy.interpolate import BSpline

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "roadtightform")
DEGREE, KNOTS = 8, 3
U = mp.mpf(2) ** -53
mp.mp.dps = 60


def spline(x):
    lo, hi = x.min(), x.max()
    step, e = (hi - lo) / (KNOTS + 1), 1.110223024625157e-13
    knots = ([lo - j * step for j in range(DEGREE - 1, 0, -1)] + [lo - e] +
             [lo + j * step for j in range(1, KNOTS + 1)] + [hi + e] +
             [hi + j * step for j in range(1, DEGREE)])
    ext = np.concatenate([[knots[0] - 1], knots, [knots[-1] + 1]])
    return BSpline.design_matrix(x, ext, DEGREE).toarray()


def design():
    with open(os.path.join(OUT, "d.csv")) as f:
        rows = list(csv.DictReader(f))
    x1 = np.array([float(r["x1"]) for r in rows])
    x2 = np.array([float(r["x2"]) for r in rows])
    y = np.array([float(r["y"]) for r in rows])
    w = np.array([float(r["w"]) for r in rows])
    levels = sorted({r["m1"] for r in rows})
    m = np.array([[1.0 if r["m1"] == lv else (-1.0 if r["m1"] == levels[-1] else 0.0)
                   for lv in levels[:-1]] for r in rows])
    S = spline(x1)
    names = (["x1"] + ["m1 " + lv for lv in levels[:-1]] + ["x2"] +
             ["S1 %d" % (j + 1) for j in range(S.shape[1])])
    X = np.column_stack([x1, m, x2, S])
    keep = w > 0
    return names, X[keep], y[keep], w[keep]


def cross_products(X, y, w):
    """X'WX with y as the last column, exact sums of the doubles' products in mpmath."""
    A = [[mp.mpf(float(v)) for v in X[:, j]] for j in range(X.shape[1])] + [
        [mp.mpf(float(v)) for v in y]]
    W = [mp.mpf(float(v)) for v in w]
    p = len(A)
    G = mp.matrix(p, p)
    for i in range(p):
        wi = [a * b for a, b in zip(A[i], W)]
        for j in range(i + 1):
            if any(A[j]):
                G[i, j] = G[j, i] = mp.fsum(a * b for a, b in zip(wi, A[j]))
    return G


def sweep(M, k):
    p = M.rows
    piv = M[k, k]
    rk = [M[k, j] for j in range(p)]
    for i in range(p):
        if i != k and M[i, k] != 0:
            f = M[i, k] / piv
            for j in range(p):
                if j != k:
                    M[i, j] -= f * rk[j]
    for j in range(p):
        if j != k:
            M[k, j] = M[j, k] = rk[j] / piv
    M[k, k] = -1 / piv


def judge(G, names):
    """Each column in turn: (name, pivot / diagonal, pivot / 64uQ, pivot / 64ur^2, taken)."""
    M = G.copy()
    taken, out = [], []
    for k, name in enumerate(names):
        d, piv = G[k, k], M[k, k]
        at = [k] + taken
        v = [mp.mpf(1)] + [abs(M[i, k]) for i in taken]
        Q = mp.fsum(v[i] * v[l] * abs(G[at[i], at[l]])
                    for i in range(len(at)) for l in range(len(at)))
        r = mp.fsum(v[i] * mp.sqrt(G[at[i], at[i]]) for i in range(len(at)))
        take = d > 0 and piv > max(mp.mpf("1e-8") * d, 64 * U * Q)
        out.append((name, piv / d if d > 0 else 0, piv / (64 * U * Q) if Q > 0 else 0,
                    piv / (64 * U * r * r) if r > 0 else 0, take))
        if take:
            taken.append(k)
            sweep(M, k)
    return out, M


def main():
    names, X, y, w = design()
    G = cross_products(X, y, w)
    judged, M = judge(G, names)
    p = len(names)
    refused = [n for n, _, _, _, t in judged if not t and n.startswith("S1")]
    s12 = next(j for j in judged if j[0] == "S1 12")
    rows = [("model_df", sum(1 for j in judged if j[4])),
            ("error_ss", mp.nstr(M[p, p], 17)),
            ("refused", " ".join(refused)),
            ("s12_pivot_ratio", mp.nstr(s12[1], 6)),
            ("s12_over_tight", mp.nstr(s12[2], 6)),
            ("s12_over_rough", mp.nstr(s12[3], 6))]
    with open(os.path.join(OUT, "ref.csv"), "w") as f:
        for k, v in rows:
            f.write("%s,%s\n" % (k, v))
    for k, v in rows:
        print(k, v)


if __name__ == "__main__":
    main()
