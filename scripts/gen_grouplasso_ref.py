#!/usr/bin/python3
"""Reference values of the solver-based LASSO and the group LASSO path on the diabetes data
(examples/diabetes.csv), written to tests/data/grouplasso/.

Group LASSO: the design is the intercept, AGE, SEX as two indicator columns (SEX=1, SEX=2:
one group of two columns), BMI, BP and S1-S6. Columns are centred and scaled by their
standard deviation (divisor n-1), the response centred. At penalty value v the problem is
    min 0.5 ||y - X b||^2 + v * lmax * sum_g sqrt(k_g) ||b_g||,
    lmax = max_g ||X_g'y|| / sqrt(k_g),
solved here by block coordinate descent: each group in turn is set to its exact minimiser
with the others fixed (a single column in closed form, a larger group by an inner
proximal-gradient loop on that block alone), sweeping until no coefficient moves by more than
1e-14. The path is v = rho^t, t = 1..steps, each solve warm-started from the one before.
grouplasso_path.csv: step, v, then the data-scale estimates (intercept first).

LASSO: scikit-learn's Lasso on the same standardized columns without SEX, at
alpha = r * lmax1 / n with lmax1 = max_j |x_j'y| (the penalty relative to its maximum, r),
data-scale estimates in qklasso.csv: r, then the estimates.
"""
import csv
import os

import numpy as np
from sklearn.linear_model import Lasso

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "grouplasso")
RHO, STEPS = 0.7, 30


def load():
    with open(os.path.join(ROOT, "examples", "diabetes.csv")) as f:
        rows = list(csv.DictReader(f))
    col = lambda k: np.array([float(r[k]) for r in rows])
    return col, col("Y")


def standardize(X, y):
    mean = X.mean(axis=0)
    sd = X.std(axis=0, ddof=1)
    return (X - mean) / sd, y - y.mean(), mean, sd


def data_scale(b, mean, sd, ybar):
    beta = b / sd
    return np.concatenate([[ybar - beta @ mean], beta])


def block_min(Xg, r, bg, tau, k):
    """argmin 0.5||r - Xg b||^2 + tau sqrt(k) ||b|| (r: residual without the block)."""
    c = Xg.T @ r
    w = tau * np.sqrt(k)
    if np.linalg.norm(c) <= w:
        return np.zeros_like(bg)
    G = Xg.T @ Xg
    if k == 1:
        return np.array([np.sign(c[0]) * (abs(c[0]) - w) / G[0, 0]])
    L = np.linalg.eigvalsh(G)[-1]
    b = bg.copy() if np.linalg.norm(bg) > 0 else c / L
    for _ in range(200000):
        u = b - (G @ b - c) / L
        n = np.linalg.norm(u)
        new = u * max(0.0, 1 - w / (L * n)) if n > 0 else u
        if np.max(np.abs(new - b)) < 1e-15:
            return new
        b = new
    return b


def solve_groups(X, yc, groups, tau, b):
    """Block coordinate descent from b until no coefficient moves by more than 1e-14."""
    for _ in range(100000):
        moved = 0.0
        for g in groups:
            r = yc - X @ b + X[:, g] @ b[g]
            new = block_min(X[:, g], r, b[g], tau, len(g))
            moved = max(moved, np.max(np.abs(new - b[g])))
            b[g] = new
        if moved < 1e-14:
            break
    return b


def group_path():
    col, y = load()
    sex = col("SEX")
    names = ["AGE", "SEX1", "SEX2", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]
    raw = np.column_stack([col("AGE"), (sex == 1) * 1.0, (sex == 2) * 1.0] +
                          [col(k) for k in ["BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]])
    X, yc, mean, sd = standardize(raw, y)
    groups = [[0], [1, 2]] + [[j] for j in range(3, 11)]
    lmax = max(np.linalg.norm(X[:, g].T @ yc) / np.sqrt(len(g)) for g in groups)
    b = np.zeros(X.shape[1])
    out = []
    v = 1.0
    for t in range(1, STEPS + 1):
        v *= RHO
        b = solve_groups(X, yc, groups, v * lmax, b)
        out.append([t, v] + list(data_scale(b, mean, sd, y.mean())))
    with open(os.path.join(OUT, "grouplasso_path.csv"), "w") as f:
        f.write("step,v,Intercept," + ",".join(names) + "\n")
        for row in out:
            f.write(",".join(repr(float(x)) for x in row) + "\n")
    with open(os.path.join(OUT, "grouplasso_lmax.csv"), "w") as f:
        f.write(repr(float(lmax)) + "\n")


def qklasso():
    col, y = load()
    names = ["AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]
    raw = np.column_stack([col(k) for k in names])
    X, yc, mean, sd = standardize(raw, y)
    n = X.shape[0]
    lmax = np.max(np.abs(X.T @ yc))
    with open(os.path.join(OUT, "qklasso.csv"), "w") as f:
        f.write("ratio,Intercept," + ",".join(names) + "\n")
        for r in [0.5, 0.2, 0.05]:
            m = Lasso(alpha=r * lmax / n, fit_intercept=False, tol=1e-14, max_iter=10**7)
            m.fit(X, yc)
            f.write(",".join(repr(float(x)) for x in
                             [r] + list(data_scale(m.coef_, mean, sd, y.mean()))) + "\n")


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    group_path()
    qklasso()
