#!/usr/bin/python3
"""Least-squares references for responses far from zero with a small spread, where the
error SS is a tiny part of the uncorrected total. Writes, under tests/data/farresponse:

stack.csv: the 21 rows of the stack loss data (air flow, water temperature, acid
concentration), the response standardised and shifted to mean 1e6 (written to 10 decimals).
stamp.csv: 120 rows of x1-x4 (4 decimals), a response near 1.7e9 with a spread of about 100
written to the millisecond (a time stamp), a fold index 1-4 and a group g (1, 2) whose rows
hold the response again shifted to 4e8; line.csv: 30 rows whose response 1e6 + 3 a - 2 b is
an exact linear function of the integer columns a and b, with a noise column c.

ref.csv: for each data set and every subset of its candidate columns: statsmodels' OLS error
SS of the response on the intercept and the subset (by group for stamp.csv), the corrected
total, the standard error of each column in the subset, and the CV PRESS over the folds of
stamp.csv (the held-out squared errors of numpy's fits without each fold). The fits take the
response less a round constant near its level, an exact subtraction in doubles, so that no
fit loses the response's digits to its level.
Run from the repository root: /usr/bin/python3 scripts/gen_far_response_ref.py"""
import csv
import itertools
import os

import numpy as np
import statsmodels.api as sm

OUT = "tests/data/farresponse"

STACK = [(80, 27, 89, 42), (80, 27, 88, 37), (75, 25, 90, 37), (62, 24, 87, 28),
         (62, 22, 87, 18), (62, 23, 87, 18), (62, 24, 93, 19), (62, 24, 93, 20),
         (58, 23, 87, 15), (58, 18, 80, 14), (58, 18, 89, 14), (58, 17, 88, 13),
         (58, 18, 82, 11), (58, 19, 93, 12), (50, 18, 89, 8), (50, 18, 86, 7),
         (50, 19, 72, 8), (50, 19, 79, 8), (50, 20, 80, 9), (56, 20, 82, 15),
         (70, 20, 91, 15)]


def write(name, header, rows, fmt):
    with open(os.path.join(OUT, name), "w", newline="") as f:
        f.write(",".join(header) + "\n")
        for r in rows:
            f.write(",".join(fm % v for fm, v in zip(fmt, r)) + "\n")


def read(name):
    with open(os.path.join(OUT, name)) as f:
        rows = list(csv.reader(f))
    return {h: np.array([float(r[i]) for r in rows[1:]]) for i, h in enumerate(rows[0])}


def make_data():
    s = np.array(STACK, dtype=float)
    y = s[:, 3]
    z = 1e6 + (y - y.mean()) / y.std(ddof=1)
    write("stack.csv", ["Air_Flow", "Water_Temp", "Acid_Conc", "stack_loss"],
          [(a, b, c, v) for (a, b, c, _), v in zip(STACK, z)], ["%d"] * 3 + ["%.10f"])
    rng = np.random.default_rng(20260)
    n = 120
    x = np.round(rng.normal(size=(n, 4)), 4)
    e = rng.normal(size=n)
    base = 30 * x[:, 0] + 10 * x[:, 1] + 3 * x[:, 2] + 25 * e
    fold = np.arange(n) % 4 + 1
    rows = []
    for g, level in ((1, 1.7e9), (2, 4e8)):
        t = np.round(level + base + (0 if g == 1 else 7 * x[:, 3]), 3)
        rows += [(g, *xi, ti, fi) for xi, ti, fi in zip(x, t, fold)]
    write("stamp.csv", ["g", "x1", "x2", "x3", "x4", "t", "fold"], rows,
          ["%d"] + ["%.4f"] * 4 + ["%.3f", "%d"])
    m = 30
    a = rng.integers(-20, 21, size=m)
    b = rng.integers(-20, 21, size=m)
    c = np.round(rng.normal(size=m), 4)
    write("line.csv", ["a", "b", "c", "y"], [(ai, bi, ci, 1000000 + 3 * ai - 2 * bi)
                                             for ai, bi, ci in zip(a, b, c)],
          ["%d", "%d", "%.4f", "%d"])


def cv_press(X, y, fold):
    press = 0.0
    for f in np.unique(fold):
        out = fold == f
        beta = np.linalg.lstsq(X[~out], y[~out], rcond=None)[0]
        press += float(((y[out] - X[out] @ beta) ** 2).sum())
    return press


def references():
    sets = {"stack": ("stack.csv", "stack_loss", ["Air_Flow", "Water_Temp", "Acid_Conc"]),
            "stamp": ("stamp.csv", "t", ["x1", "x2", "x3", "x4"]),
            "line": ("line.csv", "y", ["a", "b", "c"])}
    out = [["data", "group", "columns", "sse", "total", "se", "cvpress"]]
    for name, (file, response, cols) in sets.items():
        d = read(file)
        groups = np.unique(d["g"]) if "g" in d else [0]
        for g in groups:
            rows = d["g"] == g if "g" in d else np.ones(len(d[response]), bool)
            # The least-squares problem with an intercept is the same for the response less
            # a round constant near its level, a subtraction that is exact in doubles; the
            # fits on it do not lose the response's digits to its level.
            y = d[response][rows] - np.round(np.median(d[response][rows]), -3)
            total = float(((y - y.mean()) ** 2).sum())
            for k in range(len(cols) + 1):
                for subset in itertools.combinations(cols, k):
                    X = np.column_stack([np.ones(len(y))] + [d[c][rows] for c in subset])
                    fit = sm.OLS(y, X).fit()
                    se = " ".join("%.12g" % v for v in fit.bse[1:])
                    cvp = cv_press(X, y, d["fold"][rows]) if "fold" in d else float("nan")
                    out.append([name, "%d" % g, " ".join(subset), "%.15g" % fit.ssr,
                                "%.15g" % total, se, "%.15g" % cvp])
    with open(os.path.join(OUT, "ref.csv"), "w", newline="") as f:
        csv.writer(f, lineterminator="\n").writerows(out)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    make_data()
    references()
