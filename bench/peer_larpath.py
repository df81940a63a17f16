#!/usr/bin/python3
"""Peer of bench/larpath.sh: scikit-learn's lars_path with its Gram matrix on a CSV of
bench/gen/bigcsv.cpp (y then x1..), read with pandas outside the timing. The timed part is
the procedure's selection phase: standardizing (columns centred and divided by their n-1
standard deviation, response centred), forming X'X and X'y, and the whole path. Prints the
median of REPS runs in seconds. BLAS runs on THREADS threads (default 1).
Run: /usr/bin/python3 bench/peer_larpath.py FILE lar|lasso [REPS] [THREADS] [MAXSTEPS]"""
import os
import sys

threads = sys.argv[4] if len(sys.argv) > 4 else "1"
for var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[var] = threads

import time  # noqa: E402

import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
from sklearn.linear_model import lars_path  # noqa: E402


def main():
    path, method = sys.argv[1], sys.argv[2]
    reps = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    max_iter = int(sys.argv[5]) if len(sys.argv) > 5 else 500000
    d = pd.read_csv(path, engine="c", dtype=np.float64)
    y = d["y"].to_numpy()
    x = d.drop(columns="y").to_numpy()
    del d
    times = []
    for _ in range(reps):
        t = time.perf_counter()
        xs = (x - x.mean(axis=0)) / x.std(axis=0, ddof=1)
        yc = y - y.mean()
        g = xs.T @ xs
        _, _, coefs = lars_path(xs, yc, Gram=g, Xy=xs.T @ yc, method=method, max_iter=max_iter)
        times.append(time.perf_counter() - t)
        del xs
    print("lars_path %s %d x %d Gram: %.2f s (%d knots)" %
          (method, x.shape[0], x.shape[1], sorted(times)[len(times) // 2], coefs.shape[1]))


if __name__ == "__main__":
    main()
