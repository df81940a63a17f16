#!/usr/bin/python3
"""The first 30 steps of the LAR path over 1,000 candidates on 260 rows (the data of
synthdata.wide_lar_csv, y on x1..x5).

The path is scikit-learn's lars_path (method="lar") on the design standardized as the
procedure does it: every column centred and divided by its standard deviation (divisor n-1),
the response centred.

Writes tests/data/widelar/path.csv, one row per knot: knot, the effect entered, SSE; and
tests/data/widelar/final.csv, the last knot's nonzero coefficients on the data scale: effect
(0 for the intercept), estimate.
Needs Debian's python3-sklearn. Run: /usr/bin/python3 scripts/gen_wide_lar_ref.py
"""
import os
import sys

import numpy as np
from sklearn.linear_model import lars_path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_lars_ref import events  # noqa: E402
from synthdata import columns, wide_lar_csv  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "widelar")
STEPS = 30


def main():
    os.makedirs(OUT, exist_ok=True)
    _, rows = columns(wide_lar_csv())
    data = np.array([[float(v) for v in r] for r in rows])
    y, X = data[:, 0], data[:, 1:]
    mean, sd, ybar = X.mean(axis=0), X.std(axis=0, ddof=1), y.mean()
    Xs, yc = (X - mean) / sd, y - ybar
    _, _, coefs = lars_path(Xs, yc, method="lar", max_iter=STEPS)
    assert coefs.shape[1] == STEPS + 1
    change = events(coefs)
    assert all(c > 0 for c in change[1:])
    with open(os.path.join(OUT, "path.csv"), "w") as out:
        out.write("knot,entered,sse\n")
        for t in range(coefs.shape[1]):
            sse = float(np.sum((yc - Xs @ coefs[:, t]) ** 2))
            out.write("%d,%d,%r\n" % (t, change[t], sse))
    beta = coefs[:, STEPS] / sd
    with open(os.path.join(OUT, "final.csv"), "w") as out:
        out.write("effect,estimate\n")
        out.write("0,%r\n" % float(ybar - mean @ beta))
        for k in np.flatnonzero(beta):
            out.write("%d,%r\n" % (k + 1, float(beta[k])))


if __name__ == "__main__":
    main()
