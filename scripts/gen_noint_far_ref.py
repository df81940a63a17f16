#!/usr/bin/python3
"""Least-squares references for models without an intercept whose response is far from zero
against its spread, where the error SS is a tiny part of the uncorrected total y'y.
Writes, under tests/data/farresponse:

noint.csv: 60 rows of a 3-level CLASS g (L1-L3 in turn), x1 and x2 (4 decimals), a
response y near -2.2e8 with a spread of about 1.3 (3 decimals), and a response t near 3.8e7
on columns a near -3.5e7 and b near 1.1e4 that are themselves far from zero (a and b
written to 4 decimals, t to 3).

noint_ref.csv: for y on every subset of the effects g (its three level indicators, which
span the constant), x1 and x2, on every subset of a constant column c (all 1), x1 and x2
that holds c, and for t on a and b, statsmodels' OLS without a constant:
the error SS, the estimates and their standard errors in the columns' order (g's levels, or
c, first). The fits take the response less a combination of the columns with round
coefficients that is exact in doubles (the constant through g's indicators or c, t less
round multiples of a and b), so that no fit loses the response's digits to its level;
the estimates are carried back by adding the coefficients.
Run from the repository root: /usr/bin/python3 scripts/gen_noint_far_ref.py"""
import csv
import itertools
import os

import numpy as np
import statsmodels.api as sm

OUT = "tests/data/farresponse"
LEVEL = -220000000.0


def make_data():
    rng = np.random.default_rng(20261209)
    n = 60
    g = np.arange(n) % 3 + 1
    x1 = np.round(rng.normal(size=n), 4)
    x2 = np.round(rng.normal(size=n), 4)
    y = np.round(LEVEL + 0.8 * x1 + 0.5 * (g == 2) - 0.4 * (g == 3) + 1.3 * rng.normal(size=n),
                 3)
    a = np.round(-35416657 + 0.4 * rng.normal(size=n), 4)
    b = np.round(10760 + 8 * rng.normal(size=n), 4)
    t = np.round(-1.0844 * a + 0.025 * b + 6 * rng.normal(size=n), 3)
    with open(os.path.join(OUT, "noint.csv"), "w", newline="") as f:
        f.write("g,x1,x2,y,a,b,t\n")
        for r in zip(g, x1, x2, y, a, b, t):
            f.write("L%d,%.4f,%.4f,%.3f,%.4f,%.4f,%.3f\n" % r)


def read():
    with open(os.path.join(OUT, "noint.csv")) as f:
        rows = list(csv.reader(f))
    cols = {h: [r[i] for r in rows[1:]] for i, h in enumerate(rows[0])}
    d = {h: np.array([float(v) for v in cols[h]]) for h in rows[0] if h != "g"}
    d["g"] = np.array([int(v[1:]) for v in cols["g"]])
    return d


def fit(X, y, shift):
    """OLS of y without a constant; shift: coefficients of X whose combination is taken
    from y first (exactly) and added back to the estimates."""
    res = sm.OLS(y - X @ shift, X).fit()
    return res.ssr, res.params + shift, res.bse


def references():
    d = read()
    out = [["response", "effects", "sse", "estimates", "stderr"]]
    levels = [(d["g"] == k).astype(float) for k in (1, 2, 3)]
    for k in range(1, 4):
        for subset in itertools.combinations(["g", "x1", "x2"], k):
            cols = [c for e in subset for c in (levels if e == "g" else [d[e]])]
            X = np.column_stack(cols)
            shift = np.array([LEVEL if "g" in subset and j < 3 else 0.0
                              for j in range(X.shape[1])])
            sse, est, se = fit(X, d["y"], shift)
            out.append(["y", " ".join(subset), "%.15g" % sse,
                        " ".join("%.17g" % v for v in est), " ".join("%.12g" % v for v in se)])
    for k in range(0, 3):
        for subset in itertools.combinations(["x1", "x2"], k):
            X = np.column_stack([np.ones(len(d["y"]))] + [d[e] for e in subset])
            shift = np.array([LEVEL] + [0.0] * k)
            sse, est, se = fit(X, d["y"], shift)
            out.append(["y", " ".join(("c",) + subset), "%.15g" % sse,
                        " ".join("%.17g" % v for v in est), " ".join("%.12g" % v for v in se)])
    X = np.column_stack([d["a"], d["b"]])
    sse, est, se = fit(X, d["t"], np.array([-1.0844, 0.025]))
    out.append(["t", "a b", "%.15g" % sse, " ".join("%.17g" % v for v in est),
                " ".join("%.12g" % v for v in se)])
    with open(os.path.join(OUT, "noint_ref.csv"), "w", newline="") as f:
        csv.writer(f, lineterminator="\n").writerows(out)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    make_data()
    references()
