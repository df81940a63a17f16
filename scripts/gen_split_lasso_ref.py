#!/usr/bin/python3
"""A CLASS variable of 1,050 levels split into candidates, and its LASSO path.

2,600 rows made by scripts/synthdata.py, as the test makes them at run time: every level
appears (the first 1,050 rows take them in turn), y = the level's effect (30 levels of effect
+-2, the others 0) + 1.5 x1 - x2 + noise; x3 is noise. The values are written with six
decimals and read back, so the reference is computed on what the procedure reads.

The path is scikit-learn's lars_path (method="lasso") on the design standardized as the
procedure does it: each level's indicator column and x1..x3 centred and divided by their
standard deviation (divisor n-1), the response centred; the columns are in the model's order
(the levels L0001..L1050, then x1, x2, x3).

Writes tests/data/splitlasso/path.csv (knot, change: +k when candidate k enters, -k when it
leaves, SSE) and final.csv (candidate, estimate: the non-zero estimates of the last knot on
the data scale, then the intercept as candidate 0). Candidate k is level Lk for k <= 1050
and x(k - 1050) after them.
Needs Debian's python3-sklearn. Run: /usr/bin/python3 scripts/gen_split_lasso_ref.py
"""
import os
import sys

import numpy as np
from sklearn.linear_model import lars_path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402
from gen_lars_ref import events  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "splitlasso")
ROWS, LEVELS, STEPS = 2600, 1050, 14


def make():
    _, rows = synthdata.columns(synthdata.split_lasso_csv(ROWS, LEVELS))
    yv = np.array([float(r[0]) for r in rows])
    lv = np.array([int(r[1][1:]) - 1 for r in rows])
    xv = np.array([[float(v) for v in r[2:]] for r in rows])
    X = np.zeros((ROWS, LEVELS + 3))
    X[np.arange(ROWS), lv] = 1.0
    X[:, LEVELS:] = xv
    return X, yv


def main():
    os.makedirs(OUT, exist_ok=True)
    X, y = make()
    mean, sd, ybar = X.mean(axis=0), X.std(axis=0, ddof=1), y.mean()
    Xs, yc = (X - mean) / sd, y - ybar
    _, _, coefs = lars_path(Xs, yc, method="lasso", max_iter=STEPS)
    change = events(coefs)
    with open(os.path.join(OUT, "path.csv"), "w") as out:
        out.write("knot,change,sse\n")
        for t in range(1, coefs.shape[1]):
            sse = float(np.sum((yc - Xs @ coefs[:, t]) ** 2))
            out.write("%d,%d,%r\n" % (t, change[t], sse))
    beta = coefs[:, -1] / sd
    with open(os.path.join(OUT, "final.csv"), "w") as out:
        out.write("candidate,estimate\n")
        for j in np.nonzero(beta)[0]:
            out.write("%d,%r\n" % (j + 1, float(beta[j])))
        out.write("0,%r\n" % float(ybar - mean @ beta))


if __name__ == "__main__":
    main()
