#!/usr/bin/python3
"""Reference CV PRESS of forward selection by CV where a fold's training rows are fewer than
the model's parameters (tests/programs/cv_folds_held_test.cpp).

Four rows, RANDOM(2) folds drawn as floor(2 u), u the next value of the Lehmer stream
(multiplier 397204094 modulo 2^31 - 1) started at SEED=3: folds 2 2 1 2. Leaving fold 1 out
trains on three rows, fewer than the four parameters of the full model; leaving fold 2 out
trains on one. A refit keeps a column (the Intercept first, then the effects in the order
they entered) only when it raises the exact rank of the training rows' columns kept before
it, and fits those by least squares; a column its rows cannot determine gets 0. Each step
enters the candidate of least CV PRESS.

Run with Debian's python3 (numpy): /usr/bin/python3 scripts/gen_cv_fewrows_ref.py
"""
from fractions import Fraction

import numpy as np

X = {"x1": [1, 2, 4, 7], "x2": [4, 1, 3, 5], "x3": [2, 7, 1, 6]}
Y = [3.1, 5.3, 2.2, 9.4]
SEED, K = 3, 2


def lehmer_folds(n, k, seed):
    out, s = [], seed
    for _ in range(n):
        s = (s * 397204094) % 2147483647
        out.append(int(s / 2147483647.0 * k))
    return out


def exact_rank(cols):
    rows = [[Fraction(c[i]) for c in cols] for i in range(len(cols[0]))] if cols else []
    rank = 0
    for j in range(len(cols)):
        piv = next((i for i in range(rank, len(rows)) if rows[i][j] != 0), None)
        if piv is None:
            continue
        rows[rank], rows[piv] = rows[piv], rows[rank]
        for i in range(len(rows)):
            if i != rank and rows[i][j] != 0:
                r = rows[i][j] / rows[rank][j]
                rows[i] = [a - r * b for a, b in zip(rows[i], rows[rank])]
        rank += 1
    return rank


def cv_press(effects, folds):
    y = np.array(Y)
    cols = [[1.0] * len(Y)] + [X[e] for e in effects]
    total = 0.0
    for f in sorted(set(folds)):
        train = [i for i, g in enumerate(folds) if g != f]
        out = [i for i, g in enumerate(folds) if g == f]
        keep = []
        for j, c in enumerate(cols):
            sub = [[cols[k][i] for i in train] for k in keep + [j]]
            if exact_rank(sub) > len(keep):
                keep.append(j)
        A = np.array([[cols[k][i] for k in keep] for i in train])
        b = np.linalg.lstsq(A, y[train], rcond=None)[0]
        pred = np.array([[cols[k][i] for k in keep] for i in out]) @ b
        total += float(np.sum((y[out] - pred) ** 2))
    return total


def main():
    folds = lehmer_folds(len(Y), K, SEED)
    print("folds", [f + 1 for f in folds])
    entered = []
    print("step 0 Intercept %.12g" % cv_press(entered, folds))
    while len(entered) < len(X):
        best = min((e for e in X if e not in entered), key=lambda e: cv_press(entered + [e], folds))
        entered.append(best)
        print("step %d %s %.12g" % (len(entered), best, cv_press(entered, folds)))


if __name__ == "__main__":
    main()
