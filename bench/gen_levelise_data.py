#!/usr/bin/python3
"""Writes the levelisation benchmark's data set: ROWS rows of y, four CLASS variables (a: 500
character levels, b: 200 numeric levels with decimals, c: 50 character levels, d: 100
integer levels, each level about equally often, fixed seed) and one numeric column x1; y
depends on a, b and x1. Run:
/usr/bin/python3 bench/gen_levelise_data.py ROWS FILE (the file is not committed)."""
import os
import random
import sys


def main():
    rows, path = int(sys.argv[1]), sys.argv[2]
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    rng = random.Random(34)
    with open(path, "w") as f:
        f.write("y,a,b,c,d,x1\n")
        chunk = []
        for _ in range(rows):
            a, b, c, d = rng.randrange(500), rng.randrange(200), rng.randrange(50), rng.randrange(100)
            x = rng.gauss(0.0, 1.0)
            y = 0.002 * a - 0.003 * b + 0.5 * x + rng.gauss(0.0, 1.0)
            chunk.append("%.5f,K%03d,%.3f,C%02d,%d,%.5f\n" % (y, a, b / 8.0, c, d * 7, x))
            if len(chunk) == 100000:
                f.write("".join(chunk))
                chunk = []
        f.write("".join(chunk))


if __name__ == "__main__":
    main()
