#!/usr/bin/python3
"""Least-squares references for fits that are perfect, or whose full model has an error
variance far below 1 in absolute terms. Writes, under tests/data/perfectfit:

sat.csv: a BY group g=1 of five rows of x1-x4 and a response near 3e8 (the intercept and
four columns fit it exactly), and a group g=2 of twenty such rows.
nsat.csv: five rows of x1-x3 (nearly equal to each other), x4, x5 and a response near 0:
the five columns without an intercept fit it exactly.
tiny.csv: thirty rows of x1-x3 and a response of scale 1e-8 (x1 + x2/2 + noise, times 1e-8).

ref.csv: for each data set (sat by group) and every subset of its columns, the error SS of
the response on the subset (with the intercept, and for nsat.csv and tiny.csv also
without), the total it is judged against (corrected with the intercept, uncorrected
without), the number of rows and the PRESS (blank where a row has a leverage of 1), solved
in mpmath at 60 digits from the data as written:
a saturated subset's error SS is then below 1e-40 of its total, a true 0.
Run from the repository root: /usr/bin/python3 scripts/gen_perfect_fit_ref.py"""
import csv
import itertools
import os

import mpmath
import numpy as np

OUT = "tests/data/perfectfit"
mpmath.mp.dps = 60


def write(name, header, rows):
    with open(os.path.join(OUT, name), "w") as f:
        f.write(",".join(header) + "\n")
        for r in rows:
            f.write(",".join(repr(float(v)) if not isinstance(v, int) else str(v) for v in r)
                    + "\n")


def make_data():
    rng = np.random.default_rng(7)
    rows = []
    for g, n in ((1, 5), (2, 20)):
        for _ in range(n):
            x = rng.normal(size=4) * [1, 10, 100, 1000] + [0, 50, -300, 2000]
            rows.append([g] + list(x) + [3e8 + 1e6 * rng.normal()])
    write("sat.csv", ["g", "x1", "x2", "x3", "x4", "y"], rows)
    rng = np.random.default_rng(5)
    base = rng.normal(size=5)
    rows = []
    for i in range(5):
        x = [base[i] + 1e-3 * rng.normal() for _ in range(3)] + list(rng.normal(size=2) *
                                                                     [10, 1000])
        rows.append(x + [rng.normal()])
    write("nsat.csv", ["x1", "x2", "x3", "x4", "x5", "y"], rows)
    rng = np.random.default_rng(3)
    rows = []
    for _ in range(30):
        x = rng.normal(size=3)
        rows.append(list(x) + [1e-8 * (x[0] + 0.5 * x[1] + rng.normal())])
    write("tiny.csv", ["x1", "x2", "x3", "y"], rows)


def read(name):
    with open(os.path.join(OUT, name)) as f:
        rows = list(csv.reader(f))
    return rows[0], [[mpmath.mpf(v) for v in r] for r in rows[1:]]


def sse_press(X, y):
    """The error SS of y on the columns of X by the normal equations in mpmath (the columns
    of X independent), and its PRESS, the sum of the leave-one-out residuals r_i / (1 - h_i)
    squared (None where a row has a leverage of 1)."""
    if not X[0]:
        return sum(v * v for v in y), sum(v * v for v in y)
    A = mpmath.matrix(X)
    r = mpmath.matrix(y) - A * mpmath.lu_solve(A.T * A, A.T * mpmath.matrix(y))
    if A.cols >= A.rows:
        return sum(v * v for v in r), None
    inv = mpmath.inverse(A.T * A)
    press = mpmath.mpf(0)
    for i in range(A.rows):
        h = (A[i, :] * inv * A[i, :].T)[0]
        if 1 - h < mpmath.mpf(10) ** -30:
            press = None
            break
        press += (r[i] / (1 - h)) ** 2
    return sum(v * v for v in r), press


def subsets(data, group, head, rows, intercepts):
    out = []
    names = [h for h in head if h not in ("g", "y")]
    y = [r[head.index("y")] for r in rows]
    n = len(rows)
    for intercept in intercepts:
        mean = sum(y) / n if intercept else 0
        total = sum((v - mean) ** 2 for v in y)
        for k in range(len(names) + 1):
            for cols in itertools.combinations(names, k):
                X = [([1] if intercept else []) + [r[head.index(c)] for c in cols] for r in rows]
                e, press = sse_press(X, y)
                out.append([data, group, int(intercept), " ".join(cols), mpmath.nstr(e, 20),
                            mpmath.nstr(total, 20), n,
                            "" if press is None else mpmath.nstr(press, 20)])
    return out


def main():
    os.makedirs(OUT, exist_ok=True)
    make_data()
    ref = []
    head, rows = read("sat.csv")
    for g in (1, 2):
        ref += subsets("sat", g, head, [r for r in rows if r[0] == g], (True,))
    for data in ("nsat", "tiny"):
        head, rows = read(data + ".csv")
        ref += subsets(data, 0, head, rows, (True, False))
    with open(os.path.join(OUT, "ref.csv"), "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["data", "group", "intercept", "columns", "sse", "total", "n", "press"])
        w.writerows(ref)


if __name__ == "__main__":
    main()
