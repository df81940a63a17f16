#!/usr/bin/python3
"""Writes tests/data/pressill/steep.csv and steep_ref.csv: a weighted design whose columns'
condition (1.5e8 centred and scaled) squares past what the cross products hold, so that
leverages from a factor of X'X lose every digit of 1 - h on its rows of leverage near 1.

30 rows: x uniform on [0, 1], the powers c1..c11 of x, a smooth response with noise and a
weight w, all binary fractions exact in a double. steep_ref.csv gives, for every set of the
columns that holds c1..c4 (a rank rule may refuse some of the higher powers), the weighted
PRESS over rows with |1 - h| > 1e-8 of w (e / (1 - h))^2 with the intercept among the
columns, computed by mpmath at 60 digits (gen_press_ill_ref.exact_press), and the relative
error a computation from the rows in double may carry: 100 eps cond / (1 - hmax), cond the
condition of the centred, scaled weighted design (numpy), at least 1e-9.

Run from the repository root: /usr/bin/python3 scripts/gen_press_rows_ref.py"""
import csv
import os
import sys

import mpmath
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_press_ill_ref import condition, exact_press, fraction  # noqa: E402

OUT = "tests/data/pressill"
N, POWERS = 30, 11


def main():
    rng = np.random.default_rng(5)
    x = [fraction(v, 10) for v in rng.uniform(0.0, 1.0, N)]
    w = [fraction(v, 4) for v in rng.uniform(0.5, 2.0, N)]
    y = [fraction(np.sin(4 * v) + v + 0.05 * e, 20) for v, e in zip(x, rng.normal(size=N))]
    cols = [[v**p for v in x] for p in range(1, POWERS + 1)]
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "steep.csv"), "w", newline="") as fh:
        out = csv.writer(fh)
        out.writerow(["y", "w"] + ["c%d" % (j + 1) for j in range(POWERS)])
        for i in range(N):
            out.writerow([repr(y[i]), repr(w[i])] + [repr(c[i]) for c in cols])
    refs = []
    for mask in range(2 ** (POWERS - 4)):
        take = list(range(4)) + [4 + j for j in range(POWERS - 4) if mask >> j & 1]
        press, hmax = exact_press(y, w, [1] * N, [cols[j] for j in take])
        cond = condition(w, [1] * N, [cols[j] for j in take])
        tol = max(1e-9, 100 * np.finfo(float).eps * cond / (1 - hmax))
        refs.append([" ".join("c%d" % (j + 1) for j in take), mpmath.nstr(press, 17), "%.3g" % tol])
    with open(os.path.join(OUT, "steep_ref.csv"), "w", newline="") as fh:
        out = csv.writer(fh)
        out.writerow(["columns", "press", "tolerance"])
        out.writerows(refs)


if __name__ == "__main__":
    main()
