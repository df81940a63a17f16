#!/usr/bin/python3
"""Writes tests/data/cvfoldrefine/press.csv: the CV PRESS of each model on the path of
FORWARD and BACKWARD selection by CV PRESS over the rows of tests/data/cvfoldrefine/d.csv
(weight w, folds by index variable fold), from exact refits of each fold: the weighted normal
equations of the training rows' doubles solved at 80 digits (mpmath), each held-out residual
formed at 80 digits (foldrefitspread.exact_error). Beside it, the relative error of the same
refits by Householder QR in double (numpy), the accuracy that a computation in double from
the rows reaches on these folds.

The rows are those of a case where fold 4's training rows leave the model's columns nearly
dependent (scaled condition 2.4e6) and its held-out rows extrapolate. s1 is the collection of
the twelve columns s1_1 .. s1_12, the values of a degree-8 spline basis of x1: the basis sums
to one and spans x1, so with the intercept and x1 in the model two of its columns lie in the
span of the rest up to the rounding of the stored values; the models take s1 without s1_9
and s1_11, the two the fit leaves out. c0 is constant, a copy of the intercept, and no model
takes it. Run from the repository root:
/usr/bin/python3 scripts/gen_cv_fold_refine_ref.py"""
import csv
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from foldrefitspread import exact_error  # noqa: E402
from oracle_lib import ref  # noqa: E402

OUT = "tests/data/cvfoldrefine"
S1 = ["s1_%d" % i for i in range(1, 13) if i not in (9, 11)]
# The models on the path, in the order the selection enters the effects (BACKWARD removes
# them in the reverse order); the test checks that the fit takes this path.
PATH = ["x3", "x1", "x5", "x2", "x4", "s1"]


def load():
    with open(os.path.join(OUT, "d.csv")) as f:
        rows = list(csv.DictReader(f))
    return {k: np.array([float(r[k]) for r in rows]) for k in rows[0]}


def columns(d, effects):
    cols = [np.ones(len(d["y"]))]
    for e in effects:
        cols += [d[c] for c in S1] if e == "s1" else [d[e]]
    return np.column_stack(cols)


def cv_press(d, effects):
    """The exact CV PRESS of the model and the relative error of QR refits in double."""
    A = columns(d, effects)
    exact = qr = 0.0
    for k in sorted(set(d["fold"].tolist())):
        out = d["fold"] == k
        tr = ~out
        exact += exact_error(A, d["y"], d["w"], tr, out)
        f = ref.fit(A[tr][:, 1:], d["y"][tr], d["w"][tr], False)
        r = f.residual(A[out][:, 1:], d["y"][out])
        qr += float(np.sum(d["w"][out] * r * r))
    return exact, abs(qr - exact) / exact


def main():
    d = load()
    with open(os.path.join(OUT, "press.csv"), "w") as f:
        f.write("effects,cvpress,qrerror\n")
        for i in range(len(PATH) + 1):
            effects = PATH[:i]
            exact, qr = cv_press(d, effects)
            f.write("%s,%.17g,%.2g\n" % (" ".join(sorted(effects)), exact, qr))


if __name__ == "__main__":
    main()
