#!/usr/bin/python3
"""Writes the ill-conditioned FORWARD benchmark's data set: ROWS rows of y, x on [0, 10], t on
[1, 3] and eight covariates z1..z8 (fixed seed); y is sin(x) + 0.5 z1 - 0.3 z2 + 0.2 t^2 plus
noise, so that raw polynomial and spline columns of x and t enter and leave their steps
nearly dependent. Run: /usr/bin/python3 bench/gen_illforward_data.py ROWS FILE (the file is
not committed)."""
import math
import os
import random
import sys


def main():
    rows, path = int(sys.argv[1]), sys.argv[2]
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    rng = random.Random(20261210)
    with open(path, "w") as f:
        f.write("y,x,t," + ",".join("z%d" % i for i in range(1, 9)) + "\n")
        for _ in range(rows):
            x, t = rng.uniform(0.0, 10.0), rng.uniform(1.0, 3.0)
            z = [rng.gauss(0.0, 1.0) for _ in range(8)]
            y = math.sin(x) + 0.5 * z[0] - 0.3 * z[1] + 0.2 * t * t + rng.gauss(0.0, 0.5)
            f.write("%.10g,%.10g,%.10g," % (y, x, t) + ",".join("%.10g" % v for v in z) + "\n")


if __name__ == "__main__":
    main()
