#!/usr/bin/python3
"""Writes tests/data/cvrows/press.csv: along the path of FORWARD selection by SBC over
y = x1 x2 x3 and the powers v1 .. v1^9 of tests/data/cvrows/d.csv (51 rows), each step's CV
PRESS from exact refits of the folds of BLOCK(7), SPLIT(7), RANDOM(7) (SEED=811941) and
INDEX(fold): the normal equations of each fold's training rows' doubles solved at 80 digits
(mpmath), each held-out residual formed at 80 digits (foldrefitspread.exact_error); beside it
the allowance of the sum: per fold 1e-9 of the corrected total where the scaled condition of
its training design (columns centred and scaled, ref.fit) is below 1e6, else the larger of
that and 16 eps times the condition times the fold's error.

The rows are those of an oracle program whose fold of the largest v1 holds a row far beyond
the others: held out, it lies at a leverage of some 4e7 of the training rows once the high
powers are in, while their variance inflation stays below 1e6, so that coefficients solved
from the fold's cross products miss its held-out error by far more than the allowance. The
path is the greedy one of the least-squares SBC (numpy), the same for every fold scheme.
Beside it, for the model of the path's first eight effects under BLOCK(7), where the fold of
the far row has a training inflation of 290 and that row a leverage of 1.9e5 (the other folds
inflations near 3e3 and leverages below 4): tests/data/selection/cvrows_design.csv (the
design, the intercept's column first, for the model layer's fixture) and
tests/data/cvrows/folds.csv, per fold its exact held-out error, 1e-9 of the corrected total,
its held-out rows' leverages under its training fit added up (numpy), the largest variance
inflation of its training columns about their means and whether the fold's sums hold its
error by the rule: that inflation times one plus the leverage within 1e6.
Run from the repository root: /usr/bin/python3 scripts/gen_cv_rows_ref.py"""
import csv
import math
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from foldrefitspread import exact_error  # noqa: E402
from oracle_lib import check, ref  # noqa: E402

OUT = "tests/data/cvrows"
SEED = 811941
K = 7
EPS = np.finfo(float).eps


def load():
    with open(os.path.join(OUT, "d.csv")) as f:
        rows = list(csv.DictReader(f))
    d = {k: np.array([float(r[k]) for r in rows]) for k in rows[0]}
    effects = {"x1": d["x1"], "x2": d["x2"], "x3": d["x3"], "v1": d["v1"]}
    for p in range(2, 10):
        effects["v1^%d" % p] = d["v1"] ** p
    return d, effects


def sbc(X, y):
    A = np.column_stack([np.ones(len(y))] + X)
    r = y - A @ np.linalg.lstsq(A, y, rcond=None)[0]
    n = len(y)
    return n * math.log(float(r @ r) / n) + A.shape[1] * math.log(n)


def path(effects, y):
    taken, left = [], list(effects)
    while left:
        best = min(left, key=lambda e: sbc([effects[t] for t in taken + [e]], y))
        taken.append(best)
        left.remove(best)
    return taken


def schemes(d):
    n = len(d["y"])
    q, r = divmod(n, K)
    return {
        "block(7)": np.repeat(np.arange(K), [q + 1 if j < r else q for j in range(K)]),
        "split(7)": np.arange(n) % K,
        "random(7)": check.lehmer_folds(n, K, SEED),
        "index(fold)": d["fold"].astype(int),
    }


def press(X, y, folds, tss):
    """The exact CV PRESS of the columns X and the allowance of the sum."""
    A = np.column_stack([np.ones(len(y))] + X)
    w = np.ones(len(y))
    total = allowed = 0.0
    for k in sorted(set(folds.tolist())):
        out = folds == k
        part = exact_error(A, y, w, ~out, out)
        cond = ref.fit(A[~out][:, 1:], y[~out], w[~out], False).cond
        total += part
        allowed += 1e-9 * tss if cond < 1e6 else max(1e-9 * tss, 16 * EPS * cond * part)
    return total, allowed


def fold_rule(d, effects, order):
    """The design of the whole model and, per BLOCK(7) fold, its exact error, summed held-out
    leverage, largest training inflation and the rule's verdict."""
    y = d["y"]
    X = np.column_stack([np.ones(len(y))] + [effects[e] for e in order[:8]])
    tss = float(np.sum((y - y.mean()) ** 2))
    with open("tests/data/selection/cvrows_design.csv", "w", newline="") as f:
        out = csv.writer(f)
        out.writerow(["y"] + [1] * X.shape[1])
        for i in range(len(y)):
            out.writerow([repr(float(y[i]))] + [repr(float(v)) for v in X[i]])
    folds = schemes(d)["block(7)"]
    with open(os.path.join(OUT, "folds.csv"), "w", newline="") as f:
        out = csv.writer(f)
        out.writerow(["fold", "error", "allowed", "leverage", "inflation", "sumsHold"])
        for k in range(K):
            held = folds == k
            T, H = X[~held], X[held]
            G = T.T @ T
            leverage = float(np.trace(np.linalg.solve(G, H.T @ H)))
            C = T[:, 1:] - T[:, 1:].mean(axis=0)
            S = C.T @ C
            inflation = float(np.max(np.diag(S) * np.diag(np.linalg.inv(S))))
            error = exact_error(X, y, np.ones(len(y)), ~held, held)
            out.writerow([k, repr(error), "%.3g" % (1e-9 * tss), "%.6g" % leverage, "%.6g" % inflation,
                          int(inflation * (1 + leverage) <= 1e6)])


def main():
    d, effects = load()
    y = d["y"]
    tss = float(np.sum((y - y.mean()) ** 2))
    order = path(effects, y)
    with open(os.path.join(OUT, "press.csv"), "w", newline="") as f:
        out = csv.writer(f)
        out.writerow(["method", "step", "entered", "cvpress", "allowed"])
        for method, folds in schemes(d).items():
            for step in range(len(order) + 1):
                total, allowed = press([effects[e] for e in order[:step]], y, folds, tss)
                out.writerow([method, step, order[step - 1] if step else "Intercept",
                              repr(total), "%.3g" % allowed])
    fold_rule(d, effects, order)


if __name__ == "__main__":
    main()
