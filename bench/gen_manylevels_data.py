#!/usr/bin/python3
"""Writes the many-levels benchmark's data set: ROWS rows of y, one CLASS variable g of LEVELS
levels (each level about equally often, fixed seed), three numeric columns x1..x3, and a
CLASS variable h of HLEVELS levels (default 5) taken in turn (which y does not depend on, and
whose values draw nothing from the random stream); y depends on g's level means and on x1. Run:
/usr/bin/python3 bench/gen_manylevels_data.py ROWS LEVELS FILE [HLEVELS] (the file is not
committed)."""
import os
import random
import sys


def main():
    rows, levels, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    hlevels = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    rng = random.Random(20261207)
    means = [rng.gauss(0.0, 1.0) for _ in range(levels)]
    with open(path, "w") as f:
        f.write("y,g,x1,x2,x3,h\n")
        for r in range(rows):
            g = r % levels if r < levels else rng.randrange(levels)
            x = [rng.gauss(0.0, 1.0) for _ in range(3)]
            y = means[g] + 0.5 * x[0] + rng.gauss(0.0, 1.0)
            f.write("%.6f,L%d,%.6f,%.6f,%.6f,H%d\n" % (y, g, x[0], x[1], x[2], r % hlevels))


if __name__ == "__main__":
    main()
