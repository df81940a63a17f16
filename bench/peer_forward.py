#!/usr/bin/python3
"""Peer of bench_forward: the same FORWARD selection (20 steps by SBC, 1,000,000 rows x 100
columns, response on the first 20 columns) in numpy. X'X of the response, the intercept and
the columns is formed by one BLAS product; each step scores every candidate from the swept
matrix and sweeps the winner in. Prints the median wall time of three runs."""
import time

import numpy as np

N, P, STEPS = 1_000_000, 100, 20


def data():
    rng = np.random.default_rng(20261207)
    x = rng.standard_normal((N, P))
    y = x[:, :STEPS] @ (1.0 + 0.1 * np.arange(STEPS)) + rng.standard_normal(N)
    return y, x


def sweep(a, k):
    d = a[k, k]
    row = a[k, :].copy()
    a -= np.outer(a[:, k], row) / d
    a[k, :] = row / d
    a[:, k] = -row / d
    a[k, k] = 1.0 / d


def forward(y, x):
    z = np.empty((N, P + 2))
    z[:, 0] = y
    z[:, 1] = 1.0
    z[:, 2:] = x
    a = z.T @ z
    sweep(a, 1)
    entered = [1]
    n = float(N)
    sse = a[0, 0]
    for _ in range(STEPS):
        cand = np.array([c for c in range(2, P + 2) if c not in entered])
        red = a[0, cand] ** 2 / a[cand, cand]
        k = int(cand[np.argmax(red)])
        new = sse - red.max()
        p = len(entered) + 1
        if n * np.log(new / n) + p * np.log(n) >= n * np.log(sse / n) + (p - 1) * np.log(n):
            break
        sweep(a, k)
        entered.append(k)
        sse = a[0, 0]
    return sorted(c - 1 for c in entered[1:])


def main():
    y, x = data()
    times = []
    for _ in range(3):
        t = time.perf_counter()
        got = forward(y, x)
        times.append(time.perf_counter() - t)
    assert got == list(range(1, STEPS + 1)), got
    print(f"numpy FORWARD 20 steps, {N} x {P}: median {sorted(times)[1]:.3f} s")


if __name__ == "__main__":
    main()
