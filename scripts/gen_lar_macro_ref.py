#!/usr/bin/python3
"""Reference LAR and LASSO path values on trending quarterly series whose path falls four
orders of magnitude within a few knots.

Reads the US macroeconomic data that Debian's python3-statsmodels ships (203 quarters,
1959-2009) and keeps the training rows of the second of three consecutive blocks held out
(rows 69-136 out: BLOCK(3)'s second fold), the response realgdp and eleven columns. Writes:
  tests/data/selection/macrofold_design.csv  the design as the model-core tests read it (the
                                             response, the intercept's ones, the columns);
  tests/data/lars/macrofold.csv              per method (lar, lasso) and knot the path value,
                                             lambda / lambda max.
The knots are scripts/exactlar.py's, in 80-digit arithmetic.

Run with Debian's python3: /usr/bin/python3 scripts/gen_lar_macro_ref.py
"""
import csv
import os
import sys

import mpmath
import statsmodels.datasets.macrodata as macrodata

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import exactlar  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAMES = ["realcons", "realinv", "realgovt", "realdpi", "cpi", "m1", "tbilrate", "unemp",
         "pop", "infl", "realint"]


def main():
    with open(os.path.join(os.path.dirname(macrodata.__file__), "macrodata.csv")) as f:
        rows = [r for i, r in enumerate(csv.DictReader(f)) if not 68 <= i < 136]
    X = [[float(r[c]) for r in rows] for c in NAMES]
    y = [float(r["realgdp"]) for r in rows]
    with open(os.path.join(ROOT, "tests", "data", "selection", "macrofold_design.csv"), "w",
              newline="") as out:
        wr = csv.writer(out)
        wr.writerow(["widths"] + [1] * (len(NAMES) + 1))
        for r in rows:
            wr.writerow([r["realgdp"], "1.0"] + [r[c] for c in NAMES])
    out_rows = [["method", "knot", "pathvalue"]]
    for method in ("lar", "lasso"):
        with mpmath.workdps(exactlar.DIGITS):
            cols, b, _, _, _ = exactlar.standardize(X, y, [1.0] * len(y))
            knots, tied = exactlar.lar_knots(cols, b, lasso=method == "lasso")
        for k in range(1, len(knots)):
            out_rows.append([method, k, mpmath.nstr(tied[k] / tied[0], 17)])
    with open(os.path.join(ROOT, "tests", "data", "lars", "macrofold.csv"), "w",
              newline="") as out:
        csv.writer(out).writerows(out_rows)


if __name__ == "__main__":
    main()
