#!/usr/bin/python3
"""Python peers of bench/cvchoose.sh on a CSV written by bench/gen_csvread_data.py (y on x1..x10).
  cv FILE FOLDS THREADS: pandas.read_csv, then scikit-learn's LassoLarsCV with FOLDS shuffled
    folds (n_jobs=THREADS); prints the wall time of the whole job, reading included.
  lars FILE METHOD: the file read and standardized in place untimed, then lars_path (METHOD
    lar or lasso) from its Gram matrix, X'X formed inside the timed part (bench/peer_lasso.py);
    prints the time of the path alone.
BLAS threads follow OPENBLAS_NUM_THREADS / OMP_NUM_THREADS, which the caller sets.
Run: /usr/bin/python3 bench/peer_cvchoose.py cv FILE FOLDS THREADS | lars FILE METHOD"""
import sys
import time

import pandas as pd
from sklearn.linear_model import LassoLarsCV
from sklearn.model_selection import KFold

from peer_lasso import run as lars_run
from peer_lasso import standardize


def read(path):
    d = pd.read_csv(path)
    return (d["y"].to_numpy(dtype=float, copy=True),
            d.drop(columns=["y"]).to_numpy(dtype=float, copy=True))


def cv(path, folds, threads):
    start = time.perf_counter()
    y, x = read(path)
    fit = LassoLarsCV(cv=KFold(folds, shuffle=True, random_state=7), n_jobs=threads,
                      max_iter=max(500, x.shape[1] + 10)).fit(x, y)
    assert (fit.coef_[:10] != 0).all(), fit.coef_[:10]
    print("pandas + LassoLarsCV %d folds: %.2f s" % (folds, time.perf_counter() - start))


def lars(path, method):
    y, x = read(path)
    standardize(y, x)
    start = time.perf_counter()
    _, active, coefs = lars_run(y, x, True, method)
    seconds = time.perf_counter() - start
    assert sorted(active[:10]) == list(range(10)), active[:10]
    print("lars_path %s Gram %d x %d: %.3f s (%d knots)" %
          (method, x.shape[0], x.shape[1], seconds, coefs.shape[1]))


def main():
    if sys.argv[1] == "cv":
        cv(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    else:
        lars(sys.argv[2], sys.argv[3])


if __name__ == "__main__":
    main()
