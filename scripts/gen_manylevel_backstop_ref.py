#!/usr/bin/python3
"""Writes tests/data/manylevelbackstop/: data.csv (a CLASS variable m1 of 150 levels on 300
rows, the first 150 rows taking each level in turn; z = the level's index + 2e-6 noise, so that
the levels explain z but for that noise; x1, x2 noise; y = 2 x1 + 0.1 x2 + the level's mean +
0.5 noise; weights w uniform on [0.5, 2]) and fit.csv, numpy's weighted least-squares fit of
the model BACKWARD by BIC selects on it (Intercept z x1 m1 under the reference coding, x2 gone):
the columns taken in the model's order (intercept, z, x1, then the levels) by the exact pivot
rule (a column whose pivot falls below 1e-9 of its sum of squares is left out: one level,
the one that with z spans the others), the model DF, error SS, and the estimates and standard
errors of the intercept, z and x1. Run from the repository root:
/usr/bin/python3 scripts/gen_manylevel_backstop_ref.py"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import exactpivots  # noqa: E402

OUT = "tests/data/manylevelbackstop"
LEVELS = 150


def make():
    rng = np.random.default_rng(7)
    g = np.concatenate([np.arange(LEVELS), rng.integers(0, LEVELS, size=LEVELS)])
    n = len(g)
    z = g.astype(float) + 2e-6 * rng.standard_normal(n)
    x1 = rng.standard_normal(n)
    x2 = rng.standard_normal(n)
    mean = rng.standard_normal(LEVELS)
    y = 2.0 * x1 + 0.1 * x2 + mean[g] + 0.5 * rng.standard_normal(n)
    w = rng.uniform(0.5, 2.0, n)
    return g, z, x1, x2, y, w


def taken_columns(X, sw, names):
    """The columns kept by the pivot rule in order on the weighted columns (exactpivots.py),
    and the names of those it leaves out."""
    keep = exactpivots.kept_columns(X * sw[:, None])
    return keep, [names[j] for j in range(X.shape[1]) if j not in keep]


def main():
    g, z, x1, x2, y, w = make()
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "data.csv"), "w") as f:
        f.write("y,z,x1,x2,m1,w\n")
        for i in range(len(g)):
            f.write("%.17g,%.17g,%.17g,%.17g,L%04d,%.17g\n" % (y[i], z[i], x1[i], x2[i], g[i] + 1, w[i]))
    # the reference coding: one indicator a level, the last level's left out
    levels = np.column_stack([(g == l).astype(float) for l in range(LEVELS - 1)])
    X = np.column_stack([np.ones(len(g)), z, x1, levels])
    names = ["Intercept", "z", "x1"] + ["m1 L%04d" % (l + 1) for l in range(LEVELS - 1)]
    sw = np.sqrt(w)
    keep, refused = taken_columns(X, sw, names)
    A = X[:, keep] * sw[:, None]
    scale = np.sqrt((A * A).sum(axis=0))
    Q, R = np.linalg.qr(A / scale)
    beta = np.linalg.solve(R, Q.T @ (y * sw)) / scale
    resid = (y - X[:, keep] @ beta) * sw
    sse = float(resid @ resid)
    dfe = len(g) - len(keep)
    Rinv = np.linalg.solve(R, np.eye(R.shape[0]))
    var = (Rinv * Rinv).sum(axis=1) / scale**2 * sse / dfe
    with open(os.path.join(OUT, "fit.csv"), "w") as f:
        f.write("name,value\n")
        f.write("refused,%s\n" % " ".join(refused))
        f.write("model_df,%d\n" % (len(keep) - 1))
        f.write("error_ss,%.17g\n" % sse)
        for i, name in enumerate(["Intercept", "z", "x1"]):
            f.write("estimate %s,%.17g\n" % (name, beta[i]))
            f.write("stderr %s,%.17g\n" % (name, np.sqrt(var[i])))


if __name__ == "__main__":
    main()
