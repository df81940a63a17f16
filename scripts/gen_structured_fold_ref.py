#!/usr/bin/python3
"""CV PRESS by exact fold refits where a fold's training rows are nearly dependent, beside a
CLASS effect of many levels.

Two designs, each `levels` levels of g with ten rows apiece (level i on rows 10i..10i+9), the
folds SPLIT(5) (row r in fold r mod 5, so every level has two rows in every fold):
  copy: x2 = x1 + eps * noise except on fold 1's rows, where x2 = x1 + noise; the folds that
        leave fold 1 out see x2 within eps of x1.
  tied: z = (level index) + eps * noise, a column within eps of the span of g's columns.
y = x1 + a level effect + noise. For the models that enter the MODEL statement's effects in
turn (the first two from the start, then g; z, aliased by g at eps 1e-7, then left out), the sum over the folds of the held-out squared
errors of the least-squares refit without the fold, in mpmath at 60 digits on the rows as
written: with g in the model the refit is taken within the levels (the training rows' level
means taken off the response and the columns, the slopes those of the rest, a held-out row's
fit its level's training mean plus the slopes times its columns less theirs).

Writes DIR/NAME.csv (the data, every number with 17 digits) and DIR/NAME_ref.csv (step,
CV PRESS).
"""
import argparse
import os

import mpmath as mp
import numpy as np

K = 5


def design(kind, levels, eps, seed):
    rng = np.random.default_rng(seed)
    n = 10 * levels
    g = np.arange(n) // 10
    fold = np.arange(n) % K
    x1 = rng.standard_normal(n)
    noise = rng.standard_normal(n)
    if kind == "copy":
        x2 = x1 + np.where(fold == 1, 1.0, eps) * noise
        cols = {"x1": x1, "x2": x2}
    else:
        cols = {"z": g + eps * noise, "x1": x1}
    y = x1 + rng.standard_normal(levels)[g] + rng.standard_normal(n)
    return g, fold, cols, y


def fold_error(g, fold, X, y, by_level, out):
    """Held-out squared error of the refit without fold `out` on the columns X (rows as mpf
    lists), with an intercept or within the levels of g."""
    p = len(X[0]) if X else 0
    train = [i for i in range(len(y)) if fold[i] != out]
    key = (lambda i: g[i]) if by_level else (lambda i: 0)
    groups = {}
    for i in train:
        groups.setdefault(key(i), []).append(i)
    means = {}
    for k, rows in groups.items():
        m = mp.mpf(len(rows))
        means[k] = ([mp.fsum(X[i][c] for i in rows) / m for c in range(p)],
                    mp.fsum(y[i] for i in rows) / m)
    A, b = mp.zeros(p, p), mp.zeros(p, 1)
    for c in range(p):
        dc = [X[i][c] - means[key(i)][0][c] for i in train]
        b[c] = mp.fsum(d * (y[i] - means[key(i)][1]) for d, i in zip(dc, train))
        for e in range(c, p):
            A[c, e] = A[e, c] = mp.fsum(d * (X[i][e] - means[key(i)][0][e])
                                        for d, i in zip(dc, train))
    beta = mp.lu_solve(A, b) if p else []
    err = []
    for i in range(len(y)):
        if fold[i] == out:
            mx, my = means[key(i)]
            fit = my + mp.fsum(beta[c] * (X[i][c] - mx[c]) for c in range(p))
            err.append((y[i] - fit) ** 2)
    return mp.fsum(err)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--kind", choices=["copy", "tied"], default="copy")
    ap.add_argument("--levels", type=int, default=200)
    ap.add_argument("--eps", type=float, default=1e-3)
    ap.add_argument("--seed", type=int, default=74)
    ap.add_argument("--dir", required=True)
    ap.add_argument("--name", required=True)
    a = ap.parse_args()
    mp.mp.dps = 60
    g, fold, cols, y = design(a.kind, a.levels, a.eps, a.seed)
    names = list(cols)
    with open(os.path.join(a.dir, a.name + ".csv"), "w") as f:
        f.write(",".join(["g"] + names + ["y"]) + "\n")
        for i in range(len(y)):
            f.write(",".join(["L%d" % g[i]] + ["%.17g" % cols[c][i] for c in names] +
                             ["%.17g" % y[i]]) + "\n")
    X = [[mp.mpf(float(cols[c][i])) for c in names] for i in range(len(y))]
    Y = [mp.mpf(float(v)) for v in y]
    with open(os.path.join(a.dir, a.name + "_ref.csv"), "w") as f:
        f.write("step,cvpress\n")
        for step, by_level in enumerate([False, True]):
            # z within eps of g's span is aliased once g is in (the rank rule drops it).
            Xs = [r[1:] for r in X] if by_level and a.kind == "tied" else X
            press = mp.fsum(fold_error(g, fold, Xs, Y, by_level, o) for o in range(K))
            f.write("%d,%s\n" % (step, mp.nstr(press, 20)))


if __name__ == "__main__":
    main()
