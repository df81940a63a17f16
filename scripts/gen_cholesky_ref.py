#!/usr/bin/python3
"""Exact references for the Cholesky factor of a packed triangle between a subset of its
columns (vsfCholeskyOf, tests/model/cholesky_test.cpp), which the many-level road's trials
take over the model's swept columns and whose existence its swept diagonal checks.

The triangle: X'X of ROWS rows of COLUMNS columns (column 0 the response, never among the
subset), each value a double that round-trips, summed in mpmath at 60 digits and rounded to
double once, so that the triangle as written is exact. The subset S: columns 1 .. COLUMNS - 1
but SKIPPED, 37 columns: two blocks of sixteen rows and part of a third. Written as
tests/data/choleskyblock/triangle.csv (the packed triangle, row by row, one value a line)
and factor.csv (i, j, L(i, j) for j <= i over S, from the triangle as written, 60 digits).

An indefinite one: the diagonal of column BAD set below its Schur complement over the columns
of S before it, so that its pivot (the first not positive) is minus half of what it was; the
columns of S without BAD keep a factor (a principal part of the triangle as it was). Written
as bad.csv (the column, its diagonal as written, the pivot over S at that diagonal in
mpmath, and its place in S).

Run from the repository root: /usr/bin/python3 scripts/gen_cholesky_ref.py
"""
import math
import os

import mpmath as mp

OUT = "tests/data/choleskyblock"
ROWS, COLUMNS = 200, 40
SKIPPED = {4, 17}
BAD = 20
mp.mp.dps = 60


def value(i, k):
    if k == 0:
        return float(math.cos(0.11 * i) + 0.05 * i)
    return float(math.sin(0.37 * (i + 1) * (k + 1)) + 0.1 * k * math.cos(0.5 * i + k) + 0.02 * k)


def triangle():
    X = [[mp.mpf(value(i, k)) for k in range(COLUMNS)] for i in range(ROWS)]
    return [[float(mp.fsum(X[i][a] * X[i][b] for i in range(ROWS))) for b in range(a + 1)]
            for a in range(COLUMNS)]


def cholesky(T, S):
    """L over S at mpmath's precision, and the first pivot that is not positive (or None)."""
    n = len(S)
    L = [[mp.mpf(0)] * n for _ in range(n)]
    for j in range(n):
        d = mp.mpf(T[S[j]][S[j]]) - mp.fsum(L[j][t] ** 2 for t in range(j))
        if d <= 0:
            return L, (j, d)
        L[j][j] = mp.sqrt(d)
        for i in range(j + 1, n):
            a, b = max(S[i], S[j]), min(S[i], S[j])
            L[i][j] = (mp.mpf(T[a][b]) - mp.fsum(L[i][t] * L[j][t] for t in range(j))) / L[j][j]
    return L, None


def main():
    os.makedirs(OUT, exist_ok=True)
    T = triangle()
    S = [k for k in range(1, COLUMNS) if k not in SKIPPED]
    L, failed = cholesky(T, S)
    assert failed is None
    with open(os.path.join(OUT, "triangle.csv"), "w") as f:
        f.write("value\n")
        for row in T:
            for v in row:
                f.write(repr(v) + "\n")
    with open(os.path.join(OUT, "factor.csv"), "w") as f:
        f.write("i,j,value\n")
        for i in range(len(S)):
            for j in range(i + 1):
                f.write("%d,%d,%s\n" % (i, j, mp.nstr(L[i][j], 25)))
    # Column BAD's pivot over the columns of S before it, then its diagonal lowered by one
    # and a half times that pivot, rounded to double.
    place = S.index(BAD)
    pivot = mp.mpf(T[BAD][BAD]) - mp.fsum(L[place][t] ** 2 for t in range(place))
    bad = [row[:] for row in T]
    bad[BAD][BAD] = float(mp.mpf(T[BAD][BAD]) - mp.mpf(1.5) * pivot)
    _, failed = cholesky(bad, S)
    assert failed is not None and failed[0] == place and failed[1] < 0
    _, rest = cholesky(bad, [k for k in S if k != BAD])
    assert rest is None
    with open(os.path.join(OUT, "bad.csv"), "w") as f:
        f.write("column,diagonal,pivot,place\n")
        f.write("%d,%s,%s,%d\n" % (BAD, repr(bad[BAD][BAD]), mp.nstr(failed[1], 20), place))


if __name__ == "__main__":
    main()
