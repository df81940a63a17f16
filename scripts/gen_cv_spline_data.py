#!/usr/bin/python3
"""Writes tests/data/cvspline/spline.csv: 50 rows (x, z, y) on which FORWARD SELECT=CV over a
degree-12 truncated-power spline of x with two equal knots, split into its columns, meets
columns whose pivots lie near 1e-8 of their diagonals: on all the rows above it, on some
folds' rows below it. Drawn from numpy's default_rng(48) in the order below: the row count,
x's origin and range and its rounding, x, z normal, and y = s normal + sin(6 (x - lo) /
scale) + 0.3 z with the noise level s drawn among 0.01, 0.1 and 1. The test takes its
reference, each fold's held-out error of the least-squares refit of the selected columns,
from the design columns qrx writes, by Householder QR in long double.
Run from the repository root: /usr/bin/python3 scripts/gen_cv_spline_data.py"""
import os

import numpy as np

OUT = "tests/data/cvspline"


def main():
    rng = np.random.default_rng(48)
    n = int(rng.choice([50, 100, 200, 500, 1000]))
    lo = float(rng.choice([0, 1, 10, 100, -5]))
    scale = float(rng.choice([0.1, 1, 10, 100]))
    x = np.round(lo + rng.uniform(0, scale, n), int(rng.choice([1, 4, 8])))
    z = rng.normal(size=n)
    y = float(rng.choice([0.01, 0.1, 1])) * rng.normal(size=n) + np.sin((x - lo) / scale * 6) + 0.3 * z
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "spline.csv"), "w") as f:
        f.write("x,z,y\n")
        for r in range(n):
            f.write(f"{x[r]!r},{z[r]!r},{y[r]!r}\n")


if __name__ == "__main__":
    main()
