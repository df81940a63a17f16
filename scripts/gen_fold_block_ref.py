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

Run from the repository root: /usr/bin/python3 scripts/gen_fold_block_ref.py
"""
import math
import os

import mpmath as mp

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


def main():
    mp.mp.dps = 60
    data = rows()
    os.makedirs(OUT, exist_ok=True)
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
