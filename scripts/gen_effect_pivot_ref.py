#!/usr/bin/python3
"""Writes tests/data/manylevels/effectpivot_fit.csv: on scripts/synthdata.py's
effect_pivot_csv (y, a CLASS variable g of 1,000 levels coded PARAM=EFFECT, the last the
reference, and a weight w: one level's rows weigh 0, forty levels' 1e-9), the columns that
the rank rule takes of the intercept and g in that order, and numpy's weighted least-squares
fit on them: its rank, error sum of squares and the intercept's estimate.

The rule takes a column when its pivot (the weighted sum of squares of its residual on the
columns taken before it) exceeds 1e-8 of its corrected sum of squares and 64 u Q, Q =
|v|' S |v| with v = (1, coefficients on the columns taken before it but the intercept) and S
the sizes of the corrected sums (|a_il| + |a_i1 a_l1| / a_11), the rounding the elimination
can leave in the pivot. Each column's decision is asserted to hold with a margin of a fifth
on both bounds, so that rounding of the reference itself cannot move it; the last column
(the 999th level's) is the one whose pivot clears 1e-8 of its diagonal and not the rounding.
Run from the repository root: /usr/bin/python3 scripts/gen_effect_pivot_ref.py"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402

OUT = "tests/data/manylevels"
U = 2.0 ** -53


def read():
    _, rows = synthdata.columns(synthdata.effect_pivot_csv())
    y = np.array([float(r[0]) for r in rows])
    level = np.array([int(r[1][1:]) - 1 for r in rows])
    w = np.array([float(r[2]) for r in rows])
    return y, level, w


def design(level):
    """The intercept and g's PARAM=EFFECT columns."""
    levels = level.max() + 1
    cols = [np.ones(len(level))]
    for j in range(levels - 1):
        cols.append((level == j).astype(float) - (level == levels - 1).astype(float))
    return np.column_stack(cols)


def rounding(X, w, taken, k):
    """64 u Q of column k after the columns `taken` (the intercept first)."""
    A = (X * w[:, None]).T @ X
    prev = taken[1:]
    s = np.sqrt(w)
    b = np.linalg.lstsq(X[:, taken] * s[:, None], X[:, k] * s, rcond=None)[0][1:]
    cols = [k] + prev
    v = np.concatenate([[1.0], np.abs(b)])
    size = np.abs(A[np.ix_(cols, cols)]) + np.abs(np.outer(A[cols, 0], A[cols, 0])) / A[0, 0]
    return 64 * U * (v @ size @ v)


def taken_columns(X, w):
    s = np.sqrt(w)
    Xs = X * s[:, None]
    mean = (w @ X) / np.sum(w)
    Q = np.zeros((len(w), 0))
    taken, doubtful = [], []
    for k in range(X.shape[1]):
        r = Xs[:, k].copy()
        for _ in range(2):
            r -= Q @ (Q.T @ r)
        pivot = r @ r
        judged = np.sum(w * (X[:, k] - mean[k]) ** 2) if k > 0 else np.sum(w)
        keep = pivot > 1e-8 * judged
        assert not (0.8e-8 * judged < pivot < 1.2e-8 * judged), k
        if keep and k > 0 and pivot < 1e-6 * judged:
            bound = rounding(X, w, taken, k)
            assert not (0.8 * bound < pivot < 1.2 * bound), (k, pivot, bound)
            keep = pivot > bound
            doubtful.append((k, pivot, judged, bound, keep))
        if keep:
            taken.append(k)
            Q = np.column_stack([Q, r / np.sqrt(pivot)])
    return taken, doubtful


def main():
    y, level, w = read()
    X = design(level)
    taken, doubtful = taken_columns(X, w)
    for k, pivot, judged, bound, keep in doubtful:
        print("column %d: pivot %.3g, 1e-8 of its diagonal %.3g, rounding %.3g: %s"
              % (k, pivot, 1e-8 * judged, bound, "taken" if keep else "refused"))
    s = np.sqrt(w)
    Xt = X[:, taken]
    b = np.linalg.lstsq(Xt * s[:, None], y * s, rcond=None)[0]
    r = y - Xt @ b
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "effectpivot_fit.csv"), "w") as f:
        f.write("rank,sse,intercept\n%d,%.17g,%.17g\n" % (len(taken), np.sum(w * r * r), b[0]))


if __name__ == "__main__":
    main()
