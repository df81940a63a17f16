#!/usr/bin/python3
"""Reference paths of LAR and LASSO on Longley's data with a near copy of one column.

The data: the 16 rows of Longley's macroeconomic data (public), and near copies
c = x + eps * sd(x) * z of GNP (g6, g7, g8, g9: eps 1e-6 .. 1e-9) and of Unemployed (u6, u9:
eps 1e-6, 1e-9), z a fixed vector of 16 values. Each copy's correlation with the response is a
little larger than its original's, so the copy enters the path first (lars_path on the design
with both columns enters the copy); the original is then nearly a combination of the active
columns, which the rank rule refuses. The sound path is the one without the original column:
lars_path (method 'lar' and 'lasso') on the other six columns.

The design is standardized the way the procedure does it: every column centred and divided by
its standard deviation with divisor n-1, the response centred.

Writes under tests/data/larrefusal:
  longley.csv: Employed, the six columns and the copies.
  paths.csv: case (copy column), method, knot, active (the columns with a nonzero
    coefficient, in model order), error SS, then the estimates on the data scale of the
    intercept and of every column of the case's model (0 for a column outside the active set).
    LAR's knots stop where lars_path's alphas stop falling: on this design lars_path's LAR
    loses its way after five knots (its last knot is then not the least-squares fit), so the
    later steps are checked against lstsq.csv instead.
  lstsq.csv: case, the least-squares error SS on the intercept and the case's six columns
    (numpy's lstsq), where every path ends.
  A standardized coefficient within 1e-12 of the largest is rounding, written as 0.
  copies.csv: a random design of 12 rows (numpy's default_rng(123)): x0-x4 on mixed scales
    and offsets, near copies c0 of x4 (1e-8) and c1, c2 of x2 (1e-6, 1e-7), and a response
    Employed. Its paths refuse copies near their end; the test checks there that the
    selected model's error SS is that of its estimates and predictions, computed from the data.
Needs Debian's python3-sklearn. Run from the repository root:
  /usr/bin/python3 scripts/gen_lar_refusal_ref.py
"""
import os

import numpy as np
from sklearn.linear_model import lars_path

OUT = os.path.join("tests", "data", "larrefusal")

NAMES = ["Deflator", "GNP", "Unemployed", "Armed", "Population", "Year"]
# GNP deflator, GNP, unemployed, armed forces, population, year, employed.
LONGLEY = [
    [83.0, 234.289, 235.6, 159.0, 107.608, 1947, 60.323],
    [88.5, 259.426, 232.5, 145.6, 108.632, 1948, 61.122],
    [88.2, 258.054, 368.2, 161.6, 109.773, 1949, 60.171],
    [89.5, 284.599, 335.1, 165.0, 110.929, 1950, 61.187],
    [96.2, 328.975, 209.9, 309.9, 112.075, 1951, 63.221],
    [98.1, 346.999, 193.2, 359.4, 113.270, 1952, 63.639],
    [99.0, 365.385, 187.0, 354.7, 115.094, 1953, 64.989],
    [100.0, 363.112, 357.8, 335.0, 116.219, 1954, 63.761],
    [101.2, 397.469, 290.4, 304.8, 117.388, 1955, 66.019],
    [104.6, 419.180, 282.2, 285.7, 118.734, 1956, 67.857],
    [108.4, 442.769, 293.6, 279.8, 120.445, 1957, 68.169],
    [110.8, 444.546, 468.1, 263.7, 121.950, 1958, 66.513],
    [112.6, 482.704, 381.3, 255.2, 123.366, 1959, 68.655],
    [114.2, 502.601, 393.1, 251.4, 125.368, 1960, 69.564],
    [115.7, 518.173, 480.6, 257.2, 127.852, 1961, 69.331],
    [116.9, 554.894, 400.7, 282.7, 130.081, 1962, 70.551],
]
Z_GNP = [0.189053, -0.522748, -0.413064, -2.441467, 1.799707, 1.144166, -0.325423, 0.773807,
         0.281211, -0.553823, 0.977567, -0.310557, -0.328824, -0.792147, 0.454958, -0.099198]
Z_UNEMPLOYED = [0.345584, 0.821618, 0.330437, -1.303157, 0.905356, 0.446375, -0.536953,
                0.581118, 0.364572, 0.294132, 0.028422, 0.546713, -0.736454, -0.16291,
                -0.482119, 0.598846]
# Copy column: (original, eps, z).
COPIES = {"g6": ("GNP", 1e-6, Z_GNP), "g7": ("GNP", 1e-7, Z_GNP), "g8": ("GNP", 1e-8, Z_GNP),
          "g9": ("GNP", 1e-9, Z_GNP), "u6": ("Unemployed", 1e-6, Z_UNEMPLOYED),
          "u9": ("Unemployed", 1e-9, Z_UNEMPLOYED)}


def data():
    d = np.array(LONGLEY, dtype=float)
    cols = {n: d[:, i] for i, n in enumerate(NAMES)}
    y = d[:, 6]
    for name, (orig, eps, z) in COPIES.items():
        x = cols[orig]
        cols[name] = x + eps * x.std(ddof=1) * np.array(z)
    return cols, y


def standardize(X, y):
    mean, sd = X.mean(axis=0), X.std(axis=0, ddof=1)
    return (X - mean) / sd, y - y.mean(), mean, sd


def copy_enters_first(cols, y, copy):
    """lars_path on the design with both the copy and its original enters the copy first."""
    orig = COPIES[copy][0]
    Xs, yc, _, _ = standardize(np.column_stack([cols[n] for n in NAMES + [copy]]), y)
    _, active, _ = lars_path(Xs, yc, method="lar", max_iter=NAMES.index(orig) + 3)
    pair = [j for j in active if j in (NAMES.index(orig), len(NAMES))]
    return pair[0] == len(NAMES)


def random_copies():
    """The columns of copies.csv, by name."""
    rng = np.random.default_rng(123)
    n, p = int(rng.integers(12, 40)), int(rng.integers(3, 7))
    X = rng.standard_normal((n, p)) * rng.choice([1, 100, 1e4], p) + rng.choice([0, 1e3], p)
    cols = {"x%d" % i: X[:, i] for i in range(p)}
    for c in range(int(rng.integers(1, 5))):
        j, eps = int(rng.integers(0, p)), 10.0 ** -rng.integers(5, 14)
        cols["c%d" % c] = X[:, j] + eps * X[:, j].std() * rng.standard_normal(n)
    cols["Employed"] = X @ rng.standard_normal(p) * 0.3 + rng.standard_normal(n)
    return cols


def main():
    os.makedirs(OUT, exist_ok=True)
    cols, y = data()
    with open(os.path.join(OUT, "longley.csv"), "w") as f:
        header = ["Employed"] + NAMES + list(COPIES)
        f.write(",".join(header) + "\n")
        for i in range(len(y)):
            f.write(",".join(repr(float(cols[n][i])) if n != "Employed" else repr(float(y[i]))
                             for n in header) + "\n")

    copies = random_copies()
    with open(os.path.join(OUT, "copies.csv"), "w") as f:
        f.write(",".join(copies) + "\n")
        for i in range(len(copies["Employed"])):
            f.write(",".join(repr(float(v[i])) for v in copies.values()) + "\n")

    paths = open(os.path.join(OUT, "paths.csv"), "w")
    paths.write("case,method,knot,active,sse,intercept,b1,b2,b3,b4,b5,b6\n")
    lstsq = open(os.path.join(OUT, "lstsq.csv"), "w")
    lstsq.write("case,sse\n")
    for copy, (orig, _, _) in COPIES.items():
        assert copy_enters_first(cols, y, copy), copy
        # The case's model columns in model order: the copy in the original's place.
        names = [copy if n == orig else n for n in NAMES]
        X = np.column_stack([cols[n] for n in names])
        Xs, yc, mean, sd = standardize(X, y)
        for method in ("lar", "lasso"):
            alphas, _, coefs = lars_path(Xs, yc, method=method)
            for t in range(coefs.shape[1]):
                if t > 0 and not alphas[t] < alphas[t - 1]:
                    break
                b = coefs[:, t].copy()
                r = yc - Xs @ b
                # A coefficient that lars_path leaves at rounding size is zero.
                b[np.abs(b) <= 1e-12 * np.abs(b).max()] = 0.0
                beta = b / sd
                intercept = y.mean() - mean @ beta
                active = " ".join(names[j] for j in range(len(names)) if b[j] != 0)
                paths.write(",".join([copy, method, str(t), active, repr(float(r @ r)),
                                      repr(float(intercept))] +
                                     [repr(float(v)) for v in beta]) + "\n")
        A = np.column_stack([np.ones(len(y)), X])
        sol = np.linalg.lstsq(A, y, rcond=None)[0]
        e = y - A @ sol
        lstsq.write("%s,%r\n" % (copy, float(e @ e)))
    paths.close()
    lstsq.close()


if __name__ == "__main__":
    main()
