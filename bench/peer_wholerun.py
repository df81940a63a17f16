#!/usr/bin/python3
"""Whole-run peer of bench/wholerun.sh: pandas.read_csv on the generated CSV, then
scikit-learn's LassoLarsIC (LASSO by LARS, the model chosen by BIC). Prints the wall time of
the whole job (reading included) in seconds.
Run: /usr/bin/python3 bench/peer_wholerun.py FILE"""
import sys
import time

import pandas as pd
from sklearn.linear_model import LassoLarsIC


def main():
    start = time.perf_counter()
    d = pd.read_csv(sys.argv[1])
    y = d["y"].to_numpy()
    x = d.drop(columns=["y"]).to_numpy()
    fit = LassoLarsIC(criterion="bic").fit(x, y)
    assert (fit.coef_[:10] != 0).all()
    print("pandas + LassoLarsIC: %.2f s" % (time.perf_counter() - start))


if __name__ == "__main__":
    main()
