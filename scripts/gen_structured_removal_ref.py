#!/usr/bin/python3
"""Writes tests/data/structuredremoval/step1.csv: the weighted least-squares fit, in 50-digit
arithmetic (mpmath), of step 1 of BACKWARD by PRESS on tests/data/structuredremoval/data.csv:
y on the intercept, x1, x2 (an offset of some -3.5e7 with a spread of a few units), x3 and the
levels of the CLASS variables g1 (12 levels), g2 (4) and m1 (many levels), weighted by w, once
the degree-10 spline of x1 has left. Each CLASS variable is coded by its levels less the last
(any coding of full rank spans the same columns, so the fit and the continuous columns'
standard errors are the same). The data's values are taken as the doubles they read as, which
the fit is sensitive to (x2's offset is some 1e7 times its spread). Writes the error SS, its degrees of freedom and the standard
errors of x1, x2 and x3. Run from the repository root:
/usr/bin/python3 scripts/gen_structured_removal_ref.py"""
import csv
import os

import mpmath

DIR = os.path.join("tests", "data", "structuredremoval")


def design():
    with open(os.path.join(DIR, "data.csv")) as f:
        rows = list(csv.DictReader(f))
    columns = [[1] * len(rows)]
    columns += [[mpmath.mpf(float(r[k])) for r in rows] for k in ("x1", "x2", "x3")]
    for k in ("g1", "g2", "m1"):
        levels = sorted(set(r[k] for r in rows))
        columns += [[1 if r[k] == v else 0 for r in rows] for v in levels[:-1]]
    y = [mpmath.mpf(float(r["y"])) for r in rows]
    w = [mpmath.mpf(float(r["w"])) for r in rows]
    return columns, y, w


def main():
    mpmath.mp.dps = 50
    columns, y, w = design()
    n, p = len(y), len(columns)
    X = mpmath.matrix(n, p)
    for j, c in enumerate(columns):
        for i in range(n):
            X[i, j] = c[i] * mpmath.sqrt(w[i])
    Y = mpmath.matrix([y[i] * mpmath.sqrt(w[i]) for i in range(n)])
    inverse = mpmath.inverse(X.T * X)
    b = inverse * (X.T * Y)
    r = Y - X * b
    sse = (r.T * r)[0]
    mse = sse / (n - p)
    se = [mpmath.sqrt(mse * inverse[j, j]) for j in (1, 2, 3)]
    with open(os.path.join(DIR, "step1.csv"), "w") as f:
        f.write("sse,df,se_x1,se_x2,se_x3\n")
        f.write(",".join(mpmath.nstr(v, 17) for v in [sse, n - p] + se) + "\n")


if __name__ == "__main__":
    main()
