#!/usr/bin/python3
"""Reference estimates of the address-limit runs (tests/programs/address_limit_test.cpp).

The test's CSV is one block of 1,000 integer rows repeated until the file reaches its size:
x1..x20 are quadratic residues modulo 2003 less 1001, and y = 3 x1 - 2 x2 + x3 + floor(x4/2)
plus a residue modulo 401 less 200. Repeating a block scales every cross product alike, so
the forward order and the least-squares estimates are the block's. Forward selection adds,
five times, the candidate that leaves the least error sum of squares (the least SBC among
single-column candidates); the estimates are numpy's least squares on the chosen columns.

Writes tests/data/addresslimit/forward5.csv (effect,estimate) in the order of entry.
Run: /usr/bin/python3 scripts/gen_address_limit_ref.py
"""
import os

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "addresslimit", "forward5.csv")
P = 2003
ROWS = 1000
COLUMNS = 20
STEPS = 5


def block():
    x = np.zeros((ROWS, COLUMNS))
    y = np.zeros(ROWS)
    for i in range(ROWS):
        xs = [(37 * i * i + 101 * i * j + 53 * j * j + 7 * i + 11 * j) % P - 1001
              for j in range(1, COLUMNS + 1)]
        noise = (7919 * i * i + 13 * i) % 401 - 200
        x[i] = xs
        y[i] = 3 * xs[0] - 2 * xs[1] + xs[2] + xs[3] // 2 + noise
    return x, y


def sse(x, y, cols):
    a = np.column_stack([np.ones(len(y))] + [x[:, c] for c in cols])
    beta = np.linalg.lstsq(a, y, rcond=None)[0]
    r = y - a @ beta
    return float(r @ r), beta


def main():
    x, y = block()
    chosen = []
    for _ in range(STEPS):
        rest = [c for c in range(COLUMNS) if c not in chosen]
        chosen.append(min(rest, key=lambda c: sse(x, y, chosen + [c])[0]))
    beta = sse(x, y, chosen)[1]
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, "w") as f:
        f.write("effect,estimate\n")
        for name, b in zip(["Intercept"] + ["x%d" % (c + 1) for c in chosen], beta):
            f.write("%s,%.12g\n" % (name, b))


if __name__ == "__main__":
    main()
