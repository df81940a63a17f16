#!/usr/bin/python3
"""Reference values for k-fold cross validation.

Writes tests/data/cv/cvdata.csv (the diabetes data with a weight W, a frequency F and an
index variable G) and tests/data/cv/cv_steps.csv: for each case, the forward or backward
selection by CV PRESS, run here with numpy least-squares refits on the rows outside each
fold, and the CV PRESS of every step (the sum over the folds of the held-out weighted
squared errors). The case forward_exact_split5 selects on tests/data/cv/cvexact.csv, whose
response is nearly an exact linear function of four columns (noise of standard deviation
0.001), so that its last steps' errors are tiny against the sums of squares they come from.
"""
import csv
import os

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "cv")
NAMES = ["AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]


def load():
    with open(os.path.join(ROOT, "examples", "diabetes.csv")) as f:
        rows = list(csv.DictReader(f))
    X = np.array([[float(r[n]) for n in NAMES] for r in rows])
    y = np.array([float(r["Y"]) for r in rows])
    n = len(rows)
    w = np.array([0.5 + ((i * 7) % 11) / 10.0 for i in range(n)])
    f = np.array([1.0 + (i % 3) for i in range(n)])
    g = np.array(["dacb"[(i * 5) % 4] for i in range(n)])
    return X, y, w, f, g


def write_data(X, y, w, f, g):
    with open(os.path.join(OUT, "cvdata.csv"), "w", newline="") as out:
        wr = csv.writer(out)
        wr.writerow(NAMES + ["Y", "W", "F", "G"])
        for i in range(len(y)):
            wr.writerow([repr(v) for v in X[i]] + [repr(y[i]), repr(w[i]), repr(f[i]), g[i]])


def write_exact(X):
    """The near-exact response on BMI, BP, S5 and AGE; returns it."""
    rng = np.random.default_rng(20261208)
    y = 10.0 + 2.0 * X[:, 2] + 0.5 * X[:, 3] + 30.0 * X[:, 8] - 0.2 * X[:, 0]
    y = np.round(y + 0.001 * rng.standard_normal(len(y)), 6)
    with open(os.path.join(OUT, "cvexact.csv"), "w", newline="") as out:
        wr = csv.writer(out)
        wr.writerow(NAMES + ["Y"])
        for i in range(len(y)):
            wr.writerow([repr(v) for v in X[i]] + [repr(y[i])])
    return y


def folds_split(n, k):
    return np.arange(n) % k


def folds_block(n, k):
    block, r = divmod(n, k)
    out, fold = [], 0
    sizes = [block + (1 if j < r else 0) for j in range(k)]
    for j, s in enumerate(sizes):
        out += [j] * s
    return np.array(out)


def folds_index(g):
    levels = sorted(set(g))
    return np.array([levels.index(v) for v in g])


def cv_press(X, y, wf, folds, cols):
    """Sum over folds of the held-out weighted squared errors of a least-squares refit
    (intercept plus the given columns) on the rows outside the fold."""
    A = np.column_stack([np.ones(len(y))] + [X[:, c] for c in cols])
    total = 0.0
    for k in np.unique(folds):
        tr, te = folds != k, folds == k
        sw = np.sqrt(wf[tr])
        beta, *_ = np.linalg.lstsq(A[tr] * sw[:, None], y[tr] * sw, rcond=None)
        r = y[te] - A[te] @ beta
        total += float(np.sum(wf[te] * r * r))
    return total


def forward(X, y, wf, folds, names=NAMES):
    cols, steps = [], [("Intercept", cv_press(X, y, wf, folds, []))]
    while len(cols) < X.shape[1]:
        best = min((cv_press(X, y, wf, folds, cols + [c]), c)
                   for c in range(X.shape[1]) if c not in cols)
        if best[0] >= steps[-1][1]:
            break
        cols.append(best[1])
        steps.append((names[best[1]], best[0]))
    return steps


def backward(X, y, wf, folds):
    cols = list(range(X.shape[1]))
    steps = [("", cv_press(X, y, wf, folds, cols))]
    while cols:
        best = min((cv_press(X, y, wf, folds, [c for c in cols if c != d]), d) for d in cols)
        if best[0] > steps[-1][1]:
            break
        cols.remove(best[1])
        steps.append((NAMES[best[1]], best[0]))
    return steps


def main():
    os.makedirs(OUT, exist_ok=True)
    X, y, w, f, g = load()
    write_data(X, y, w, f, g)
    n = len(y)
    ones = np.ones(n)
    cases = [
        ("forward_split5_wf", forward, w * f, folds_split(n, 5)),
        ("forward_block4", forward, ones, folds_block(n, 4)),
        ("forward_index_w", forward, w, folds_index(g)),
        ("backward_split3_f", backward, f, folds_split(n, 3)),
        ("forward_split12_w", forward, w, folds_split(n, 12)),
    ]
    exact = write_exact(X)
    with open(os.path.join(OUT, "cv_steps.csv"), "w", newline="") as out:
        wr = csv.writer(out)
        wr.writerow(["case", "step", "effect", "cvpress"])
        for name, method, wf, folds in cases:
            for s, (effect, press) in enumerate(method(X, y, wf, folds)):
                wr.writerow([name, s, effect, repr(press)])
        for s, (effect, press) in enumerate(forward(X, exact, ones, folds_split(n, 5))):
            wr.writerow(["forward_exact_split5", s, effect, repr(press)])


if __name__ == "__main__":
    main()
