#!/usr/bin/python3
"""Peer of bench/manylevels_roads.sh: FORWARD (the default),
STEPWISE or BACKWARD selection by SBC, FORWARD by five-fold CV PRESS ("cv") or by the
leave-one-out PRESS ("press"), over the
candidates g (one CLASS variable), x1, x2 and x3 of a file written by
bench/gen_manylevels_data.py, with the dummy-coded design held as a scipy sparse matrix.
Each candidate's model is fitted by solving its normal equations with SuperLU; SBC is
n log(SSE / n) + p log(n) with p the parameters of the model (the intercept, one column less
than g has levels, x's), and the selection stops when no candidate lowers it. Run:
/usr/bin/python3 bench/peer_manylevels.py FILE
[forward|forwardh|stepwise|stepwiseh|backward|backwardh|cv|press|store]
(prints the steps of FORWARD, the selected effects and the wall time of the selection, the
file read excluded). "stepwiseh", "forwardh" and "backwardh" are STEPWISE, FORWARD and BACKWARD with
the file's CLASS variable h (its sixth column) a candidate too. "store" is FORWARD followed by what STORE writes for the model of every
candidate: the covariance of its estimates (s^2 times the inverse of the dense X'X), one JSON
row of shortest round-trip numbers per parameter, into FILE.peerstore.json (removed after).
forward() also serves the test reference scripts/gen_manylevels_ref.py."""
import os
import sys
import time

import numpy as np
import pandas as pd
import scipy.sparse as sp
import scipy.sparse.linalg as spla


def read(path):
    """y, the level index of g (levels numbered in sorted order of their names) and x1..x3,
    read with pandas.read_csv as a user of this peer would (level names kept as text)."""
    d = pd.read_csv(path, usecols=range(5), dtype={1: str}, keep_default_na=False)
    names, g = np.unique(d.iloc[:, 1].to_numpy(dtype=str), return_inverse=True)
    y = d.iloc[:, 0].to_numpy(dtype=float)
    x = d.iloc[:, 2:5].to_numpy(dtype=float)
    return y, g, len(names), x


def small_class(path):
    """The dummy columns of the CLASS variable h in the file's sixth column, its last level
    dropped."""
    d = pd.read_csv(path, usecols=[5], dtype=str, keep_default_na=False)
    names, h = np.unique(d.iloc[:, 0].to_numpy(dtype=str), return_inverse=True)
    keep = h < len(names) - 1
    return sp.csc_matrix((np.ones(keep.sum()), (np.nonzero(keep)[0], h[keep])),
                         shape=(len(h), len(names) - 1))


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


def sbc(design, y):
    """SBC of the least-squares fit: n log(SSE / n) + p log(n), p the design's columns; a fit
    without residual (as many levels as rows) is the best there is."""
    n = len(y)
    sse = sse_of(design, y)
    return n * np.log(sse / n) + design.shape[1] * np.log(n) if sse > 0 else -np.inf


def cv_press(folds, k):
    """The CV PRESS criterion over the fold numbers `folds` (0..k-1 per row): each fold's
    held-out squared error of the fit on the other folds. A level absent from the other
    folds has no estimate there: a ridge of 1e-8 on the diagonal gives it zero."""
    def score(design, y):
        rows = design.tocsr()
        ridge = 1e-8 * sp.identity(design.shape[1], format="csc")
        total = 0.0
        for f in range(k):
            held = folds == f
            train = rows[~held]
            b = spla.splu((train.T @ train).tocsc() + ridge).solve(train.T @ y[~held])
            r = y[held] - rows[held] @ b
            total += float(r @ r)
        return total
    return score


def press(design, y):
    """PRESS of the least-squares fit: the sum of (r_i / (1 - h_ii))^2, h_ii the diagonal of
    the hat matrix X (X'X)^-1 X', from SuperLU solves of X'X against the rows' columns in
    blocks of 1,000 rows. A row with h_ii within 1e-8 of 1 (alone in its level) has no
    leave-one-out residual and adds nothing."""
    xtx = (design.T @ design).tocsc()
    lu = spla.splu(xtx)
    b = lu.solve(design.T @ y)
    r = y - design @ b
    rows = design.tocsr()
    h = np.empty(len(y))
    for start in range(0, len(y), 1000):
        block = rows[start:start + 1000]
        z = lu.solve(block.T.toarray())
        h[start:start + block.shape[0]] = np.asarray(block.multiply(z.T).sum(axis=1)).ravel()
    keep = np.abs(h - 1.0) > 1e-8
    return float(np.sum((r[keep] / (1.0 - h[keep])) ** 2))


def design_of(y, effects, names):
    """The sparse design of the intercept and the named effects."""
    one = sp.csc_matrix(np.ones((len(y), 1)))
    return sp.hstack([one] + [effects[m] for m in names]).tocsc()


def forward(y, effects, score=sbc):
    """The FORWARD steps by `score` (SBC by default): a list of (entered effect, score of the
    model, the trial score of every candidate of that step by name)."""
    chosen = []
    current = score(design_of(y, effects, []), y)
    steps = [("Intercept", current, {})]
    while True:
        trials = {m: score(design_of(y, effects, chosen + [m]), y)
                  for m in effects if m not in chosen}
        if not trials:
            break
        best = min(trials, key=trials.get)
        if trials[best] >= current:
            steps.append((None, current, trials))
            break
        chosen.append(best)
        current = trials[best]
        steps.append((best, current, trials))
    return steps


def stepwise(y, effects, score=sbc):
    """STEPWISE by `score`: after each entry, the earlier effect whose removal lowers the
    score most leaves when it does. Returns the effects in the model at the end."""
    chosen = []
    current = score(design_of(y, effects, []), y)
    for _ in range(4 * len(effects)):
        trials = {m: score(design_of(y, effects, chosen + [m]), y)
                  for m in effects if m not in chosen}
        best = min(trials, key=trials.get) if trials else None
        if best is None or trials[best] >= current:
            break
        chosen.append(best)
        current = trials[best]
        drops = {m: score(design_of(y, effects, [c for c in chosen if c != m]), y)
                 for m in chosen[:-1]}
        worst = min(drops, key=drops.get) if drops else None
        if worst is not None and drops[worst] < current:
            chosen.remove(worst)
            current = drops[worst]
    return chosen


def backward(y, effects, score=sbc):
    """BACKWARD by `score` from the model of every effect: the effect whose removal lowers
    the score most leaves, while one does. Returns the effects kept."""
    chosen = list(effects)
    current = score(design_of(y, effects, chosen), y)
    while chosen:
        drops = {m: score(design_of(y, effects, [c for c in chosen if c != m]), y)
                 for m in chosen}
        worst = min(drops, key=drops.get)
        if drops[worst] >= current:
            break
        chosen.remove(worst)
        current = drops[worst]
    return chosen


def store_covariance(y, effects, path):
    """The covariance of the estimates of the model of every candidate, written as STORE
    writes it: one row of numbers per parameter."""
    design = design_of(y, effects, sorted(effects))
    xtx = (design.T @ design).toarray()
    xty = design.T @ y
    inverse = np.linalg.inv(xtx)
    b = inverse @ xty
    s2 = float(y @ y - b @ xty) / (len(y) - design.shape[1])
    with open(path, "w") as f:
        f.write('{"covariance": [\n')
        for i, row in enumerate(inverse * s2):
            f.write((",\n" if i else "") + "[" + ", ".join(map(repr, row.tolist())) + "]")
        f.write("]}\n")
    os.remove(path)


def main():
    y, g, levels, x = read(sys.argv[1])
    mode = sys.argv[2] if len(sys.argv) > 2 else "forward"
    effects = blocks(g, levels, x)
    if mode in ("stepwiseh", "forwardh", "backwardh"):
        effects["h"] = small_class(sys.argv[1])
        if mode != "stepwiseh":
            mode = mode[:-1]
    start = time.perf_counter()
    if mode == "forward":
        steps = forward(y, effects)
        chosen = [entered for entered, _, _ in steps[1:] if entered is not None]
        for entered, value, _ in steps[1:]:
            if entered is not None:
                print("entered %s, SBC %.4f" % (entered, value))
    elif mode == "press":
        steps = forward(y, effects, press)
        chosen = [entered for entered, _, _ in steps[1:] if entered is not None]
    elif mode == "cv":
        folds = np.random.default_rng(7).integers(0, 5, len(y))
        steps = forward(y, effects, cv_press(folds, 5))
        chosen = [entered for entered, _, _ in steps[1:] if entered is not None]
    elif mode == "store":
        steps = forward(y, effects)
        chosen = [entered for entered, _, _ in steps[1:] if entered is not None]
        store_covariance(y, effects, sys.argv[1] + ".peerstore.json")
    else:
        chosen = (backward if mode == "backward" else stepwise)(y, effects)
    seconds = time.perf_counter() - start
    print("selected: %s" % " ".join(sorted(chosen)))
    print("scipy sparse %s, %d levels, %d rows: %.3f s" % (mode.upper(), levels, len(y), seconds))


if __name__ == "__main__":
    main()
