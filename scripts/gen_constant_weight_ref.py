#!/usr/bin/python3
"""Writes tests/data/constweight/expected.csv: for the data set of a constant column c0 = 3
under weights (scripts/synthdata.py constant_weight_csv with 5,000 rows and 1,000 levels of
g, weights in [0.5, 2) with some rows of weight 0 and 1e-9, as the test makes it at run time),
the rank of the sound design and its weighted least-squares error SS (numpy lstsq on the
rows times the root weights), with the corrected total SS. c0 is the intercept's column
times 3, so no sound design holds it.
Cases: dense (intercept, x1-x3), dense_by1 and dense_by2 (the same on the rows of b = 1 and
b = 2), levels (intercept, the 999 columns of g under the effect coding, x1-x3: the levels'
space, so x1-x3 less their weighted level means).
Run from the repository root: /usr/bin/python3 scripts/gen_constant_weight_ref.py"""
import csv
import os

import numpy as np

import synthdata

OUT = "tests/data/constweight"
ROWS, LEVELS = 5000, 1000


def weighted_fit(y, X, w):
    """(rank, error SS, total SS) of y on X under weights w."""
    r = np.sqrt(w)
    coef, _, rank, _ = np.linalg.lstsq(X * r[:, None], y * r, rcond=None)
    sse = float((w * (y - X @ coef) ** 2).sum())
    ybar = (w * y).sum() / w.sum()
    return rank, sse, float((w * (y - ybar) ** 2).sum())


def within(v, lev, w):
    """v less its weighted level means."""
    m = np.bincount(lev, w * v) / np.bincount(lev, w)
    return v - m[lev]


def main():
    names, rows = synthdata.columns(
        synthdata.constant_weight_csv(rows=ROWS, levels=LEVELS))
    col = {n: np.array([float(r[i]) for r in rows]) for i, n in enumerate(names[:-1])}
    lev = np.array([int(r[-1][1:]) - 1 for r in rows])
    y, w, b = col["y"], col["w"], col["b"]
    xs = [col["x1"], col["x2"], col["x3"]]
    dense = np.column_stack([np.ones(y.size)] + xs)
    out = [("dense",) + weighted_fit(y, dense, w)]
    for g in (1, 2):
        keep = b == g
        out.append(("dense_by%d" % g,) + weighted_fit(y[keep], dense[keep], w[keep]))
    # The levels span the intercept: the fit is that of the within-level values, of rank
    # LEVELS plus that of x1-x3 within the levels.
    rank, sse, _ = weighted_fit(within(y, lev, w),
                                np.column_stack([within(x, lev, w) for x in xs]), w)
    out.append(("levels", LEVELS + rank, sse, out[0][3]))
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "expected.csv"), "w", newline="") as f:
        writer = csv.writer(f, lineterminator="\n")
        writer.writerow(["case", "rank", "sse", "tss"])
        for name, rank, sse, tss in out:
            writer.writerow([name, rank, repr(sse), repr(tss)])
            print(name, rank, sse, tss)


if __name__ == "__main__":
    main()
