#!/usr/bin/python3
"""Writes the CSV-reading benchmark's data set: ROWS x COLUMNS (y and x1..x(COLUMNS-1),
standard normals with six decimals, y on the first ten x's plus noise; fixed seed), about
514 MB at 1,000,000 x 50. Run: /usr/bin/python3 bench/gen_csvread_data.py [ROWS] [FILE]
[COLUMNS] (default 1000000 rows x 50 into build/bench/wide.csv; the file is not committed)."""
import os
import random
import sys


def main():
    rows = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    path = sys.argv[2] if len(sys.argv) > 2 else os.path.join(
        os.path.dirname(__file__), "..", "build", "bench", "wide.csv")
    xs = (int(sys.argv[3]) if len(sys.argv) > 3 else 50) - 1
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    rng = random.Random(20260428)
    beta = [1.0 + 0.1 * k for k in range(10)]
    gauss = rng.gauss
    with open(path, "w") as f:
        f.write("y," + ",".join("x%d" % k for k in range(1, xs + 1)) + "\n")
        lines = []
        for r in range(rows):
            x = [gauss(0.0, 1.0) for _ in range(xs)]
            y = sum(b * v for b, v in zip(beta, x)) + gauss(0.0, 1.0)
            lines.append("%.6f," % y + ",".join(["%.6f" % v for v in x]))
            if len(lines) == 10000:
                f.write("\n".join(lines) + "\n")
                lines = []
        if lines:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
