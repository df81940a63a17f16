#!/usr/bin/python3
"""Reference CV PRESS along FORWARD selection by CV over the terms of a cubic polynomial in
three variables of very different scales (a rock-sample shape: pore area in the thousands,
perimeter in the thousands, a shape factor below one), whose later steps are nearly
dependent (scaled condition up to about 1e5).

Writes into tests/data/cvpoly/:
  rocklike.csv  48 rows: area, peri, shape, the response perm, a weight w and an index
                variable fold (row i in fold i mod 5 + 1, the partition of SPLIT(5));
  press.csv     for each fold method, weighting (none or WEIGHT w) and set of terms reached
                by the greedy forward search on these exact CV PRESS values or tried as a
                candidate along it: the terms (sorted, space separated), the CV PRESS (the sum
                over the folds of the held-out weighted squared errors of the least-squares
                refit on the rows outside the fold) and `margin`, for a step's chosen set, the
                relative gap between its CV PRESS and the next best candidate's.

The refits are Householder QR (numpy) of the training rows' columns, centred and scaled to
unit length, weighted by the square root of w. The folds: SPLIT(k) row i in fold i mod k,
BLOCK(k) consecutive blocks (the first n mod k one row longer), RANDOM(k) the Lehmer stream
of scripts/gen_cv_steps_ref.py started at SEED=5, INDEX(fold) a fold per level of fold.

Run with Debian's python3 (numpy): /usr/bin/python3 scripts/gen_cv_poly_ref.py
"""
import csv
import itertools
import os
import sys

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # small solves: threads only contend

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_cv_steps_ref import block_folds, lehmer_folds  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "cvpoly")
VARS = ["area", "peri", "shape"]
FOLD_METHODS = ["split(5)", "block(4)", "random(5)", "index(fold)"]


def make_data():
    rng = np.random.default_rng(48)
    n = 48
    area = np.round(rng.uniform(1000, 12300, n))
    peri = np.round(area * rng.uniform(0.12, 0.45, n) + rng.normal(0, 300, n) + 900, 1)
    shape = np.round(rng.uniform(0.09, 0.46, n), 6)
    perm = 1300 * np.exp(-area / 4000) * (1 + 2 * shape) + 0.05 * peri + rng.normal(0, 120, n)
    perm = np.round(np.abs(perm) + 6, 1)
    w = np.round(rng.uniform(0.5, 3.0, n), 2)
    fold = np.arange(n) % 5 + 1
    return {"area": area, "peri": peri, "shape": shape, "perm": perm, "w": w, "fold": fold}


def terms():
    """The polynomial's terms in the procedure's names: degree 1 to 3, variables in order."""
    out = []
    for degree in (1, 2, 3):
        for combo in itertools.combinations_with_replacement(range(3), degree):
            parts = []
            for v in sorted(set(combo)):
                c = combo.count(v)
                parts.append(VARS[v] + ("^%d" % c if c > 1 else ""))
            out.append("*".join(parts))
    return out


def column(data, term):
    x = np.ones(len(data["area"]))
    for part in term.split("*"):
        name, _, power = part.partition("^")
        x = x * data[name] ** (int(power) if power else 1)
    return x


def refit_errors(A, y, w, out):
    """Held-out weighted squared errors of the weighted least-squares fit on rows ~out."""
    tr = ~out
    sw = np.sqrt(w[tr])
    X = A[tr]
    mean = np.average(X, axis=0, weights=w[tr]) if X.shape[1] else np.zeros(0)
    Xc = X - mean
    scale = np.sqrt((w[tr, None] * Xc ** 2).sum(axis=0))
    Z = np.column_stack([sw] + [sw * Xc[:, j] / scale[j] for j in range(X.shape[1])])
    q, r = np.linalg.qr(Z)
    b = np.linalg.solve(r, q.T @ (sw * y[tr]))
    pred = b[0] + ((A[out] - mean) / scale) @ b[1:] if X.shape[1] else np.full(out.sum(), b[0])
    return float(np.sum(w[out] * (y[out] - pred) ** 2))


def cv_press(data, chosen, y, w, folds):
    A = np.column_stack([column(data, t) for t in chosen]) if chosen else np.zeros((len(y), 0))
    return sum(refit_errors(A, y, w, folds == f) for f in np.unique(folds))


def folds_of(method, data):
    n = len(data["area"])
    if method.startswith("index"):
        return data["fold"]
    k = int(method[method.index("(") + 1:-1])
    if method.startswith("split"):
        return np.arange(n) % k
    if method.startswith("block"):
        return block_folds(n, k)
    return lehmer_folds(n, k, 5)


def forward(data, y, w, folds, rows, tag):
    names = terms()
    chosen = []
    press = cv_press(data, chosen, y, w, folds)
    rows.append(tag + ["", repr(press), ""])
    while len(chosen) < len(names):
        tried = sorted((cv_press(data, chosen + [t], y, w, folds), t)
                       for t in names if t not in chosen)
        best, term = tried[0]
        margin = (tried[1][0] - best) / best if len(tried) > 1 else 1.0
        for value, t in tried[1:]:
            rows.append(tag + [" ".join(sorted(chosen + [t])), repr(value), ""])
        chosen.append(term)
        rows.append(tag + [" ".join(sorted(chosen)), repr(best), "%.3g" % margin])


def main():
    os.makedirs(OUT, exist_ok=True)
    data = make_data()
    names = ["area", "peri", "shape", "perm", "w", "fold"]
    with open(os.path.join(OUT, "rocklike.csv"), "w", newline="") as out:
        wr = csv.writer(out)
        wr.writerow(names)
        for i in range(len(data["area"])):
            wr.writerow(["%.10g" % data[c][i] for c in names])
    rows = [["folds", "weight", "effects", "cvpress", "margin"]]
    y = data["perm"]
    for method in FOLD_METHODS:
        folds = folds_of(method, data)
        for weighted in (False, True):
            w = data["w"] if weighted else np.ones(len(y))
            forward(data, y, w, folds, rows, [method, "w" if weighted else ""])
    with open(os.path.join(OUT, "press.csv"), "w", newline="") as out:
        csv.writer(out).writerows(rows)


if __name__ == "__main__":
    main()
