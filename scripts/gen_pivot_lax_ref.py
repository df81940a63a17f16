#!/usr/bin/python3
"""Writes tests/data/pivotlax/expected.csv: for many-level CLASS data sets on which a rank
rule that is too lax takes a column whose pivot is only rounding (made by scripts/synthdata.py,
as the test makes them at run time), the rank of the design a sound sweep can resolve and the least-squares error SS on it (numpy
lstsq after removing the weighted level means), with the total SS.
levelindex: 1,500 levels of two rows; z is the level's number plus noise of sd 1e-7, whose
within-level sum of squares is far below rounding of z's cross products (the ratio is
printed), so z adds nothing to the levels and the sound design is intercept, levels and x1.
tinyweight: 1,000 levels on 2,000 rows of weights 0.5 to 1.5; the last level has one row,
of weight 1e-4 (w) or 1e-5 (w5), so its pivot after the intercept and the other levels is
zero and its computed one is rounding of the weight sums; x1 (of x1-x6) carries much of
the response beside the level effects. Cases: levelindex, tinyweight (weight w), tinyweight_w5 (weight w5).
Run from the repository root: /usr/bin/python3 scripts/gen_pivot_lax_ref.py"""
import csv
import os

import numpy as np

import synthdata

OUT = "tests/data/pivotlax"


def within(v, lev, w):
    """v less its weighted level means, times sqrt(w)."""
    sw = np.bincount(lev, w)
    m = np.bincount(lev, w * v) / sw
    return (v - m[lev]) * np.sqrt(w)


def least_squares(y, dense, lev, w):
    """(rank, error SS, total SS) of y on intercept, level indicators and the dense columns."""
    Y = within(y, lev, w)
    X = np.column_stack([within(c, lev, w) for c in dense])
    coef, _, rank, _ = np.linalg.lstsq(X, Y, rcond=None)
    sse = float(((Y - X @ coef) ** 2).sum())
    ybar = (w * y).sum() / w.sum()
    return lev.max() + 1 + rank, sse, float((w * (y - ybar) ** 2).sum())


def parsed(text):
    """The data set's numeric columns as arrays and its level indices, from the CSV text."""
    names, rows = synthdata.columns(text)
    cols = {n: np.array([float(r[i]) for r in rows]) for i, n in enumerate(names[:-1])}
    return cols, np.array([int(r[-1][1:]) - 1 for r in rows])


def level_index():
    cols, lev = parsed(synthdata.level_index_csv())
    w = np.ones(lev.size)
    z = cols["z"]
    ratio = (within(z, lev, w) ** 2).sum() / ((z - z.mean()) ** 2).sum()
    print("levelindex: z's within-level SS over its corrected SS %.3g" % ratio)
    return cols, lev, [("levelindex", w, [cols["x1"]])]


def tiny_weight():
    cols, lev = parsed(synthdata.tiny_weight_csv())
    xs = [cols["x%d" % i] for i in range(1, 7)]
    return cols, lev, [("tinyweight", cols["w"], xs), ("tinyweight_w5", cols["w5"], xs)]


def main():
    os.makedirs(OUT, exist_ok=True)
    rows = []
    for name, make in (("levelindex", level_index), ("tinyweight", tiny_weight)):
        cols, lev, fits = make()
        for case, w, sound in fits:
            rank, sse, tss = least_squares(cols["y"], sound, lev, w)
            rows.append((case, rank, repr(sse), repr(tss)))
            print(case, rank, sse, tss)
    with open(os.path.join(OUT, "expected.csv"), "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["case", "rank", "sse", "tss"])
        out.writerows(rows)


if __name__ == "__main__":
    main()
