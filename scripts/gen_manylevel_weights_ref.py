#!/usr/bin/python3
"""Writes tests/data/manylevelweights/fits.csv: numpy's weighted least-squares fit of each case
the tests run on the data levels1000 and levels3000 (scripts/synthdata.py's level_weight_csv
of 1,000 and 3,000 levels with seeds 60 and 61, which the test makes at run time from the same
recipe: a CLASS variable g of two rows per level; z = 10 level / levels + 1e-5 noise, so that
the levels explain z to 1e-11 of its spread; x1 noise; y = 3 z + 2 x1 + 2 m(level) + 0.3
noise; the last level's rows weigh 1e-6 in w1e6 and 3e-8 in w3e8, the others 1): its rank (the
exact rank of the columns, the last level, aliased with the intercept, out), whether the last
level taken may go either way (its pivot in the model's order between 1e-9 and 1e-7 of its
diagonal), its error SS and corrected total, and the estimates of the intercept and the dense
columns (z's inflated some 1e10 by the levels). Run from the repository root:
/usr/bin/python3 scripts/gen_manylevel_weights_ref.py"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402

OUT = "tests/data/manylevelweights"


def read(text):
    lines = text.strip().split("\n")[1:]
    cols = list(zip(*[line.split(",") for line in lines]))
    g = np.array([int(v[1:]) - 1 for v in cols[1]])
    num = {name: np.array([float(v) for v in cols[i]])
           for i, name in [(0, "y"), (2, "z"), (3, "x1"), (4, "w1e6"), (5, "w3e8")]}
    return g, num


def fit(g, num, dense, weight):
    levels = g.max() + 1
    n = len(g)
    X = np.zeros((n, 1 + len(dense) + levels - 1))
    X[:, 0] = 1.0
    for j, name in enumerate(dense):
        X[:, 1 + j] = num[name]
    rows = np.nonzero(g < levels - 1)[0]
    X[rows, 1 + len(dense) + g[rows]] = 1.0
    w, y = num[weight], num["y"]
    s = np.sqrt(w)
    b, _, rank, _ = np.linalg.lstsq(X * s[:, None], y * s, rcond=None)
    assert rank == X.shape[1]
    # The pivots in the model's order (the intercept first, so about the weighted means): at
    # least 1e-7 of the diagonal, a column the rule must take, but for the last level taken
    # under w3e8, which stands for its own and the last level's rows and is 3e-8 of its diagonal
    # (either way: without it the error SS moves by some 1e-13 of the total).
    Xs = X * s[:, None]
    pivot = np.diag(np.linalg.qr(Xs, mode="r")) ** 2
    centred = Xs - np.outer(s, (w @ X) / np.sum(w))
    diagonal = np.sum(centred ** 2, axis=0)
    diagonal[0] = np.sum(w)
    ratio = pivot / diagonal
    either = weight == "w3e8"
    assert np.min(ratio[:-1] if either else ratio) >= 1e-7
    assert ratio[-1] >= (1e-9 if either else 1e-7)
    r = y - X @ b
    ybar = np.sum(w * y) / np.sum(w)
    return rank, np.sum(w * r * r), np.sum(w * (y - ybar) ** 2), either, b[:1 + len(dense)]


def main():
    os.makedirs(OUT, exist_ok=True)
    out = ["file,weight,effects,rank,lastlevel_either,sse,total,estimates"]
    for levels, seed in [(1000, 60), (3000, 61)]:
        name = "levels%d" % levels
        g, num = read(synthdata.level_weight_csv(levels, seed))
        for dense, weight in [(["z", "x1"], "w1e6"), (["x1"], "w3e8")]:
            rank, sse, total, either, b = fit(g, num, dense, weight)
            out.append("%s,%s,%s,%d,%d,%.17g,%.17g,%s" % (name, weight, " ".join(dense), rank,
                                                          either, sse, total,
                                                          " ".join("%.17g" % v for v in b)))
    with open(os.path.join(OUT, "fits.csv"), "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
