#!/usr/bin/python3
"""Writes tests/data/classbesidelevels/d.csv and sbc.csv: 300 rows of a CLASS variable g of 60
levels (the first 60 rows take every level in turn), a CLASS variable h of 5 levels, x1 and x2;
y = 3 m(g) + h's level effect + 0.5 x1 + noise, so that FORWARD by SBC enters g first and then
tries h beside it. sbc.csv holds the SBC of every candidate at every step of FORWARD by SBC
with STOP=NONE (the greedy search on these same criteria: the least SBC enters), each the
least-squares fit of the candidate model by mpmath at 40 digits on the values as d.csv writes
them. The column spaces of g and h with the intercept are their levels' indicators under the
GLM, reference and effect codings alike, so one reference serves all three; the rank is the
intercept's 1, a CLASS variable's levels less one and a covariate's 1. Run from the repository
root: /usr/bin/python3 scripts/gen_class_beside_levels_ref.py"""
import math
import os

import mpmath as mp
import numpy as np

OUT = "tests/data/classbesidelevels"
ROWS, G, H = 300, 60, 5
mp.mp.dps = 40


def make():
    rng = np.random.default_rng(20261210)
    g = rng.integers(0, G, ROWS)
    g[:G] = np.arange(G)
    h = rng.integers(0, H, ROWS)
    mean = rng.normal(size=G)
    effect = np.array([-1.0, -0.4, 0.0, 0.6, 1.1])
    x1, x2 = rng.normal(size=ROWS), rng.normal(size=ROWS)
    y = 3.0 * mean[g] + effect[h] + 0.5 * x1 + rng.normal(size=ROWS)
    lines = ["y,g,h,x1,x2"] + ["%.9g,L%02d,H%d,%.9g,%.9g" % (y[r], g[r], h[r], x1[r], x2[r])
                               for r in range(ROWS)]
    return "\n".join(lines) + "\n"


def read(text):
    rows = [line.split(",") for line in text.strip().split("\n")[1:]]
    return {"y": [mp.mpf(r[0]) for r in rows], "g": [int(r[1][1:]) for r in rows],
            "h": [int(r[2][1:]) for r in rows], "x1": [mp.mpf(r[3]) for r in rows],
            "x2": [mp.mpf(r[4]) for r in rows]}


def columns(d, effect):
    """The effect's columns of full rank beside the intercept (a CLASS variable's last level
    left out)."""
    if effect in ("g", "h"):
        count = G if effect == "g" else H
        return [[mp.mpf(1) if v == lv else mp.mpf(0) for v in d[effect]] for lv in range(count - 1)]
    return [d[effect]]


def sbc(d, effects):
    cols = [[mp.mpf(1)] * ROWS] + [c for e in effects for c in columns(d, e)]
    k = len(cols)
    A = mp.matrix(k, k)
    b = mp.matrix(k, 1)
    for i in range(k):
        b[i] = mp.fsum(cols[i][r] * d["y"][r] for r in range(ROWS) if cols[i][r])
        for j in range(i + 1):
            A[i, j] = A[j, i] = mp.fsum(cols[i][r] * cols[j][r] for r in range(ROWS)
                                        if cols[i][r] and cols[j][r])
    beta = mp.lu_solve(A, b)
    sse = mp.fsum((d["y"][r] - mp.fsum(beta[i] * cols[i][r] for i in range(k))) ** 2
                  for r in range(ROWS))
    return ROWS * mp.log(sse / ROWS) + k * mp.log(ROWS)


def main():
    os.makedirs(OUT, exist_ok=True)
    text = make()
    with open(os.path.join(OUT, "d.csv"), "w") as f:
        f.write(text)
    d = read(text)
    model, left, out = [], ["g", "h", "x1", "x2"], ["step,effect,sbc"]
    for step in range(1, 5):
        trials = {e: sbc(d, model + [e]) for e in left}
        for e in sorted(trials):
            out.append("%d,%s,%s" % (step, e, mp.nstr(trials[e], 17, strip_zeros=False)))
        best = min(trials, key=lambda e: trials[e])
        print(step, best, {e: float(v) for e, v in trials.items()})
        model.append(best)
        left.remove(best)
    assert model[:2] == ["g", "h"], model
    with open(os.path.join(OUT, "sbc.csv"), "w") as f:
        f.write("\n".join(out) + "\n")
    assert math.isfinite(float(trials[model[-1]]))


if __name__ == "__main__":
    main()
