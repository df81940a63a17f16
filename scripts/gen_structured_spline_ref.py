#!/usr/bin/python3
"""Least-squares references of STEPWISE by C(p) over a degree-11 B-spline of x (18 equally
spaced knots), an effect-coded CLASS c of 211 levels and two covariates, with WEIGHT, where
a few rows weigh 1e-4 (seed 2), or nothing and 1e-6 (seed 13): a spline column whose rows
weigh next to nothing beside levels of tiny weight, which the many-level road's sweep of the
small columns after the levels once lost.

Writes tests/data/structuredspline/d<seed>.csv (y, c, x, x1, x2, w; 539 rows) and
ref<seed>.csv: the full model's error SS and rank, then for the models Intercept, + S, + c,
+ x1 (the order STEPWISE takes) the error SS, rank and C(p) = SSE / s2 - n + 2 rank with s2
the full model's error SS over n - its rank, n the rows of positive weight. The B-spline
columns come from scipy's BSpline.design_matrix on the knots the procedure places (boundary
knots spaced like the interior ones, the innermost moved just outside the data), the
effect coding from the levels in sorted order (the last the reference), and the fits from an
SVD of the weighted columns scaled to unit length, whose rank counts the singular values
above 1e-9 n of the largest.
"""
import os

import numpy as np
from scipy.interpolate import BSpline

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "structuredspline")
N, LEVELS, DEGREE, KNOTS = 539, 211, 11, 18


def data(seed):
    r = np.random.default_rng(seed)
    c = r.integers(0, LEVELS, N)
    x = r.uniform(0, 10, N)
    x1, x2, w = r.normal(size=N), r.normal(size=N), r.uniform(0.5, 2, N)
    if seed % 2:
        w[r.choice(N, N // 15, replace=False)] = 0.0
    if seed % 3:
        w[r.choice(N, N // 15, replace=False)] = [1e-9, 1e-6, 1e-4][seed % 3]
    effect = r.normal(size=LEVELS)
    y = 3 * np.sin(x) + 0.5 * x1 + 0.8 * effect[c] + r.normal(size=N)
    lines = ["y,c,x,x1,x2,w"] + ["%.10g,L%d,%.10g,%.10g,%.10g,%.10g" % t for t in
                                 zip(y, c, x, x1, x2, w)]
    return "\n".join(lines) + "\n"


def spline(x):
    lo, hi = x.min(), x.max()
    step, e = (hi - lo) / (KNOTS + 1), 1.110223024625157e-13
    knots = ([lo - j * step for j in range(DEGREE - 1, 0, -1)] + [lo - e] +
             [lo + j * step for j in range(1, KNOTS + 1)] + [hi + e] +
             [hi + j * step for j in range(1, DEGREE)])
    ext = np.concatenate([[knots[0] - 1], knots, [knots[-1] + 1]])
    return BSpline.design_matrix(x, ext, DEGREE).toarray()


def fit(X, y, w):
    keep = w > 0
    sw = np.sqrt(w[keep])
    A, b = X[keep] * sw[:, None], y[keep] * sw
    s = np.sqrt((A ** 2).sum(0))
    s[s == 0] = 1
    U, S, _ = np.linalg.svd(A / s, full_matrices=False)
    rank = int((S > S[0] * 1e-9 * A.shape[0]).sum())
    r = b - U[:, :rank] @ (U[:, :rank].T @ b)
    return float(r @ r), rank


def main():
    os.makedirs(OUT, exist_ok=True)
    for seed in (2, 13):
        text = data(seed)
        with open(os.path.join(OUT, "d%d.csv" % seed), "w") as f:
            f.write(text)
        rows = [line.split(",") for line in text.splitlines()[1:]]
        col = lambda k: np.array([float(r[k]) for r in rows])
        y, x, x1, x2, w = col(0), col(2), col(3), col(4), col(5)
        levels = sorted({r[1] for r in rows})
        g = np.array([levels.index(r[1]) for r in rows])
        C = np.zeros((N, len(levels) - 1))
        for i, k in enumerate(g):
            if k == len(levels) - 1:
                C[i, :] = -1.0
            else:
                C[i, k] = 1.0
        blocks = {"Intercept": np.ones((N, 1)), "S": spline(x), "c": C,
                  "x1": x1[:, None], "x2": x2[:, None]}
        n = int((w > 0).sum())
        full_sse, full_rank = fit(np.hstack(list(blocks.values())), y, w)
        s2 = full_sse / (n - full_rank)
        out = ["model,sse,rank,cp", "full,%r,%d," % (full_sse, full_rank)]
        model = []
        for effect in ["Intercept", "S", "c", "x1"]:
            model.append(blocks[effect])
            sse, rank = fit(np.hstack(model), y, w)
            out.append("%s,%r,%d,%r" % (effect, sse, rank, sse / s2 - n + 2 * rank))
        with open(os.path.join(OUT, "ref%d.csv" % seed), "w") as f:
            f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
