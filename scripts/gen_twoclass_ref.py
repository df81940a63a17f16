#!/usr/bin/python3
"""Writes tests/data/manylevels/twoclass.csv (y, a CLASS variable g of 120 levels, x1..x3 and
a CLASS variable h of 6 levels on 600 rows; y depends on g's level means, on h and more
strongly on x1) and twoclass_forward.csv, the trial SBC of every candidate at every step of
FORWARD by SBC over g, h and x1..x3, computed by the scipy sparse forward selection of
bench/peer_manylevels.py with h's dummy columns as one more candidate. Run from the
repository root: /usr/bin/python3 scripts/gen_twoclass_ref.py"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
import peer_manylevels  # noqa: E402

LEVELS, ROWS = 120, 600
SHIFTS = [-1.5, -0.5, 0.0, 0.7, 1.3, 0.4]
OUT = "tests/data/manylevels"


def write_data(path):
    rng = random.Random(53)
    means = [rng.gauss(0.0, 1.0) for _ in range(LEVELS)]
    with open(path, "w") as f:
        f.write("y,g,x1,x2,x3,h\n")
        for r in range(ROWS):
            g = r % LEVELS if r < LEVELS else rng.randrange(LEVELS)
            h = rng.randrange(len(SHIFTS))
            x = [rng.gauss(0.0, 1.0) for _ in range(3)]
            y = 2.0 * means[g] + SHIFTS[h] + 3.0 * x[0] + rng.gauss(0.0, 1.0)
            f.write("%.6f,C%03d,%.6f,%.6f,%.6f,H%d\n" % (y, g + 1, x[0], x[1], x[2], h))


def main():
    os.makedirs(OUT, exist_ok=True)
    data = os.path.join(OUT, "twoclass.csv")
    write_data(data)
    y, g, levels, x = peer_manylevels.read(data)
    effects = peer_manylevels.blocks(g, levels, x)
    effects["h"] = peer_manylevels.small_class(data)
    steps = peer_manylevels.forward(y, effects)
    with open(os.path.join(OUT, "twoclass_forward.csv"), "w") as f:
        f.write("step,effect,sbc\n")
        for step, (_, _, trials) in enumerate(steps):
            for name, sbc in sorted(trials.items()):
                f.write("%d,%s,%.10f\n" % (step, name, sbc))
    for entered, sbc, _ in steps:
        print(entered, sbc)


if __name__ == "__main__":
    main()
