#!/usr/bin/python3
"""Peer of bench_lasso: scikit-learn's lars_path (method='lasso') on the same kind of data
(fixed seed, response on the first 10 columns), standardized as the procedure does (columns
centred and divided by their n-1 standard deviation, response centred). Times the path with
X alone and with the Gram matrix precomputed (the form closest to the procedure's packed
cross products, whose formation is included in the time). max_iter lets the path run to its
end (its default of 500 stops a path over more columns halfway). Prints the median of three
runs.
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


def run(y, x, gram, method="lasso"):
    """The path of `method` ("lasso" or "lar") on the standardized data, from X or from the
    Gram matrix formed here."""
    xs = (x - x.mean(axis=0)) / x.std(axis=0, ddof=1)
    yc = y - y.mean()
    # A LAR path takes one step per column; a LASSO path also drops and takes columns again.
    steps = 10 * x.shape[1] + 100
    if gram:
        g = xs.T @ xs
        return lars_path(xs, yc, Gram=g, Xy=xs.T @ yc, method=method, max_iter=steps)
    return lars_path(xs, yc, method=method, max_iter=steps)


def main():
    sizes = [(100_000, 100), (1_000_000, 50)]
    if len(sys.argv) > 2:
        a = [int(v) for v in sys.argv[1:]]
        sizes = list(zip(a[0::2], a[1::2]))
    for n, p in sizes:
        y, x = data(n, p)
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
