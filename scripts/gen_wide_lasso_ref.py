#!/usr/bin/python3
"""A wide data set and its LASSO path: 40 rows, 120 candidates, more candidates than rows.

y = x1 - x2 + 0.8 x3 + 0.6 x4 - 0.5 x5 + noise, the x's correlated through a shared factor so
that the path drops effects and takes them again. The values are written with six decimals and
read back, so the reference is computed on what the procedure reads.

The path is scikit-learn's lars_path (method="lasso") on the design standardized as the
procedure does it: every column centred and divided by its standard deviation (divisor n-1),
the response centred.

Writes tests/data/widelasso/wide.csv (y, x1..x120) and tests/data/widelasso/path.csv, one row
per knot up to STEPS: knot, change (+k entered, -k removed), SSE, then the 120 coefficients on
the data scale and the intercept.
Needs Debian's python3-sklearn. Run: /usr/bin/python3 scripts/gen_wide_lasso_ref.py
"""
import os
import sys

import numpy as np
from sklearn.linear_model import lars_path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_lars_ref import events  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "widelasso")
ROWS, COLS, STEPS = 40, 120, 30


def make():
    rng = np.random.default_rng(37)
    f = rng.standard_normal(ROWS)
    X = rng.standard_normal((ROWS, COLS)) + 0.7 * f[:, None]
    y = X[:, 0] - X[:, 1] + 0.8 * X[:, 2] + 0.6 * X[:, 3] - 0.5 * X[:, 4] + rng.standard_normal(ROWS)
    text = "y," + ",".join("x%d" % (k + 1) for k in range(COLS)) + "\n"
    for r in range(ROWS):
        text += ",".join("%.6f" % v for v in [y[r]] + list(X[r])) + "\n"
    with open(os.path.join(OUT, "wide.csv"), "w") as out:
        out.write(text)
    data = np.array([[float(v) for v in line.split(",")] for line in text.split("\n")[1:-1]])
    return data[:, 1:], data[:, 0]


def main():
    os.makedirs(OUT, exist_ok=True)
    X, y = make()
    mean, sd, ybar = X.mean(axis=0), X.std(axis=0, ddof=1), y.mean()
    Xs, yc = (X - mean) / sd, y - ybar
    _, _, coefs = lars_path(Xs, yc, method="lasso", max_iter=STEPS)
    change = events(coefs)
    assert any(c < 0 for c in change), "the path should drop an effect"
    with open(os.path.join(OUT, "path.csv"), "w") as out:
        out.write("knot,change,sse," + ",".join("beta%d" % (k + 1) for k in range(COLS)) +
                  ",intercept\n")
        for t in range(coefs.shape[1]):
            beta = coefs[:, t] / sd
            sse = float(np.sum((yc - Xs @ coefs[:, t]) ** 2))
            row = [t, change[t], sse] + list(beta) + [ybar - mean @ beta]
            out.write(",".join(repr(float(v)) if isinstance(v, float) else str(v) for v in row)
                      + "\n")


if __name__ == "__main__":
    main()
