#!/usr/bin/python3
"""Writes tests/data/storecov/: data.csv (y, a CLASS variable g of 12 levels, x1 and x2 on 72
rows), and for the model y = g x1 x2 with every effect in it, the covariance of the
estimates (the error variance times numpy's inverse of X'X) in the item store's parameter
order: Intercept, g's levels, x1, x2. glm.csv under the GLM coding (the last level's column
aliased: its row and column 0) and effect.csv under the effect coding (the last level's rows
-1 in every column of g). Run from the repository root:
/usr/bin/python3 scripts/gen_store_cov_ref.py"""
import os
import random

import numpy as np

LEVELS, ROWS = 12, 72
OUT = "tests/data/storecov"


def data():
    rng = random.Random(45)
    means = [rng.gauss(0.0, 1.0) for _ in range(LEVELS)]
    rows = []
    for r in range(ROWS):
        g = r % LEVELS if r < 3 * LEVELS else rng.randrange(LEVELS)
        x1, x2 = rng.gauss(0.0, 1.0), rng.gauss(0.0, 1.0)
        y = means[g] + 2.0 * x1 - 0.5 * x2 + rng.gauss(0.0, 1.0)
        rows.append((round(y, 6), g, round(x1, 6), round(x2, 6)))
    return rows


def covariance(rows, coding):
    """The kept columns' X and the covariance over them, with the aliased GLM column back as
    zeros: the store's order."""
    X, y = [], []
    for yv, g, x1, x2 in rows:
        if coding == "glm":
            cols = [1.0 if g == j else 0.0 for j in range(LEVELS - 1)]
        else:
            cols = [-1.0 if g == LEVELS - 1 else (1.0 if g == j else 0.0)
                    for j in range(LEVELS - 1)]
        X.append([1.0] + cols + [x1, x2])
        y.append(yv)
    X, y = np.array(X), np.array(y)
    inv = np.linalg.inv(X.T @ X)
    beta = inv @ X.T @ y
    resid = y - X @ beta
    s2 = resid @ resid / (len(y) - X.shape[1])
    cov = s2 * inv
    if coding == "glm":  # the aliased last level of g sits after the kept ones
        p = LEVELS
        cov = np.insert(np.insert(cov, p, 0.0, axis=0), p, 0.0, axis=1)
    return cov


def main():
    os.makedirs(OUT, exist_ok=True)
    rows = data()
    with open(os.path.join(OUT, "data.csv"), "w") as f:
        f.write("y,g,x1,x2\n")
        for yv, g, x1, x2 in rows:
            f.write("%.6f,L%02d,%.6f,%.6f\n" % (yv, g + 1, x1, x2))
    for coding in ("glm", "effect"):
        cov = covariance(rows, coding)
        with open(os.path.join(OUT, coding + ".csv"), "w") as f:
            for row in cov:
                f.write(",".join("%.17g" % v for v in row) + "\n")


if __name__ == "__main__":
    main()
