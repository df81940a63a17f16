#!/usr/bin/python3
"""Writes tests/data/manylevels/effectempty_fit.csv: on scripts/synthdata.py's effect_empty_csv
(y, a CLASS variable g of 60 levels with one to three rows each, x1..x3, a role variable keep
that leaves every 17th level from the sixth without rows in the fit, and a weight w of 1e-10
on the rows of the 11th and 12th levels), the least-squares fit of y on the intercept, x1 and
g coded PARAM=EFFECT (the last level the reference, -1 in every column) over the rows with
keep 1: the columns are taken in order when they raise the rank of those before them
(numpy's rank), the others aliased (estimate 0, no standard error), and the estimates,
standard errors and error sum of squares of the columns taken come from numpy's least
squares. Run from the repository root: /usr/bin/python3 scripts/gen_effect_empty_ref.py"""
import os

import numpy as np

import synthdata

LEVELS = 60
OUT = "tests/data/manylevels"


def read():
    _, rows = synthdata.columns(synthdata.effect_empty_csv())
    fit = [r for r in rows if r[5] == "1"]
    y = np.array([float(r[0]) for r in fit])
    level = np.array([int(r[1][1:]) - 1 for r in fit])
    x1 = np.array([float(r[2]) for r in fit])
    return y, level, x1


def effect_design(level, x1):
    """The intercept, x1 and g's PARAM=EFFECT columns, with their names."""
    n = len(level)
    cols = [np.ones(n), x1]
    names = ["Intercept", "x1"]
    for j in range(LEVELS - 1):
        cols.append((level == j).astype(float) - (level == LEVELS - 1).astype(float))
        names.append("g " + synthdata.level(j))
    return np.column_stack(cols), names


def main():
    os.makedirs(OUT, exist_ok=True)
    y, level, x1 = read()
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
