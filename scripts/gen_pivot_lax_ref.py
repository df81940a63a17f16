#!/usr/bin/python3
"""Writes tests/data/pivotlax/: many-level CLASS data sets on which a rank rule that is too
lax takes a column whose pivot is only rounding, and expected.csv with, per data set, the
rank of the design a sound sweep can resolve and the least-squares error SS on it (numpy
lstsq after removing the weighted level means), with the total SS.
levelindex: 1,500 levels of two rows; z is the level's index plus noise of 1e-7, whose
within-level sum of squares is far below rounding of z's cross products (the ratio is
printed), so z adds nothing to the levels and the sound design is intercept, levels and x1.
tinyweight: 1,000 levels on 2,000 rows of weights 0.5 to 1.5; the last level has one row,
of weight 1e-4 (w) or 1e-5 (w5), so its pivot after the intercept and the other levels is
zero and its computed one is rounding of the weight sums; x1 (of x1-x6) carries much of
the response. Cases: levelindex, tinyweight (weight w), tinyweight_w5 (weight w5).
Run from the repository root: /usr/bin/python3 scripts/gen_pivot_lax_ref.py"""
import csv
import os

import numpy as np

OUT = "tests/data/pivotlax"


def rnd(v, digits):
    return float("%.*g" % (digits, v))


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


def level_index(seed=4, levels=1500, noise=1e-7):
    rng = np.random.default_rng(seed)
    lev = np.repeat(np.arange(levels), 2)
    f = np.arange(levels) + 1.0
    z = np.array([rnd(v, 12) for v in f[lev] + noise * rng.standard_normal(lev.size)])
    x1 = np.array([rnd(v, 8) for v in rng.standard_normal(lev.size)])
    y = np.array([rnd(v, 10) for v in np.sin(f[lev]) + x1 + rng.standard_normal(lev.size)])
    w = np.ones(lev.size)
    zc = z - z.mean()
    ratio = (within(z, lev, w) ** 2).sum() / (zc ** 2).sum()
    print("levelindex: z's within-level SS over its corrected SS %.3g" % ratio)
    return {"y": y, "z": z, "x1": x1}, lev, [("levelindex", w, [x1])]


def tiny_weight(seed=5, levels=1000, rows=2000, spread=0.5):
    rng = np.random.default_rng(seed)
    lev = np.concatenate([np.arange(rows - 1) % (levels - 1), [levels - 1]])
    w = np.array([rnd(v, 6) for v in 1 + spread * rng.uniform(-1, 1, rows)])
    w[-1] = 1e-4
    w5 = w.copy()
    w5[-1] = 1e-5
    xs = [np.array([rnd(v, 8) for v in rng.standard_normal(rows)]) for _ in range(6)]
    mu = rng.normal(0, 2, levels)
    y = np.array([rnd(v, 10) for v in mu[lev] + xs[0] + rng.standard_normal(rows)])
    cols = {"y": y, "w": w, "w5": w5}
    cols.update(("x%d" % (i + 1), x) for i, x in enumerate(xs))
    return cols, lev, [("tinyweight", w, xs), ("tinyweight_w5", w5, xs)]


def write(name, cols, lev):
    with open(os.path.join(OUT, name + ".csv"), "w") as f:
        f.write(",".join(list(cols) + ["g"]) + "\n")
        for r in range(lev.size):
            values = [repr(float(c[r])) for c in cols.values()]
            f.write(",".join(values + ["L%04d" % (lev[r] + 1)]) + "\n")


def main():
    os.makedirs(OUT, exist_ok=True)
    rows = []
    for name, make in (("levelindex", level_index), ("tinyweight", tiny_weight)):
        cols, lev, fits = make()
        write(name, cols, lev)
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
