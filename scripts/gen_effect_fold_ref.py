#!/usr/bin/python3
"""Writes tests/data/manylevels/effectfold_fits.csv: on scripts/synthdata.py's effect_fold_csv
(y, z, c, x1, x2, a CLASS variable m, a weight w and a frequency f), the fits of the model
y = z c x1 x2 m to the training rows of each of SPLIT(3)'s folds (row i in fold i mod 3),
with m coded PARAM=EFFECT (the last level the reference) and PARAM=GLM: weighted least
squares (weights w f) in 50-digit arithmetic (mpmath) on the columns each fold refits; for
each, the number of columns and the estimates of x1 and x2, which the levels do not nearly
span (those of the intercept, z, c and the levels are ill-determined: z and c nearly follow
the levels).

A fold refits the model's columns, those the rank rule takes on all the rows, of the
intercept, z, c, x1, x2 and m's in that order, but for those its training rows do not
determine (a pivot of 0 in exact arithmetic: a level without training rows, or under the
effect coding the repeated column of another such level). The rule takes a column when its
pivot (the weighted sum of squares of its residual on the columns taken before it) exceeds
1e-8 of its corrected sum of squares and 64 u Q, Q = |v|' S |v| with v = (1, coefficients on
the columns taken before it but the intercept) and S the sizes of the corrected sums (|a_il| +
|a_i1 a_l1| / a_11), the rounding the elimination can leave in the pivot. Each decision is
asserted to hold with a margin of a fifth on both bounds, so that rounding of the reference
itself cannot move it. Under the effect coding the model takes level L0168, whose pivot in
each fold's rows lies near 2e-8, within that bound of the fold's sums (2.1e-7): the fold's
rows determine it, and the fold refits it. Run from the repository root:
/usr/bin/python3 scripts/gen_effect_fold_ref.py"""
import os
import sys

import mpmath as mp

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402

mp.mp.dps = 50
OUT = "tests/data/manylevels"
U = mp.mpf(2) ** -53


def read():
    head, rows = synthdata.columns(synthdata.effect_fold_csv())
    col = {h: i for i, h in enumerate(head)}
    return [{h: r[i] for h, i in col.items()} for r in rows]


def design(rows, coding):
    """The intercept, z, c, x1, x2 and m's columns under `coding`, as exact binary values."""
    levels = sorted({r["m"] for r in rows})
    k = len(levels) - 1 if coding == "EFFECT" else len(levels)
    X = []
    for r in rows:
        x = [mp.mpf(1)] + [mp.mpf(float(r[c])) for c in ("z", "c", "x1", "x2")]
        e = [mp.mpf(0)] * k
        j = levels.index(r["m"])
        if j < k:
            e[j] = mp.mpf(1)
        else:
            e = [mp.mpf(-1)] * k
        X.append(x + e)
    return X


def gram(X, w):
    n = len(X[0])
    A = [[mp.mpf(0)] * n for _ in range(n)]
    for x, wt in zip(X, w):
        nz = [i for i in range(n) if x[i] != 0]
        for a in nz:
            for b in nz:
                A[a][b] += wt * x[a] * x[b]
    return A


def solve(A, taken, col):
    """The coefficients of column `col` (a list over the rows of A) on the taken columns."""
    M = mp.matrix([[A[i][j] for j in taken] for i in taken])
    return mp.lu_solve(M, mp.matrix([col[i] for i in taken]))


def rounding(A, taken, k):
    """64 u Q of column k after the columns `taken` (the intercept first)."""
    b = solve(A, taken, [A[i][k] for i in range(len(A))])
    cols = [k] + taken[1:]
    v = [mp.mpf(1)] + [abs(b[i]) for i in range(1, len(taken))]

    def size(i, l):
        return abs(A[i][l]) + abs(A[i][0] * A[l][0]) / A[0][0]
    return 64 * U * mp.fsum(v[p] * v[q] * size(cols[p], cols[q])
                            for p in range(len(cols)) for q in range(len(cols)))


def taken_columns(A):
    """The columns the rule takes, in order, with the margin asserted on every decision."""
    n = len(A)
    M = [row[:] for row in A]
    taken = []
    for c in range(n):
        pivot = M[c][c]
        judged = A[c][c] - A[c][0] ** 2 / A[0][0] if c > 0 else A[0][0]
        if judged <= 0:
            assert pivot <= 0 or pivot < mp.mpf("1e-30") * A[0][0], c
            continue
        ratio = pivot / judged
        assert not mp.mpf("0.8e-8") < ratio < mp.mpf("1.2e-8"), (c, ratio)
        keep = ratio > mp.mpf("1e-8")
        if keep and ratio < mp.mpf("1e-6"):
            bound = rounding(A, taken, c)
            assert not 0.8 * bound < pivot < 1.2 * bound, (c, pivot, bound)
            keep = pivot > bound
        if not keep:
            continue
        taken.append(c)
        for i in range(c + 1, n):
            if M[i][c] == 0:
                continue
            f = M[i][c] / pivot
            for j in range(c + 1, n):
                if M[c][j] != 0:
                    M[i][j] -= f * M[c][j]
    return taken


def determined(A, cols):
    """The columns of `cols`, in order, whose pivot on those kept before them is not 0 in
    exact arithmetic (below 1e-30 of the column's diagonal: the reference's own rounding)."""
    M = [row[:] for row in A]
    kept = []
    for c in cols:
        pivot = M[c][c]
        if not pivot > mp.mpf("1e-30") * max(A[c][c], mp.mpf(1)):
            continue
        kept.append(c)
        for i in cols:
            if i <= c or M[i][c] == 0:
                continue
            f = M[i][c] / pivot
            for j in cols:
                if j > c and M[c][j] != 0:
                    M[i][j] -= f * M[c][j]
    return kept


def fold_fits(rows, coding):
    """(fold, columns refitted, x1's estimate, x2's) for each fold's training rows."""
    X = design(rows, coding)
    y = [mp.mpf(float(r["y"])) for r in rows]
    wf = [mp.mpf(float(r["w"])) * int(r["f"]) for r in rows]
    model = taken_columns(gram(X, wf))
    fits = []
    for fold in range(3):
        train = [i for i in range(len(rows)) if i % 3 != fold]
        A = gram([X[i] for i in train], [wf[i] for i in train])
        taken = determined(A, model)
        xy = [mp.fsum(wf[i] * X[i][j] * y[i] for i in train) for j in range(len(A))]
        b = solve(A, taken, xy)
        assert taken[:5] == [0, 1, 2, 3, 4], taken[:5]
        fits.append((fold + 1, len(taken), b[3], b[4]))
    return fits


def main():
    rows = read()
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "effectfold_fits.csv"), "w") as f:
        f.write("coding,fold,columns,x1,x2\n")
        for coding in ("EFFECT", "GLM"):
            for fold, count, b1, b2 in fold_fits(rows, coding):
                f.write("%s,%d,%d,%s,%s\n" % (coding, fold, count, mp.nstr(b1, 17),
                                               mp.nstr(b2, 17)))


if __name__ == "__main__":
    main()
