#!/usr/bin/python3
"""Reference of least-squares fits with constructed effects on examples/diabetes.csv, built
independently of the procedure: the B-spline columns of BMI (EQUAL knots, 3 interior knots,
degree 3: boundary knots spaced like the interior ones, the innermost moved just outside the
data) with scipy's BSpline.design_matrix, the degree-2 polynomial terms of AGE and BP
(AGE, BP, AGE^2, AGE*BP, BP^2), and the estimates by numpy least squares. The spline columns
sum to 1, so the last one is aliased with the intercept and left out. Writes
tests/data/design/constructed_fit.txt:
  estimate <k> <value>     the estimates of Intercept, SP 1..6, AGE, BP, AGE^2, AGE*BP, BP^2
  sse <value>              the error sum of squares
  spline <obs> <7 values>  the spline columns of every observation (for prediction checks)
"""
import csv
import os

import numpy as np
from scipy.interpolate import BSpline

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.join(here, "..")
with open(os.path.join(root, "examples", "diabetes.csv")) as f:
    rows = list(csv.DictReader(f))
col = lambda k: np.array([float(r[k]) for r in rows])
bmi, age, bp, y = col("BMI"), col("AGE"), col("BP"), col("Y")
n = len(y)

e = 1.110223024625157e-13
lo, hi = bmi.min(), bmi.max()
step = (hi - lo) / 4
knots = [lo - 2 * step, lo - step, lo - e, lo + step, lo + 2 * step, lo + 3 * step,
         hi + e, lo + 5 * step, lo + 6 * step]
ext = np.concatenate([[knots[0] - 1], knots, [knots[-1] + 1]])
S = BSpline.design_matrix(bmi, ext, 3).toarray()
assert S.shape[1] == 7

X = np.column_stack([np.ones(n), S[:, :6], age, bp, age * age, age * bp, bp * bp])
beta, *_ = np.linalg.lstsq(X, y, rcond=None)
r = y - X @ beta
out = [f"estimate {k} {v!r}" for k, v in enumerate(beta)]
out.append(f"sse {float(r @ r)!r}")
out += ["spline %d %s" % (i, " ".join(repr(float(v)) for v in S[i])) for i in range(n)]
with open(os.path.join(root, "tests", "data", "design", "constructed_fit.txt"), "w") as f:
    f.write("\n".join(out) + "\n")
