#!/usr/bin/python3
"""Writes the many-levels benchmark's data set: ROWS rows of y, one CLASS variable g of LEVELS
levels (each level about equally often, fixed seed), numeric columns x1..xK (K = COVARIATES,
default 3), a CLASS variable h of HLEVELS levels (default 5) taken in turn (which y does not
depend on, and whose values draw nothing from the random stream) and, when WEIGHT is 1, a
weight w drawn uniform on [0.5, 2) after the row's other values; y depends on g's level means
and on x1. Run: /usr/bin/python3 bench/gen_manylevels_data.py ROWS LEVELS FILE [HLEVELS
[COVARIATES [WEIGHT]]] (the file is not committed; the defaults write the same file as
before the covariate count and the weight could be chosen)."""
import os
import random
import sys


def main():
    rows, levels, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    hlevels = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    covariates = int(sys.argv[5]) if len(sys.argv) > 5 else 3
    weight = len(sys.argv) > 6 and sys.argv[6] == "1"
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    rng = random.Random(20261207)
    means = [rng.gauss(0.0, 1.0) for _ in range(levels)]
    names = ["x%d" % (i + 1) for i in range(covariates)]
    with open(path, "w") as f:
        f.write(",".join(["y", "g"] + names + ["h"] + (["w"] if weight else [])) + "\n")
        for r in range(rows):
            g = r % levels if r < levels else rng.randrange(levels)
            x = [rng.gauss(0.0, 1.0) for _ in range(covariates)]
            y = means[g] + 0.5 * x[0] + rng.gauss(0.0, 1.0)
            cells = ["%.6f" % y, "L%d" % g] + ["%.6f" % v for v in x] + ["H%d" % (r % hlevels)]
            if weight:
                cells.append("%.6f" % rng.uniform(0.5, 2.0))
            f.write(",".join(cells) + "\n")


if __name__ == "__main__":
    main()
