#!/usr/bin/python3
"""Writes tests/data/manylevels/effectempty.csv (y, a CLASS variable g of 300 levels with one
to three rows each, x1..x3, and a role variable keep: the rows of every 17th level from L005
have keep 0, so that under PARAM=EFFECT those levels have no rows in the fit; a weight w, 1
but 1e-10 on the rows of L010 and L011, whose columns are then nearly those of empty levels) and
effectempty_fit.csv, the least-squares fit of y on the intercept, x1 and g coded PARAM=EFFECT
(the last level L299 the reference, -1 in every column) over the rows with keep 1: the
columns are taken in order when they raise the rank of those before them (numpy's rank), the
others aliased (estimate 0, no standard error), and the estimates, standard errors and error
sum of squares of the columns taken come from numpy's least squares.
Run from the repository root: /usr/bin/python3 scripts/gen_effect_empty_ref.py"""
import os
import random

import numpy as np

LEVELS = 300
OUT = "tests/data/manylevels"


def write_data(path):
    rng = random.Random(45)
    means = [rng.gauss(0.0, 1.0) for _ in range(LEVELS)]
    rows = []
    for g in range(LEVELS):
        for _ in range(1 + g % 3):
            x = [rng.gauss(0.0, 1.0) for _ in range(3)]
            y = 8.0 * means[g] + 3.0 * x[0] + rng.gauss(0.0, 1.0)
            w = 1e-10 if g in (10, 11) else 1.0
            rows.append((y, "L%03d" % g, x[0], x[1], x[2], 0 if g % 17 == 5 else 1, w))
    rng.shuffle(rows)
    with open(path, "w") as f:
        f.write("y,g,x1,x2,x3,keep,w\n")
        for row in rows:
            f.write("%.9f,%s,%.9f,%.9f,%.9f,%d,%g\n" % row)


def read(path):
    with open(path) as f:
        next(f)
        rows = [line.strip().split(",") for line in f]
    fit = [r for r in rows if r[5] == "1"]
    y = np.array([float(r[0]) for r in fit])
    level = np.array([int(r[1][1:]) for r in fit])
    x1 = np.array([float(r[2]) for r in fit])
    return y, level, x1


def effect_design(level, x1):
    """The intercept, x1 and g's PARAM=EFFECT columns, with their names."""
    n = len(level)
    cols = [np.ones(n), x1]
    names = ["Intercept", "x1"]
    for j in range(LEVELS - 1):
        cols.append((level == j).astype(float) - (level == LEVELS - 1).astype(float))
        names.append("g L%03d" % j)
    return np.column_stack(cols), names


def main():
    os.makedirs(OUT, exist_ok=True)
    data = os.path.join(OUT, "effectempty.csv")
    write_data(data)
    y, level, x1 = read(data)
    X, names = effect_design(level, x1)
    taken = []
    for c in range(X.shape[1]):
        if np.linalg.matrix_rank(X[:, taken + [c]]) == len(taken) + 1:
            taken.append(c)
    Xt = X[:, taken]
    beta, sse, _, _ = np.linalg.lstsq(Xt, y, rcond=None)
    sse = float(np.sum((y - Xt @ beta) ** 2))
    s2 = sse / (len(y) - len(taken))
    se = np.sqrt(s2 * np.diag(np.linalg.inv(Xt.T @ Xt)))
    with open(os.path.join(OUT, "effectempty_fit.csv"), "w") as f:
        f.write("parameter,estimate,stderr\n")
        f.write("SSE,%.12g,\n" % sse)
        where = {c: i for i, c in enumerate(taken)}
        for c, name in enumerate(names):
            if c in where:
                f.write("%s,%.12g,%.12g\n" % (name, beta[where[c]], se[where[c]]))
            else:
                f.write("%s,0,\n" % name)
    print("rows", len(y), "columns taken", len(taken), "of", X.shape[1], "SSE", sse)


if __name__ == "__main__":
    main()
