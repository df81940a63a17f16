#!/usr/bin/python3
"""Writes tests/data/manylevels/ on the data scripts/synthdata.py's many_levels_csv (made at
run time by the tests from the same recipe: y, a CLASS variable g of 120 levels, x1..x3 on
600 rows; y depends on g's level means and more strongly on x1, so that FORWARD by SBC
enters x1, then g with x1 in the model): candidates.csv, the trial SBC of every
candidate at every step of that FORWARD selection, computed by the scipy sparse forward
selection of bench/peer_manylevels.py, and backward.csv, the removal trial SBC of every
effect at each step of BACKWARD by SBC on the same sparse design, and press.csv, the trial
PRESS (leave-one-out, by the hat matrix) of every candidate at each entering step of FORWARD by
PRESS, checked on the final model by refitting without each row. Run from the repository
root: /usr/bin/python3 scripts/gen_manylevels_ref.py"""
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "bench"))
sys.path.insert(0, HERE)
import numpy as np  # noqa: E402
import peer_manylevels  # noqa: E402
import synthdata  # noqa: E402

LEVELS, ROWS = 120, 600
OUT = "tests/data/manylevels"


def main():
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        data = os.path.join(work, "data.csv")
        with open(data, "w") as f:
            f.write(synthdata.many_levels_csv(ROWS, LEVELS))
        y, g, levels, x = peer_manylevels.read(data)
    steps = peer_manylevels.forward(y, peer_manylevels.blocks(g, levels, x))
    with open(os.path.join(OUT, "candidates.csv"), "w") as f:
        f.write("step,effect,sbc\n")
        for step, (_, _, trials) in enumerate(steps):
            for name, sbc in sorted(trials.items()):
                f.write("%d,%s,%.10f\n" % (step, name, sbc))
    for entered, sbc, _ in steps:
        print(entered, sbc)
    write_backward(os.path.join(OUT, "backward.csv"), y, peer_manylevels.blocks(g, levels, x))
    write_press(os.path.join(OUT, "press.csv"), y, peer_manylevels.blocks(g, levels, x))


def loo_press(design, y):
    """PRESS by refitting without each row in turn (dense least squares), skipping the rows
    whose leave-one-out fit loses a column (alone in their level): the check of the hat
    matrix's PRESS on the final model."""
    X = design.toarray()
    rank = np.linalg.matrix_rank(X)
    total = 0.0
    for i in range(len(y)):
        keep = np.arange(len(y)) != i
        if np.linalg.matrix_rank(X[keep]) < rank:
            continue
        b = np.linalg.lstsq(X[keep], y[keep], rcond=None)[0]
        total += float(y[i] - X[i] @ b) ** 2
    return total


def write_press(path, y, effects):
    """FORWARD by PRESS: the trial PRESS of every candidate at every step that enters one
    (those qrx shows; each the hat matrix's), and the final model's PRESS by refitting
    without each row agrees."""
    steps = peer_manylevels.forward(y, effects, peer_manylevels.press)
    with open(path, "w") as f:
        f.write("step,effect,press\n")
        for step, (entered, _, trials) in enumerate(steps):
            for name, value in sorted(trials.items() if entered is not None else []):
                f.write("%d,%s,%.10f\n" % (step, name, value))
    chosen = [entered for entered, _, _ in steps[1:] if entered is not None]
    final = peer_manylevels.design_of(y, effects, chosen)
    by_hat, by_refit = peer_manylevels.press(final, y), loo_press(final, y)
    assert abs(by_hat - by_refit) <= 1e-9 * by_refit, (by_hat, by_refit)
    print("PRESS", chosen, by_hat, by_refit)


def write_backward(path, y, effects):
    """BACKWARD by SBC from the model of every effect: the removal trial SBC of every effect at
    each step that removes one (the steps whose candidates qrx shows)."""
    chosen = list(effects)
    current = peer_manylevels.sbc(peer_manylevels.design_of(y, effects, chosen), y)
    with open(path, "w") as f:
        f.write("step,effect,sbc\n")
        step = 1
        while chosen:
            drops = {m: peer_manylevels.sbc(
                peer_manylevels.design_of(y, effects, [c for c in chosen if c != m]), y)
                for m in chosen}
            worst = min(drops, key=drops.get)
            if drops[worst] >= current:
                break
            for name, sbc in sorted(drops.items()):
                f.write("%d,%s,%.10f\n" % (step, name, sbc))
            chosen.remove(worst)
            current = drops[worst]
            step += 1


if __name__ == "__main__":
    main()
