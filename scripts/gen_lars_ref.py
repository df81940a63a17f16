#!/usr/bin/python3
"""Reference paths of LAR, LASSO and their variants on the diabetes data.

The design is standardized the way the procedure does it: every column centred and divided
by its standard deviation with divisor n-1 (TRAIN rows only), the response centred. Paths
come from scikit-learn's lars_path; least-squares coefficients of the active sets from numpy;
the adaptive path is lars_path on X times the weights; the elastic net at a fixed L2 is the
LASSO on the augmented data [X; sqrt((n-1) L2) I], [y; 0].

Writes tests/data/lars/<case>.csv with one row per knot:
  knot, change (+k entered, -k removed, 0 start), lambda/lambdaMax, L1 norm, SSE, active count,
  10 path coefficients (standardized scale), 10 coefficients on the data scale, intercept.
Effect k (1..10) is design column k; effect 0 is the intercept.
Also writes inest.csv (the INEST= estimates used) and lambda_max.csv (the path maximum).
Needs Debian's python3-sklearn. Run: /usr/bin/python3 scripts/gen_lars_ref.py
"""
import os

import numpy as np
from sklearn.linear_model import lars_path

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "lars")


def load(name, roles=None):
    rows = open(os.path.join(ROOT, "tests", "data", "selection", name + "_design.csv")).read().split()
    data = np.array([[float(v) for v in r.split(",")] for r in rows[1:]])
    y, X = data[:, 0], data[:, 2:]  # drop the intercept column
    if roles is None:
        roles = "A" * len(y)
    return X, y, np.array(list(roles))


def standardize(X, y, train):
    mean = X[train].mean(axis=0)
    sd = X[train].std(axis=0, ddof=1)
    ybar = y[train].mean()
    return (X - mean) / sd, y - ybar, mean, sd, ybar


def events(coefs):
    """Signed effect numbers of the knots: +k when k enters, -k when it leaves."""
    out = [0]
    active = set()
    pending = None
    for t in range(1, coefs.shape[1]):
        if pending is not None:
            out.append(-(pending + 1))
            active.discard(pending)
            pending = None
        else:
            new = [j for j in range(coefs.shape[0]) if coefs[j, t] != 0 and j not in active]
            assert len(new) == 1, (t, new)
            out.append(new[0] + 1)
            active.add(new[0])
        zero = [j for j in active if coefs[j, t] == 0 and abs(out[-1]) != j + 1]
        if zero:
            assert len(zero) == 1
            pending = zero[0]
    return out


def write(name, rows):
    with open(os.path.join(OUT, name + ".csv"), "w") as f:
        f.write("knot,change,pathvalue,l1,sse,active," +
                ",".join("b%d" % i for i in range(1, 11)) + "," +
                ",".join("beta%d" % i for i in range(1, 11)) + ",intercept\n")
        for r in rows:
            f.write(",".join(repr(float(v)) if isinstance(v, float) else str(v) for v in r) + "\n")


def path_rows(Xs, yc, coefs, alphas, change, mean, sd, ybar, scale_out=None, least_squares=False,
              weights=None, en_scale=1.0, sse_scale=1.0):
    rows = []
    active = set()
    w = np.ones(Xs.shape[1]) if weights is None else weights
    for t in range(coefs.shape[1]):
        c = change[t]
        if c > 0:
            active.add(c - 1)
        elif c < 0:
            active.discard(-c - 1)
        b = coefs[:, t]
        idx = sorted(active)
        if least_squares:
            ls = np.zeros(Xs.shape[1])
            if idx:
                Xa = Xs[:, idx] * w[idx]
                sol, *_ = np.linalg.lstsq(Xa, yc, rcond=None)
                ls[idx] = sol
            resid = yc - (Xs * w) @ ls
            report = ls * en_scale
        else:
            resid = yc - (Xs * w) @ (b * sse_scale)
            report = b * en_scale
        beta = report * w / sd
        intercept = ybar - mean @ beta
        rows.append([t, c, float(alphas[t] / alphas[0]), float(np.abs(b).sum()),
                     float(resid @ resid), len(idx)] + [float(v) for v in b] +
                    [float(v) for v in beta] + [float(intercept)])
    return rows


def main():
    os.makedirs(OUT, exist_ok=True)
    X, y, roles = load("diabetes")
    train = roles == "A"
    Xs, yc, mean, sd, ybar = standardize(X, y, train)
    n = len(y)

    # The path maximum: the largest |x_j'y| of the standardized columns.
    with open(os.path.join(OUT, "lambda_max.csv"), "w") as f:
        f.write(repr(float(np.abs(Xs.T @ yc).max())) + "\n")

    for method in ("lar", "lasso"):
        alphas, _, coefs = lars_path(Xs, yc, method=method)
        ch = events(coefs)
        write(method, path_rows(Xs, yc, coefs, alphas, ch, mean, sd, ybar))
        write(method + "_ls", path_rows(Xs, yc, coefs, alphas, ch, mean, sd, ybar,
                                        least_squares=True))

    # Adaptive weights: |b|^gamma of the full least-squares fit on the standardized scale,
    # and of INEST= estimates given on the data scale.
    ols, *_ = np.linalg.lstsq(Xs, yc, rcond=None)
    inest = np.array([-0.5, -20.0, 5.0, 1.0, -1.0, 0.7, 0.2, 6.0, 60.0, 0.3])
    with open(os.path.join(OUT, "inest.csv"), "w") as f:
        f.write(",".join(repr(float(v)) for v in inest) + "\n")
    for tag, wts in (("ls", np.abs(ols)), ("inest", np.abs(inest * sd) ** 0.5)):
        alphas, _, coefs = lars_path(Xs * wts, yc, method="lasso")
        ch = events(coefs)
        write("adaptive_" + tag, path_rows(Xs, yc, coefs, alphas, ch, mean, sd, ybar,
                                           weights=wts))

    # Elastic net at L2 = 0.01 as the LASSO on the augmented data.
    l2 = 0.01
    ridge = np.sqrt((n - 1) * l2)
    Xa = np.vstack([Xs, ridge * np.eye(Xs.shape[1])])
    ya = np.concatenate([yc, np.zeros(Xs.shape[1])])
    alphas, _, coefs = lars_path(Xa, ya, method="lasso")
    ch = events(coefs)
    s = 1.0 + (n - 1) * l2
    write("enet", path_rows(Xs, yc, coefs, alphas, ch, mean, sd, ybar))
    write("enet_scaled", path_rows(Xs, yc, coefs, alphas, ch, mean, sd, ybar, en_scale=s,
                                   sse_scale=s))

    # LASSO with a partition: validation ASE at every knot, standardized by the TRAIN rows.
    rolestr = open(os.path.join(ROOT, "tests", "data", "selection", "partition_roles.csv")).read().strip()
    Xp, yp, rp = load("partition", rolestr)
    tr = rp == "A"
    Xps, ypc, pmean, psd, pybar = standardize(Xp, yp, tr)
    alphas, _, coefs = lars_path(Xps[tr], ypc[tr], method="lasso")
    ch = events(coefs)
    rows = path_rows(Xps[tr], ypc[tr], coefs, alphas, ch, pmean, psd, pybar)
    va, te = rp == "V", rp == "T"
    with open(os.path.join(OUT, "partition_lasso_validate.csv"), "w") as f:
        f.write("knot,change,sse,validate_ase,test_ase\n")
        for t, r in enumerate(rows):
            rv = ypc[va] - Xps[va] @ coefs[:, t]
            rt = ypc[te] - Xps[te] @ coefs[:, t]
            f.write("%d,%d,%r,%r,%r\n" % (t, r[1], r[4], float(rv @ rv / va.sum()),
                                          float(rt @ rt / te.sum())))


if __name__ == "__main__":
    main()
