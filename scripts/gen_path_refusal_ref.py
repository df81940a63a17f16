#!/usr/bin/python3
"""Least-squares references for the least-angle paths over columns the rank rule refuses,
on the data of tests/programs/synthdata.h (made here by scripts/synthdata.py). A sound path
takes at most one column of each nearly dependent set, so its end is the least-squares fit
on the columns it took. Writes, under tests/data/pathrefusal:

lstsq.csv: for the near copies (nearCopyCsv: x1-x6, near copies n1, n3 of x1 and n2 of x2
with noise of sd 1e-7, and s = (x2 + x3 + x4)(1 + 1e-12), exactly dependent on them) and
each model the tests fit, every largest set of the model's columns free of near dependence
(smallest singular value of the centred, unit-length columns above 1e-5), with numpy's
least-squares error SS of y on the intercept and those columns.

spline_xpx.csv: for the skewed spline data (skewSplineCsv), the corrected cross products of
the columns of a cubic truncated-power basis in x (x, x^2, x^3 and (x - k)^3_+ at eight
knots: the smallest x whose share of the rows at or below it reaches j/9, j = 1..8), z and y,
exact in rational arithmetic and written to 30 significant digits, so that the least-squares
error SS on any set of the columns follows from them.
Run from the repository root: /usr/bin/python3 scripts/gen_path_refusal_ref.py"""
import csv
import itertools
import math
import os
import sys
from fractions import Fraction

import mpmath
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402

OUT = "tests/data/pathrefusal"
MODELS = {"copy": ["x1", "x2", "x3", "x4", "x5", "x6", "n1"],
          "copies": ["x1", "x2", "x3", "x4", "x5", "x6", "n1", "n2", "n3", "s"]}


def independent(cols):
    c = cols - cols.mean(axis=0)
    c = c / np.linalg.norm(c, axis=0)
    return np.linalg.svd(c, compute_uv=False).min() > 1e-5


def near_copies():
    names, rows = synthdata.columns(synthdata.near_copy_csv())
    data = np.array([[float(v) for v in r] for r in rows])
    y = data[:, names.index("y")]
    out = []
    for model, cols in MODELS.items():
        sets = []
        for size in range(len(cols), 0, -1):
            for sub in itertools.combinations(cols, size):
                if independent(data[:, [names.index(c) for c in sub]]):
                    sets.append(sub)
            if sets:
                break
        for sub in sets:
            x = np.column_stack([np.ones(len(y))] + [data[:, names.index(c)] for c in sub])
            b = np.linalg.lstsq(x, y, rcond=None)[0]
            e = y - x @ b
            out.append([model, " ".join(sub), repr(float(e @ e))])
    with open(os.path.join(OUT, "lstsq.csv"), "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["model", "columns", "sse"])
        w.writerows(out)


def spline_cross_products():
    names, rows = synthdata.columns(synthdata.skew_spline_csv())
    x = [Fraction(r[names.index("x")]) for r in rows]
    z = [Fraction(r[names.index("z")]) for r in rows]
    y = [Fraction(r[names.index("y")]) for r in rows]
    n = len(x)
    xs = sorted(x)
    knots = [xs[math.ceil(n * j / 9) - 1] for j in range(1, 9)]
    cols = [[v**p for v in x] for p in (1, 2, 3)]
    cols += [[max(v - k, 0) ** 3 for v in x] for k in knots]
    cols += [z, y]
    labels = ["SP:%d" % j for j in range(2, 13)] + ["z", "y"]
    sums = [sum(c) for c in cols]
    mpmath.mp.dps = 40
    with open(os.path.join(OUT, "spline_xpx.csv"), "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow([""] + labels)
        for i, a in enumerate(cols):
            row = []
            for j, b in enumerate(cols):
                s = sum(p * q for p, q in zip(a, b)) - sums[i] * sums[j] / n
                row.append(mpmath.nstr(mpmath.mpf(s.numerator) / s.denominator, 30))
            w.writerow([labels[i]] + row)


def main():
    os.makedirs(OUT, exist_ok=True)
    near_copies()
    spline_cross_products()


if __name__ == "__main__":
    main()
