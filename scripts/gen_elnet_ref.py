#!/usr/bin/python3
"""Reference values of the elastic net's L2 search on the diabetes data.

Every trial at L2 is the LASSO path (scikit-learn's lars_path) of the augmented data
[X; sqrt((n-1) L2) I], [y; 0] with X standardized as in gen_lars_ref.py. A trial is judged by
SBC = n log(SSE/n) + p log(n) at the knot of smallest SBC (SSE of the original rows, p the
active count plus the intercept). The searches are simulated here as written:
  - grid: L2LOW=0, L2HIGH=10, L2STEPS=4 (the points 0, 1e-8, 10^-3.5, 10);
  - golden section: L2LOW=0, L2HIGH=1, L2STEPS=8.
Writes tests/data/lars/enet_search_<grid|golden>.csv, one row per trial:
  trial, L2, L1 ratio, rank, SBC, L2 norm, L1 norm, chosen knot + 1
and tests/data/lars/enet_l2_<k>.csv, the whole path of the grid's trial k, in the layout of
gen_lars_ref.py. Run: /usr/bin/python3 scripts/gen_elnet_ref.py
"""
import math
import os
import sys

import numpy as np
from sklearn.linear_model import lars_path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_lars_ref as ref  # noqa: E402
from oracle_lib.ref import golden_section  # noqa: E402


def trial(Xs, yc, l2):
    n, p = Xs.shape
    ridge = math.sqrt((n - 1) * l2)
    Xa = np.vstack([Xs, ridge * np.eye(p)])
    ya = np.concatenate([yc, np.zeros(p)])
    alphas, _, coefs = lars_path(Xa, ya, method="lasso")
    # A coefficient that reaches zero at a knot comes out as rounding noise.
    coefs = np.where(np.abs(coefs) < 1e-10, 0.0, coefs)
    # A last knot that changes no coefficient (the path already at the full model) is not a
    # step of the path.
    while coefs.shape[1] > 1 and np.allclose(coefs[:, -1], coefs[:, -2], rtol=0, atol=1e-12):
        alphas, coefs = alphas[:-1], coefs[:, :-1]
    return alphas, coefs


def tune_row(Xs, yc, l2):
    n = Xs.shape[0]
    alphas, coefs = trial(Xs, yc, l2)
    best, row = None, None
    for t in range(coefs.shape[1]):
        b = coefs[:, t]
        r = yc - Xs @ b
        sse = float(r @ r)
        rank = int(np.count_nonzero(b)) + 1
        sbc = n * math.log(sse / n) + rank * math.log(n)
        if best is None or sbc < best:
            best = sbc
            row = [l2, float(alphas[t] / alphas[0]), rank, sbc,
                   float(math.sqrt(b @ b)), float(np.abs(b).sum()), t + 1]
    return row


def grid_points(lo, hi, N):
    s = lo if lo != 0 else (hi * 1e-8 if hi < 1 else 1e-8)
    A, B = math.log10(s), math.log10(hi)
    step = (B - A) / (N - 1) if lo != 0 else ((B - A) / (N - 2) if N >= 3 else 0.0)
    pts = [lo]
    for i in range(1, N):
        pts.append(10 ** (A + i * step) if lo != 0 else 10 ** (A + (i - 1) * step))
    return pts


def golden(trial_row, a, b, N):
    """The golden-section search as written (the oracle's golden_section); trial_row(L2)
    gives a trial's row, its value in column 3. Returns the rows in trial order."""
    rows = []

    def f(x):
        rows.append(trial_row(x))
        return rows[-1][3]

    golden_section(f, a, b, N)
    return rows


def write(name, rows):
    with open(os.path.join(ref.OUT, name + ".csv"), "w") as out:
        out.write("trial,l2,l1ratio,rank,sbc,l2norm,l1norm,steps\n")
        for i, r in enumerate(rows):
            out.write("%d,%s\n" % (i, ",".join(repr(float(v)) for v in r)))


def main():
    X, y, roles = ref.load("diabetes")
    Xs, yc, mean, sd, ybar = ref.standardize(X, y, roles == "A")
    pts = grid_points(0.0, 10.0, 4)
    write("enet_search_grid", [tune_row(Xs, yc, l2) for l2 in pts])
    write("enet_search_golden", golden(lambda l2: tune_row(Xs, yc, l2), 0.0, 1.0, 8))
    for k, l2 in enumerate(pts):
        alphas, coefs = trial(Xs, yc, l2)
        ch = ref.events(coefs)
        ref.write("enet_l2_%d" % k, ref.path_rows(Xs, yc, coefs, alphas, ch, mean, sd, ybar))


if __name__ == "__main__":
    main()
