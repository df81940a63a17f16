#!/usr/bin/python3
"""Least-squares references for paths over near copies: the data of
tests/programs/synthdata.h's nearCopyCsv (made here by scripts/synthdata.py) holds x1-x6,
near copies n1, n3 of x1 and n2 of x2 (noise of sd 1e-7) and s = (x2 + x3 + x4)(1 + 1e-12),
which is exactly dependent on them. A sound path takes at most one column of each nearly
dependent set, so its end is the least-squares fit on the columns it took. For every model
the tests fit, this writes tests/data/nearcopy/lstsq.csv: each largest set of the model's
columns free of near dependence (smallest singular value of the centred, unit-length columns
above 1e-5), with numpy's least-squares error SS of y on the intercept and those columns.
Run from the repository root: /usr/bin/python3 scripts/gen_near_copy_ref.py"""
import csv
import itertools
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402

MODELS = {"copy": ["x1", "x2", "x3", "x4", "x5", "x6", "n1"],
          "copies": ["x1", "x2", "x3", "x4", "x5", "x6", "n1", "n2", "n3", "s"]}


def independent(cols):
    c = cols - cols.mean(axis=0)
    c = c / np.linalg.norm(c, axis=0)
    return np.linalg.svd(c, compute_uv=False).min() > 1e-5


def main():
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
    os.makedirs("tests/data/nearcopy", exist_ok=True)
    with open("tests/data/nearcopy/lstsq.csv", "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["model", "columns", "sse"])
        w.writerows(out)


if __name__ == "__main__":
    main()
