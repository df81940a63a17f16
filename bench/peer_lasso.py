#!/usr/bin/python3
"""Peer of bench_lasso: scikit-learn's lars_path (method='lasso') on the same kind of data
(fixed seed, response on the first 10 columns), standardized as the procedure does (columns
centred and divided by their n-1 standard deviation, response centred). The standardization
is done in place once, before the timing, as a user would precompute it; the timed region is
the path alone from X, and the Gram matrix X'X with X'y formed and passed to the path (the
form closest to the procedure's packed cross products, whose formation its time includes).
max_iter lets the path run to its end (its default of 500 stops a path over more columns
halfway). Prints the median of three runs.
Run: /usr/bin/python3 bench/peer_lasso.py [rows cols] ..."""
import sys
import time

import numpy as np
from sklearn.linear_model import lars_path


def data(n, p):
    rng = np.random.default_rng(20261207)
    x = rng.standard_normal((n, p))
    y = x[:, :10] @ (1.0 + 0.1 * np.arange(10)) + rng.standard_normal(n)
    return y, x


def standardize(y, x):
    """Centres y and the columns of x and scales the columns to unit n-1 standard deviation,
    in place (no temporaries of x's size)."""
    x -= x.mean(axis=0)
    x /= x.std(axis=0, ddof=1)
    y -= y.mean()


def run(y, x, gram, method="lasso"):
    """The path of `method` ("lasso" or "lar") on standardized data, from X or from the Gram
    matrix formed here."""
    # A LAR path takes one step per column; a LASSO path also drops and takes columns again.
    steps = 10 * x.shape[1] + 100
    if gram:
        # The Gram matrix is new each run, so the path may work in it in place.
        return lars_path(x, y, Gram=x.T @ x, Xy=x.T @ y, method=method, max_iter=steps,
                         copy_Gram=False)
    return lars_path(x, y, method=method, max_iter=steps)


def main():
    sizes = [(100_000, 100), (1_000_000, 50)]
    if len(sys.argv) > 2:
        a = [int(v) for v in sys.argv[1:]]
        sizes = list(zip(a[0::2], a[1::2]))
    for n, p in sizes:
        y, x = data(n, p)
        standardize(y, x)
        for gram in (False, True):
            times = []
            for _ in range(3):
                t = time.perf_counter()
                alphas, active, coefs = run(y, x, gram)
                times.append(time.perf_counter() - t)
            assert sorted(active[:10]) == list(range(10)), active[:10]
            print("lars_path %d x %d %s: %.1f ms (%d knots)" %
                  (n, p, "Gram" if gram else "X", 1000 * sorted(times)[1], coefs.shape[1]))


if __name__ == "__main__":
    main()
