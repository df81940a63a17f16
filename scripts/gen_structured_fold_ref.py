#!/usr/bin/python3
"""CV PRESS by exact fold refits where the training rows of some folds are nearly dependent,
beside a CLASS effect of many levels: the data are scripts/synthdata.py's fold_copy_csv
(levels of g with ten rows each, x2 within 10^-e of x1 except on fold 1's rows), which the
test makes at run time from the same recipe; the folds are SPLIT(5) (row r in fold r mod 5).

For the models x1 x2 (with an intercept) and x1 x2 g, the sum over the folds of the held-out
squared errors of the least-squares refit without the fold, in mpmath at 60 digits on the
values as written: with g the refit is taken within the levels (the training rows' level
means taken off the response and the columns, the slopes those of the rest, and a held-out
row's fit its level's training mean plus the slopes times its columns less theirs).

Writes tests/data/structuredfolds/press_ref.csv: levels, e, step (0: x1 x2; 1: with g),
CV PRESS.
"""
import os
import sys

import mpmath as mp

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "structuredfolds")
K = 5
# (levels, e): the family the test runs.
CASES = [(100, 3), (100, 4), (100, 5), (100, 6), (1000, 5), (3000, 6)]


def fold_error(g, X, y, by_level, out):
    """Held-out squared error of the refit without fold `out` on the columns X, with an
    intercept or within the levels of g."""
    n, p = len(y), len(X[0])
    train = [i for i in range(n) if i % K != out]
    key = (lambda i: g[i]) if by_level else (lambda i: 0)
    groups = {}
    for i in train:
        groups.setdefault(key(i), []).append(i)
    means = {k: ([mp.fsum(X[i][c] for i in rows) / len(rows) for c in range(p)],
                 mp.fsum(y[i] for i in rows) / len(rows)) for k, rows in groups.items()}
    dx = {i: [X[i][c] - means[key(i)][0][c] for c in range(p)] for i in train}
    A, b = mp.zeros(p, p), mp.zeros(p, 1)
    for c in range(p):
        b[c] = mp.fsum(dx[i][c] * (y[i] - means[key(i)][1]) for i in train)
        for e in range(c, p):
            A[c, e] = A[e, c] = mp.fsum(dx[i][c] * dx[i][e] for i in train)
    beta = mp.lu_solve(A, b)
    err = []
    for i in range(out, n, K):
        mx, my = means[key(i)]
        fit = my + mp.fsum(beta[c] * (X[i][c] - mx[c]) for c in range(p))
        err.append((y[i] - fit) ** 2)
    return mp.fsum(err)


def main():
    mp.mp.dps = 60
    os.makedirs(OUT, exist_ok=True)
    lines = ["levels,e,step,press"]
    for levels, e in CASES:
        _, rows = synthdata.columns(synthdata.fold_copy_csv(levels, e))
        y = [mp.mpf(r[0]) for r in rows]
        g = [r[1] for r in rows]
        X = [[mp.mpf(r[2]), mp.mpf(r[3])] for r in rows]
        for step, by_level in enumerate([False, True]):
            press = mp.fsum(fold_error(g, X, y, by_level, f) for f in range(K))
            lines.append("%d,%d,%d,%s" % (levels, e, step, mp.nstr(press, 20)))
    with open(os.path.join(OUT, "press_ref.csv"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
