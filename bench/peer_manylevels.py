#!/usr/bin/python3
"""Peer of bench/manylevels.sh: FORWARD selection by SBC over the candidates g (one CLASS
variable), x1, x2 and x3 of a file written by bench/gen_manylevels_data.py, with the
dummy-coded design held as a scipy sparse matrix. Each candidate's model is fitted by
solving its normal equations with SuperLU; SBC is n log(SSE / n) + p log(n) with p the
parameters of the model (the intercept, one column less than g has levels, x's), and the
selection stops when no candidate lowers it. Run:
/usr/bin/python3 bench/peer_manylevels.py FILE  (prints the steps and the wall time of the
selection, the file read excluded). forward() also serves the test reference
scripts/gen_manylevels_ref.py."""
import sys
import time

import numpy as np
import scipy.sparse as sp
import scipy.sparse.linalg as spla


def read(path):
    """y, the level index of g (levels numbered in sorted order of their names) and x1..x3."""
    with open(path) as f:
        f.readline()
        rows = [line.rstrip("\n").split(",") for line in f]
    names = sorted({r[1] for r in rows})
    index = {name: i for i, name in enumerate(names)}
    y = np.array([float(r[0]) for r in rows])
    g = np.array([index[r[1]] for r in rows])
    x = np.array([[float(v) for v in r[2:5]] for r in rows])
    return y, g, len(names), x


def blocks(g, levels, x):
    """The columns of each candidate effect as a sparse matrix; g drops its last level,
    which the intercept makes redundant."""
    n = len(g)
    keep = g < levels - 1
    gcols = sp.csc_matrix((np.ones(keep.sum()), (np.nonzero(keep)[0], g[keep])),
                          shape=(n, levels - 1))
    out = {"g": gcols}
    for j in range(x.shape[1]):
        out["x%d" % (j + 1)] = sp.csc_matrix(x[:, j:j + 1])
    return out


def sse_of(design, y):
    """SSE of the least-squares fit on the sparse design, by SuperLU on X'X."""
    xtx = (design.T @ design).tocsc()
    xty = design.T @ y
    b = spla.splu(xtx).solve(xty)
    return float(y @ y - b @ xty)


def forward(y, effects):
    """The FORWARD steps by SBC: a list of (entered effect, SBC of the model, the trial SBC
    of every candidate of that step by name)."""
    n = len(y)
    one = sp.csc_matrix(np.ones((n, 1)))
    chosen, cols = [], [one]
    sbc = n * np.log(sse_of(one, y) / n) + np.log(n)
    steps = [("Intercept", sbc, {})]
    while True:
        trials = {}
        for name, block in effects.items():
            if name in chosen:
                continue
            design = sp.hstack(cols + [block]).tocsc()
            sse = sse_of(design, y)
            # A fit without residual (as many levels as rows) is the best there is.
            trials[name] = n * np.log(sse / n) + design.shape[1] * np.log(n) if sse > 0 else -np.inf
        if not trials:
            break
        best = min(trials, key=trials.get)
        if trials[best] >= sbc:
            steps.append((None, sbc, trials))
            break
        chosen.append(best)
        cols.append(effects[best])
        sbc = trials[best]
        steps.append((best, sbc, trials))
    return steps


def main():
    y, g, levels, x = read(sys.argv[1])
    effects = blocks(g, levels, x)
    start = time.perf_counter()
    steps = forward(y, effects)
    seconds = time.perf_counter() - start
    for entered, sbc, _ in steps[1:]:
        if entered is not None:
            print("entered %s, SBC %.4f" % (entered, sbc))
    print("scipy sparse FORWARD, %d levels, %d rows: %.3f s" % (levels, len(y), seconds))


if __name__ == "__main__":
    main()
