#!/usr/bin/python3
"""Reference values for CVMETHOD=INDEX folds in BY groups whose index levels are not all
held by the rows the fit uses.

Writes tests/data/cv/cvindex.csv (two BY groups B of 14 rows: in the first, eight rows of
frequency 0 hold levels of the index variable K that no used row holds, so the levels
outnumber the used rows; in the second, K is missing in three rows and some rows have
frequency 0) and tests/data/cv/cvindex_steps.csv: per group, the forward selection by CV
PRESS with numpy least-squares refits on the rows outside each fold, the folds being the
distinct values of K among the rows with frequency >= 1 and K present, and the CV PRESS of
every step.
"""
import csv
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_cv_ref import forward  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "cv")
NAMES = ["X1", "X2", "X3"]

# (frequency, index value or None) of the rows of each group.
GROUPS = {
    1: [(1, 6), (3, 2), (1, 0), (0, 7), (0, 9), (0, 1), (2, 6),
        (0, 9), (0, 7), (0, 4), (1, 5), (0, 3), (0, 2), (1, 8)],
    2: [(1, 0), (2, 1), (1, None), (3, 2), (0, 3), (1, 4), (1, 0),
        (2, 1), (1, None), (0, 4), (1, 2), (2, 3), (1, None), (1, 4)],
}


def make_rows():
    rng = np.random.default_rng(20261209)
    rows = []
    for b, spec in GROUPS.items():
        for f, k in spec:
            x = np.round(rng.standard_normal(3), 4)
            y = round(float(10 + 2 * x[0] - x[1] + 0.3 * rng.standard_normal()), 4)
            rows.append((b, *x.tolist(), y, f, k))
    return rows


def main():
    rows = make_rows()
    with open(os.path.join(OUT, "cvindex.csv"), "w", newline="") as out:
        wr = csv.writer(out)
        wr.writerow(["B"] + NAMES + ["Y", "F", "K"])
        for b, x1, x2, x3, y, f, k in rows:
            wr.writerow([b, x1, x2, x3, y, f, "" if k is None else k])
    with open(os.path.join(OUT, "cvindex_steps.csv"), "w", newline="") as out:
        wr = csv.writer(out)
        wr.writerow(["group", "step", "effect", "cvpress"])
        for b in GROUPS:
            used = [r for r in rows if r[0] == b and r[5] >= 1 and r[6] is not None]
            X = np.array([r[1:4] for r in used])
            y = np.array([r[4] for r in used])
            wf = np.array([float(r[5]) for r in used])
            levels = sorted({r[6] for r in used})
            folds = np.array([levels.index(r[6]) for r in used])
            for s, (effect, press) in enumerate(forward(X, y, wf, folds, NAMES)):
                wr.writerow([b, s, effect, repr(press)])


if __name__ == "__main__":
    main()
