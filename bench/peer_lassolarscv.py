#!/usr/bin/python3
"""Peer of bench_cv: scikit-learn's LassoLarsCV (five folds) on the same kind of data as
bench_cv's LASSO (fixed seed, response on the first 5 of 50 columns), and a forward
selection by five-fold CV PRESS written with numpy least squares (the refit of every
candidate on the rows outside each fold), on 20 columns for 5 steps. Prints the median of
three runs. LassoLarsCV is also the peer of bench_cv's CHOOSE=CVEX (five fold paths, their
errors on a merged grid, a final path on all rows): pass "lasso" as the second argument to
time it alone. Run: /usr/bin/python3 bench/peer_lassolarscv.py [rows] [lasso]"""
import sys
import time

import numpy as np
from sklearn.linear_model import LassoLarsCV
from sklearn.model_selection import KFold


def data(n, p, signal=5):
    rng = np.random.default_rng(20261207)
    x = rng.standard_normal((n, p))
    y = x[:, :signal] @ (1.0 + 0.1 * np.arange(signal)) + rng.standard_normal(n)
    return y, x


def cv_press(x, y, folds, cols):
    a = np.column_stack([np.ones(len(y))] + [x[:, c] for c in cols])
    total = 0.0
    for k in range(5):
        tr, te = folds != k, folds == k
        beta, *_ = np.linalg.lstsq(a[tr], y[tr], rcond=None)
        r = y[te] - a[te] @ beta
        total += float(r @ r)
    return total


def forward_by_cv(x, y, steps=5):
    folds = np.arange(len(y)) % 5
    cols = []
    for _ in range(steps):
        best = min((cv_press(x, y, folds, cols + [c]), c)
                   for c in range(x.shape[1]) if c not in cols)
        cols.append(best[1])
    return cols


def median_time(fn):
    times = []
    for _ in range(3):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return sorted(times)[1]


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    y, x = data(n, 50)
    t = median_time(lambda: LassoLarsCV(cv=KFold(5), max_iter=500).fit(x, y))
    print(f"LassoLarsCV 5 folds, {n} x 50: {t * 1000:.0f} ms")
    if len(sys.argv) > 2 and sys.argv[2] == "lasso":
        return
    y, x = data(n, 20)
    t = median_time(lambda: forward_by_cv(x, y))
    print(f"forward by 5-fold CV PRESS (numpy), {n} x 20, 5 steps: {t * 1000:.0f} ms")


if __name__ == "__main__":
    main()
