#!/usr/bin/python3
"""Writes tests/data/removalrank/<name>.csv: small data sets (y, x, z) on which BACKWARD and
STEPWISE remove columns of a nearly dependent basis of x (a degree-30 truncated-power spline,
a degree-10 polynomial), so that the swept matrix left by the removals decides the rank and
the error SS reported. Each set: n rows, x = lo + uniform(0, scale) (rounded to one decimal
for some), y = sd * normal + amp * sin(6 (x - lo) / scale), z normal; the parameters are
drawn from numpy's default_rng(seed) in the order below, so the seeds name the data.
The test computes its references (rank and least-squares error SS of the columns the fit
keeps) from the design columns qrx writes, by Householder QR in long double.
Run from the repository root: /usr/bin/python3 scripts/gen_removal_rank_data.py"""
import os

import numpy as np

OUT = "tests/data/removalrank"
# name: (seed, x rounded to one decimal)
SETS = {"tp317": (317, False), "tp511": (511, False), "tp512": (512, True),
        "tp515": (515, True), "poly516": (516, False), "tp112": (112, True)}


def data(seed, rounded):
    rng = np.random.default_rng(seed)
    n = int(rng.choice([30, 50, 80, 120, 200, 400]))
    lo = float(rng.choice([0, 0, 1, 10, 100]))
    scale = float(rng.choice([0.1, 1, 10, 100]))
    x = lo + rng.uniform(0, scale, n)
    if rounded:
        x = np.round(x, 1)
    amp = float(rng.choice([0, 0.5, 3]))
    y = float(rng.choice([1, 8, 50])) * rng.normal(size=n) + amp * np.sin((x - lo) / scale * 6)
    z = rng.normal(size=n)
    return y, x, z


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, (seed, rounded) in SETS.items():
        y, x, z = data(seed, rounded)
        with open(os.path.join(OUT, name + ".csv"), "w") as f:
            f.write("y,x,z\n")
            for r in range(len(y)):
                f.write(f"{y[r]:.17g},{x[r]:.17g},{z[r]:.17g}\n")


if __name__ == "__main__":
    main()
