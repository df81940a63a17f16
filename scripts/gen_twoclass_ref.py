#!/usr/bin/python3
"""Writes tests/data/manylevels/twoclass_forward.csv: on the data twoclass (scripts/synthdata.py's
two_class_csv, which the test makes at run time from the same recipe: y, a CLASS variable g of
120 levels, x1..x3 and a CLASS variable h of 6 levels on 600 rows; y depends on g's level
means, on h and more strongly on x1), the trial SBC of every candidate at every step of
FORWARD by SBC over g, h and x1..x3, computed by the scipy sparse forward selection of
bench/peer_manylevels.py with h's dummy columns as one more candidate. Run from the
repository root: /usr/bin/python3 scripts/gen_twoclass_ref.py"""
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "bench"))
sys.path.insert(0, HERE)
import peer_manylevels  # noqa: E402
import synthdata  # noqa: E402

OUT = "tests/data/manylevels"


def main():
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        data = os.path.join(work, "twoclass.csv")
        with open(data, "w") as f:
            f.write(synthdata.two_class_csv())
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
