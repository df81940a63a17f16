#!/usr/bin/python3
"""Reference CV PRESS of every model a FORWARD, BACKWARD or STEPWISE selection by CV can reach.

Writes into tests/data/cvsteps/:
  cars.csv     93 rows of a car-price shape (Price about 20, Weight about 3,000, Horsepower
               about 150, MPG_city, Length) and an index variable Fold of 5 levels;
  press.csv    for each data set, fold method and set of effects (the intercept always in,
               the effects named in sorted order, separated by spaces), the CV PRESS: the sum
               over the folds of the held-out squared errors of a numpy least-squares refit on
               the rows outside the fold.
The data set "classes" (2,000 rows: x1-x4, a CLASS variable g10 of 10 levels and g120 of 120,
an index variable Fold of 8 levels and y, a linear function of them plus noise) is
scripts/synthdata.py's cv_classes_csv, which the test makes at run time from the same recipe.

The folds: SPLIT(k) puts row i in fold i mod k; BLOCK(k) gives the first n mod k folds
n div k + 1 consecutive rows and the rest n div k; INDEX(Fold) a fold per level of Fold;
RANDOM(k) draws each row's fold as floor(k u), u the next value of the Lehmer stream
(multiplier 397204094 modulo 2^31 - 1) started at the procedure's SEED=.

Run with Debian's python3 (numpy): /usr/bin/python3 scripts/gen_cv_steps_ref.py
"""
import csv
import itertools
import os
import sys

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # small solves: threads only contend

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "cvsteps")
SEED = 5  # the programs' SEED=
FOLD_METHODS = ["split(5)", "block(4)", "random(5)", "index(Fold)"]


def lehmer_folds(n, k, seed):
    out, s = [], seed
    for _ in range(n):
        s = (s * 397204094) % 2147483647
        out.append(int(s / 2147483647.0 * k))
    return np.array(out)


def block_folds(n, k):
    q, r = divmod(n, k)
    return np.repeat(np.arange(k), [q + 1 if j < r else q for j in range(k)])


def folds_of(method, n, index):
    k = int(method[method.index("(") + 1:-1]) if not method.startswith("index") else 0
    if method.startswith("split"):
        return np.arange(n) % k
    if method.startswith("block"):
        return block_folds(n, k)
    if method.startswith("random"):
        return lehmer_folds(n, k, SEED)
    return index


def press(columns, y, folds):
    """The CV PRESS of the least-squares fit on the intercept and the given columns."""
    A = np.column_stack([np.ones(len(y))] + columns)
    total = 0.0
    for f in np.unique(folds):
        out = folds == f
        beta = np.linalg.lstsq(A[~out], y[~out], rcond=None)[0]
        r = y[out] - A[out] @ beta
        total += float(r @ r)
    return total


def dummies(levels):
    """The indicator columns of a CLASS variable less its last level (same column space)."""
    values = sorted(set(levels))
    return [(levels == v).astype(float) for v in values[:-1]]


def cars():
    rng = np.random.default_rng(93)
    n = 93
    hp = np.round(rng.uniform(55, 300, n))
    length = np.round(rng.normal(183, 14, n))
    weight = np.round(1200 + 7 * hp + 5 * length + rng.normal(0, 250, n))
    mpg = np.round(46 - 0.0065 * weight + rng.normal(0, 2, n))
    price = np.round(-6 + 0.14 * hp + 0.0025 * weight + 0.02 * length + rng.normal(0, 6, n), 1)
    fold = rng.integers(1, 6, n)
    cols = {"Price": price, "Horsepower": hp, "Weight": weight, "MPG_city": mpg,
            "Length": length, "Fold": fold}
    effects = {e: [cols[e]] for e in ["Horsepower", "Weight", "MPG_city", "Length"]}
    return cols, effects, price, fold


def classes():
    names, rows = synthdata.columns(synthdata.cv_classes_csv())
    cols = {name: np.array([float(r[j]) for r in rows]) for j, name in enumerate(names)}
    x = [cols[name] for name in ("x1", "x2", "x3", "x4")]
    effects = {"x1": [x[0]], "x2": [x[1]], "x3": [x[2]], "x4": [x[3]],
               "g10": dummies(cols["g10"]), "g120": dummies(cols["g120"])}
    return None, effects, cols["y"], cols["Fold"]


def write_data(name, cols):
    names = list(cols)
    with open(os.path.join(OUT, name + ".csv"), "w", newline="") as out:
        wr = csv.writer(out)
        wr.writerow(names)
        for i in range(len(cols[names[0]])):
            wr.writerow(["%.10g" % cols[c][i] for c in names])


def main():
    os.makedirs(OUT, exist_ok=True)
    rows = [["data", "folds", "effects", "cvpress"]]
    for name, make in [("cars", cars), ("classes", classes)]:
        cols, effects, y, index = make()
        if cols is not None:
            write_data(name, cols)
        names = sorted(effects)
        for method in FOLD_METHODS:
            folds = folds_of(method, len(y), index)
            for size in range(len(names) + 1):
                for subset in itertools.combinations(names, size):
                    # A model holds at most one of the CLASS variables.
                    if "g10" in subset and "g120" in subset:
                        continue
                    columns = [c for e in subset for c in effects[e]]
                    rows.append([name, method, " ".join(subset), repr(press(columns, y, folds))])
    with open(os.path.join(OUT, "press.csv"), "w", newline="") as out:
        csv.writer(out).writerows(rows)


if __name__ == "__main__":
    main()
