#!/usr/bin/python3
"""On scripts/synthdata.py's many_levels_roles_csv (made at run time by the tests from the same
recipe: the rows of many_levels_csv, 120 levels of g, x1..x3, 600 rows, with a role column r:
the first 120 rows (one of each level) train, and of the others those whose index ends in 1, 4
or 7 validate ('V'), in 9 test ('S'), the rest train ('T')), writes
tests/data/manylevels/validate.csv, the trial validation ASE of every candidate at every
step of FORWARD by the validation rows' average squared error, each from the least-squares fit
on the training rows alone (scipy sparse, dummy-coded g, as bench/peer_manylevels.py fits),
and the selected model's test ASE. Every level has training rows, so every fit predicts the
held-out rows uniquely. Run from the repository root:
/usr/bin/python3 scripts/gen_manylevels_validate_ref.py"""
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "bench"))
sys.path.insert(0, HERE)
import numpy as np  # noqa: E402
import scipy.sparse.linalg as spla  # noqa: E402
import peer_manylevels  # noqa: E402
import synthdata  # noqa: E402

OUT = "tests/data/manylevels"
LEVELS = 120


def role(r):
    if r < LEVELS:
        return "T"
    return "V" if r % 10 in (1, 4, 7) else "S" if r % 10 == 9 else "T"


def held_out_ase(roles, which):
    """The score of a design: the average squared error on the rows of role `which` of the
    fit on the training rows."""
    train, held = roles == "T", roles == which

    def score(design, y):
        rows = design.tocsr()
        t = rows[train]
        b = spla.splu((t.T @ t).tocsc()).solve(t.T @ y[train])
        r = y[held] - rows[held] @ b
        return float(r @ r) / held.sum()
    return score


def main():
    text = synthdata.many_levels_roles_csv(LEVELS)
    roles = np.array([line.rsplit(",", 1)[1] for line in text.splitlines()[1:]])
    assert list(roles) == [role(i) for i in range(len(roles))]
    with tempfile.TemporaryDirectory() as work:
        data = os.path.join(work, "data.csv")
        with open(data, "w") as f:
            f.write(synthdata.many_levels_csv(levels=LEVELS))
        y, g, levels, x = peer_manylevels.read(data)
    effects = peer_manylevels.blocks(g, levels, x)
    steps = peer_manylevels.forward(y, effects, held_out_ase(roles, "V"))
    with open(os.path.join(OUT, "validate.csv"), "w") as f:
        f.write("step,effect,ase\n")
        for step, (entered, _, trials) in enumerate(steps):
            for name, value in sorted(trials.items() if entered is not None else []):
                f.write("%d,%s,%.12g\n" % (step, name, value))
        chosen = [entered for entered, _, _ in steps[1:] if entered is not None]
        test = held_out_ase(roles, "S")(peer_manylevels.design_of(y, effects, chosen), y)
        f.write("test,%s,%.12g\n" % (" ".join(chosen), test))
    for entered, value, _ in steps:
        print(entered, value)
    print("test ASE", test)


if __name__ == "__main__":
    main()
