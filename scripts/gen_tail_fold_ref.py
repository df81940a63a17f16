#!/usr/bin/python3
"""CV PRESS of FORWARD's steps by exact fold refits where a column's mean is set by one fold.

Writes DIR/tailfold.csv: 40 rows dealt to two folds in turn (CVMETHOD=SPLIT(2)); x in [1, 3] on
the first fold's rows and in [0.02, 0.1] on the second's, t = x^20 (up to 3.5e9 on the first,
below 1e-20 on the second, far below the last place of t's mean), z standard normal, y = 1 + x +
0.5 z + noise. And DIR/tailfold_ref.csv (effect, CV PRESS): FORWARD by SELECT=CV taken by exact
arithmetic, each step entering the candidate whose refits give the least CV PRESS, the sum over
the folds of the held-out squared errors of the least-squares fit without the fold (mpmath at
120 digits on the values as written).
"""
import argparse
import csv
import os

import mpmath as mp
import numpy as np

mp.mp.dps = 120


def rows():
    rng = np.random.default_rng(3)
    out = []
    for i in range(40):
        x = round(rng.uniform(0.02, 0.1) if i % 2 else rng.uniform(1.0, 3.0), 6)
        z = rng.standard_normal()
        y = 1 + x + 0.5 * z + 0.1 * rng.standard_normal()
        out.append({"x": x, "t": x**20, "z": round(z, 6), "y": round(y, 6)})
    return out


def press(data, cols):
    total = mp.mpf(0)
    for k in (0, 1):
        train = [r for i, r in enumerate(data) if i % 2 != k]
        held = [r for i, r in enumerate(data) if i % 2 == k]
        X = mp.matrix([[1] + [mp.mpf(r[c]) for c in cols] for r in train])
        y = mp.matrix([mp.mpf(r["y"]) for r in train])
        b = mp.lu_solve(X.T * X, X.T * y)
        for r in held:
            fit = b[0] + sum(b[j + 1] * mp.mpf(r[c]) for j, c in enumerate(cols))
            total += (mp.mpf(r["y"]) - fit) ** 2
    return total


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir")
    out = ap.parse_args().dir
    data = rows()
    with open(os.path.join(out, "tailfold.csv"), "w", newline="") as fh:
        w = csv.writer(fh)
        w.writerow(["x", "t", "z", "y"])
        for r in data:
            w.writerow([repr(r["x"]), repr(r["t"]), repr(r["z"]), repr(r["y"])])
    taken, left = [], ["x", "z", "t"]
    steps = [("Intercept", press(data, []))]
    while left:
        best = min(left, key=lambda c: press(data, taken + [c]))
        taken.append(best)
        left.remove(best)
        steps.append((best, press(data, taken)))
    with open(os.path.join(out, "tailfold_ref.csv"), "w", newline="") as fh:
        w = csv.writer(fh)
        w.writerow(["effect", "cvpress"])
        for name, value in steps:
            w.writerow([name, mp.nstr(value, 17)])


if __name__ == "__main__":
    main()
