#!/usr/bin/python3
"""Small designs for the unit tests of the one evaluation's rules (tests/model/
oneevaluation_test.cpp) and their exact least-squares numbers.

Each design is written as tests/data/selection/onerule_<name>_design.csv (a widths line, the
intercept first and one column per effect, then y and every design column of each row); the
numbers go to tests/data/selection/onerule_ref.csv as (case, quantity, value). Every number is
computed by mpmath at 60 digits from the doubles the files hold (normal equations solved by
LU), with no part of the code under test:

- zero: y an exact linear function of x1 and x2 up to the rounding of its values, so that its
  error SS is rounding noise (sse, total);
- tiny: the same with noise of 5e-6 added: an error SS of 6e-12 of the total, which is no
  rounding noise (sse);
- tinypivot: x2 of size 2^-270 (its sum of squares below the tiny pivot 1.49e-154 that every
  sweep refuses) beside x1, y depending on both: the fit without x2 (rank, sse);
- rowpivot: without an intercept, c1 = 2^30 h1, c2 = c1 + 2^20 h2, c3 = 2^20 h2 + 2^15 h3
  and w = c3 - c2 + c1 + 2^6 h4 over 64 rows (h the columns of a Hadamard matrix): w's pivot
  after them is 3.8e-6 of its sum of squares, within the rounding bound of its elimination
  (coefficients of 1 on columns 2^15 times its size), though every sum and every step of
  that elimination is exact (rank, sse, and the error SS without w);
- trialshare: x2 = x1 + 3e-4 z beside x1 (a variance inflation of 1.1e7) and y = 10 x1 + 0.5 z
  with noise of 1e-3, an error SS of 1e-8 of the total: the error SS of both (sse3);
- foldmove: 40 rows in 4 blocks of 10 (CVMETHOD=BLOCK), x1 near 1e6 with a spread of 1 and
  each fold about its own centre: the CV PRESS of the exact refits (cvpress);
- foldbound: x2 = x1 + 1e-5 e on the rows of folds 2 to 4 and x1 + N(0, 1) on fold 1's, so
  that fold 1's refit sees x2 at some 1e-10 of its diagonal: the CV PRESS of the exact refits
  with x2 in every fold (cvpress) and with x2 left out of fold 1's (dropped);
- foldform: y = 1 + x1 + x2 + 2e-6 e, a CV PRESS of 1.9e-10 beside a total of 67, which the
  folds' sums cannot give to its digits: the CV PRESS of the exact refits (cvpress);
- stepmemory: x2 = x1 + 1.18e-3 z, x3 = z + w and x4 apart, y = 1 + x1 + z + x4 + 1e-5 e:
  x2's variance inflation is 1.3e6 beside x3 and 5.5e5 without it, x3's 2.4 (the inflations
  are asserted); the error SS of x1, x2 and x4 (sse124).
- bicorder: nine covariates on 16 rows, where BIC at one rank does not fall with the error SS
  (its penalty 2q(p + 2 - q), q = n sigma^2 / SSE, once p + 2 passes 2 sqrt(n)): FORWARD and
  BACKWARD by BIC with no stop, each step the move of the best exact BIC, which at some steps
  is not the move of the smallest error SS (asserted): the effect moved at each step (forward
  k, backward k, as the column's number, 1 for x1) and the step's BIC (forward_bic k,
  backward_bic k; backward step 0 is the full model).
- dropretake: x4 and x3, then an effect of two columns (a1, a2), a2 = x4 + 5e-4 x3 + 5e-5 z:
  in the full model a2's pivot is 1e-9 of its diagonal (refused), and x3's removal takes it
  again at an inflation between 1e6 and 1e7 (asserted), y = 1 + a1 + a2 + 5 x4 + 1e-4 e: the
  error SS of the intercept, x4, a1 and a2 (sse).

Run from the repository root: /usr/bin/python3 scripts/gen_one_evaluation_ref.py
"""
import os

import mpmath
import numpy as np

mpmath.mp.dps = 60
OUT = "tests/data/selection"


def fraction(v, bits):
    return round(v * 2**bits) / 2**bits


def write_design(name, y, columns, widths=None):
    n = len(y)
    X = [np.ones(n)] + list(columns)
    with open(os.path.join(OUT, "onerule_%s_design.csv" % name), "w") as f:
        f.write("widths," + ",".join(str(w) for w in [1] + (widths or [1] * len(columns)))
                + "\n")
        for i in range(n):
            f.write(",".join(repr(float(c[i])) for c in [y] + X) + "\n")


def exact_fit(y, columns, intercept=True):
    """The coefficients and the error SS of y on the columns (and the intercept)."""
    n = len(y)
    cols = ([np.ones(n)] if intercept else []) + list(columns)
    A = mpmath.matrix([[mpmath.mpf(float(c[i])) for c in cols] for i in range(n)])
    v = mpmath.matrix([mpmath.mpf(float(e)) for e in y])
    b = mpmath.lu_solve(A.T * A, A.T * v)
    r = v - A * b
    return b, sum(e * e for e in r)


def exact_total(y):
    v = [mpmath.mpf(float(e)) for e in y]
    mean = sum(v) / len(v)
    return sum((e - mean) ** 2 for e in v)


def cv_press(y, columns, folds, drop=None):
    """The sum over folds of the held-out squared residuals of the exact refit on the other
    folds' rows; `drop` maps a fold to the columns its refit leaves out."""
    total = mpmath.mpf(0)
    for k in sorted(set(folds)):
        train = [i for i in range(len(y)) if folds[i] != k]
        out = [i for i in range(len(y)) if folds[i] == k]
        keep = [j for j in range(len(columns)) if j not in (drop or {}).get(k, ())]
        b, _ = exact_fit(y[train], [columns[j][train] for j in keep])
        for i in out:
            fitted = b[0] + sum(b[1 + t] * mpmath.mpf(float(columns[j][i]))
                                for t, j in enumerate(keep))
            total += (mpmath.mpf(float(y[i])) - fitted) ** 2
    return total


def rounding_cases(out):
    n = 24
    i = np.arange(n)
    x1 = i * 0.1 + 0.37
    x2 = ((5 * i) % 11) * 0.3 + 0.11
    y = 0.3 + 1.7 * x1 - 0.9 * x2
    write_design("zero", y, [x1, x2])
    _, sse = exact_fit(y, [x1, x2])
    out += [["zero", "sse", float(sse)], ["zero", "total", float(exact_total(y))]]
    rng = np.random.default_rng(11)
    tiny = y + 5e-6 * rng.normal(size=n)
    write_design("tiny", tiny, [x1, x2])
    _, sse = exact_fit(tiny, [x1, x2])
    out.append(["tiny", "sse", float(sse)])


def tiny_pivot_case(out):
    rng = np.random.default_rng(12)
    n = 30
    x1 = np.array([fraction(v, 20) for v in rng.normal(size=n)])
    z = np.array([fraction(v, 20) for v in rng.normal(size=n)])
    x2 = z * 2.0**-270
    y = np.array([fraction(v, 20) for v in 1 + x1 + z + 0.1 * rng.normal(size=n)])
    assert float((x2 * x2).sum()) < 1.491668147e-154
    write_design("tinypivot", y, [x1, x2])
    _, sse = exact_fit(y, [x1])
    out += [["tinypivot", "rank", 2], ["tinypivot", "sse", float(sse)]]


def hadamard(n):
    h = np.ones((1, 1))
    while h.shape[0] < n:
        h = np.block([[h, h], [h, -h]])
    return h


def row_pivot_case(out):
    n = 64
    h = hadamard(n)
    c1 = 2.0**30 * h[:, 1]
    c2 = c1 + 2.0**20 * h[:, 2]
    c3 = 2.0**20 * h[:, 2] + 2.0**15 * h[:, 3]
    w = 2.0**15 * h[:, 3] + 2.0**6 * h[:, 4]
    rng = np.random.default_rng(14)
    y = np.array([fraction(a, 20) for a in c1 + c2 + c3 + 3 * w + rng.normal(size=n)])
    write_design("rowpivot", y, [c1, c2, c3, w])
    _, pivot = exact_fit(w, [c1, c2, c3], intercept=False)
    ratio = pivot / sum(mpmath.mpf(float(a)) ** 2 for a in w)
    assert 1e-6 < ratio < 1e-5, ratio
    _, sse = exact_fit(y, [c1, c2, c3, w], intercept=False)
    _, without = exact_fit(y, [c1, c2, c3], intercept=False)
    out += [["rowpivot", "rank", 4], ["rowpivot", "sse", float(sse)],
            ["rowpivot", "without", float(without)]]


def trial_share_case(out):
    rng = np.random.default_rng(16)
    n = 200
    x1 = np.array([fraction(v, 30) for v in rng.normal(size=n)])
    z = np.array([fraction(v, 30) for v in rng.normal(size=n)])
    x2 = np.array([fraction(v, 40) for v in x1 + 3e-4 * z])
    y = np.array([fraction(v, 40) for v in 10 * x1 + 0.5 * z + 1e-3 * rng.normal(size=n)])
    write_design("trialshare", y, [x1, x2])
    _, sse = exact_fit(y, [x1, x2])
    out.append(["trialshare", "sse3", float(sse)])


def blocks(n, k):
    return [i * k // n + 1 for i in range(n)]


def fold_cases(out):
    n, K = 40, 4
    folds = blocks(n, K)
    rng = np.random.default_rng(13)
    centre = np.array([fraction(v, 10) for v in rng.normal(scale=3.0, size=K)])
    x1 = np.array([fraction(1e6 + centre[folds[i] - 1] + rng.normal(), 30) for i in range(n)])
    x2 = np.array([fraction(v, 30) for v in rng.normal(size=n)])
    y = np.array([fraction(v, 30) for v in
                  2 + 0.5 * (x1 - 1e6) + x2 + 0.1 * rng.normal(size=n)])
    write_design("foldmove", y, [x1, x2])
    out.append(["foldmove", "cvpress", float(cv_press(y, [x1, x2], folds))])

    x1 = np.array([fraction(v, 30) for v in rng.normal(size=n)])
    e = rng.normal(size=n)
    x2 = np.array([fraction(x1[i] + (e[i] if folds[i] == 1 else 1e-5 * e[i]), 40)
                   for i in range(n)])
    y = np.array([fraction(v, 30) for v in 1 + x1 + 2 * (x2 - x1) + 0.1 * rng.normal(size=n)])
    write_design("foldbound", y, [x1, x2])
    out.append(["foldbound", "cvpress", float(cv_press(y, [x1, x2], folds))])
    out.append(["foldbound", "dropped", float(cv_press(y, [x1, x2], folds, {1: (1,)}))])

    x1 = np.array([fraction(v, 30) for v in rng.normal(size=n)])
    x2 = np.array([fraction(v, 30) for v in rng.normal(size=n)])
    y = np.array([fraction(v, 50) for v in 1 + x1 + x2 + 2e-6 * rng.normal(size=n)])
    write_design("foldform", y, [x1, x2])
    out.append(["foldform", "cvpress", float(cv_press(y, [x1, x2], folds))])


def inflation(columns, j):
    """Column j's variance inflation among the columns and the intercept."""
    n = len(columns[0])
    X = np.column_stack([np.ones(n)] + list(columns))
    centred = columns[j] - columns[j].mean()
    return float(centred @ centred * np.linalg.inv(X.T @ X)[j + 1, j + 1])


def step_memory_case(out):
    rng = np.random.default_rng(33)
    n = 100
    x1, z, w, x4 = ([fraction(v, 30) for v in rng.normal(size=n)] for _ in range(4))
    x1, z, w, x4 = np.array(x1), np.array(z), np.array(w), np.array(x4)
    x2 = np.array([fraction(v, 40) for v in x1 + 1.18e-3 * z])
    x3 = np.array([fraction(v, 30) for v in z + w])
    y = np.array([fraction(v, 50) for v in 1 + x1 + z + x4 + 1e-5 * rng.normal(size=n)])
    assert 1.2e6 < inflation([x1, x2, x3, x4], 1) and inflation([x1, x2, x4], 1) < 6e5
    assert inflation([x1, x2, x3, x4], 2) < 3
    write_design("stepmemory", y, [x1, x2, x3, x4])
    _, sse = exact_fit(y, [x1, x2, x4])
    out.append(["stepmemory", "sse124", float(sse)])
def drop_retake_case(out):
    rng = np.random.default_rng(74)
    n = 40
    a1, x3, x4, z = (np.array([fraction(v, 30) for v in rng.normal(size=n)]) for _ in range(4))
    a2 = np.array([fraction(v, 50) for v in x4 + 5e-4 * x3 + 5e-5 * z])
    y = np.array([fraction(v, 50) for v in 1 + a1 + a2 + 5 * x4 + 1e-4 * rng.normal(size=n)])
    assert inflation([x4, x3, a1, a2], 3) > 1e8 and 1e6 < inflation([x4, a1, a2], 2) < 1e7
    write_design("dropretake", y, [x4, x3, a1, a2], widths=[1, 1, 2])
    _, sse = exact_fit(y, [x4, a1, a2])
    out.append(["dropretake", "sse", float(sse)])


def bic(sse, p, n, sigma2):
    q = n * sigma2 / sse
    return n * mpmath.log(sse / n) + 2 * q * (p + 2 - q)


def bic_path(y, columns, forward, sigma2):
    """The greedy path by exact BIC (forward: entries from the intercept; else removals from
    the full model), and whether some step's move is not the one of the smallest error SS:
    per step the column moved and the step's BIC."""
    n, k = len(y), len(columns)
    inn = [] if forward else list(range(k))
    steps, parts = [], False
    while len(inn) < k if forward else inn:
        moves = [j for j in range(k) if j not in inn] if forward else list(inn)
        sse = {}
        for j in moves:
            cols = inn + [j] if forward else [i for i in inn if i != j]
            sse[j] = exact_fit(y, [columns[i] for i in cols])[1]
        p = len(inn) + (2 if forward else 0)
        best = min(moves, key=lambda j: bic(sse[j], p, n, sigma2))
        parts = parts or best != min(moves, key=lambda j: sse[j])
        steps.append((best, bic(sse[best], p, n, sigma2)))
        if forward:
            inn.append(best)
        else:
            inn.remove(best)
    return steps, parts


def bic_order_case(out):
    rng = np.random.default_rng(0)
    n, k = 16, 9
    columns = [np.array([fraction(v, 20) for v in rng.normal(size=n)]) for _ in range(k)]
    y = np.array([fraction(v, 20) for v in
                  sum(rng.normal() * c for c in columns) + 0.5 * rng.normal(size=n)])
    write_design("bicorder", y, columns)
    full = exact_fit(y, columns)[1]
    sigma2 = full / (n - k - 1)
    out.append(["bicorder", "backward_bic 0", float(bic(full, k + 1, n, sigma2))])
    for forward, name in ((True, "forward"), (False, "backward")):
        steps, parts = bic_path(y, columns, forward, sigma2)
        assert parts, name
        for s, (j, value) in enumerate(steps, start=1):
            out += [["bicorder", "%s %d" % (name, s), j + 1],
                    ["bicorder", "%s_bic %d" % (name, s), float(value)]]


def main():
    out = []
    rounding_cases(out)
    tiny_pivot_case(out)
    row_pivot_case(out)
    trial_share_case(out)
    fold_cases(out)
    step_memory_case(out)
    bic_order_case(out)
    drop_retake_case(out)
    with open(os.path.join(OUT, "onerule_ref.csv"), "w") as f:
        f.write("case,quantity,value\n")
        for case, quantity, value in out:
            f.write("%s,%s,%s\n" % (case, quantity, repr(value)))


if __name__ == "__main__":
    main()
