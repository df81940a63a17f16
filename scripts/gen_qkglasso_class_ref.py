#!/usr/bin/python3
"""Least-squares references for the adaptive solver-based LASSO with per-parameter
standardization (QKGLASSO$ with ADAPTIVE) at L1 = 0 (no penalty) on CLASS effects of more than
two levels, on the made-up house sales (examples/houses.csv): at L1 = 0 the fit is the
least-squares fit whatever its adaptive weights, so each case's estimates are statsmodels'
OLS estimates, written to tests/data/grouplasso/qkglasso_class_ls.csv.

Cases (the model's effects; an intercept always):
  full: area rooms age type district   (type 4 levels, district 8 levels)
  type: type
A CLASS effect's columns are its level indicators in sorted order; its last level is aliased
with the intercept and the levels before it, gets the estimate 0 and is left out of the fit.
Each row: case, parameter name (blanks squeezed: "typeDetached"), estimate, standard error.
Run from the repository root: /usr/bin/python3 scripts/gen_qkglasso_class_ref.py"""
import csv
import os

import numpy as np
import statsmodels.api as sm

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "grouplasso", "qkglasso_class_ls.csv")
CASES = [("full", ["area", "rooms", "age", "type", "district"]), ("type", ["type"])]
CLASSES = ("type", "district")


def main():
    with open(os.path.join(ROOT, "examples", "houses.csv")) as f:
        rows = list(csv.DictReader(f))
    y = np.array([float(r["price"]) for r in rows])
    out = [["case", "parameter", "estimate", "stderr"]]
    for case, effects in CASES:
        names, cols = ["Intercept"], [np.ones(len(rows))]
        aliased = []
        for e in effects:
            if e in CLASSES:
                levels = sorted(set(r[e] for r in rows))
                for lv in levels[:-1]:
                    names.append(e + lv)
                    cols.append(np.array([r[e] == lv for r in rows], dtype=float))
                aliased.append(e + levels[-1])
            else:
                names.append(e)
                cols.append(np.array([float(r[e]) for r in rows]))
        fit = sm.OLS(y, np.column_stack(cols)).fit()
        for n, b, se in zip(names, fit.params, fit.bse):
            out.append([case, n, "%.17g" % b, "%.12g" % se])
        for n in aliased:
            out.append([case, n, "0", "0"])
    with open(OUT, "w", newline="") as f:
        csv.writer(f, lineterminator="\n").writerows(out)


if __name__ == "__main__":
    main()
