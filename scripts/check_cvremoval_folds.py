#!/usr/bin/python3
"""The exact CV PRESS of one model of an oracle case, in rational arithmetic: each fold's
least-squares refit on its training rows and the weighted squared errors of its held-out
rows, the design values and weights taken exactly as the doubles they are.

The case is drawn again from the oracle's generator and run once through qrx for its design
(the oracle checks that design against the data on its own). The model is given by the
design's column names and, optionally, a CLASS effect of many levels fitted through its
levels' means: a fold's refit is then the within-level fit of the columns plus the levels'
means of its training rows, and a held-out row whose level no training row holds takes the
mean of the level the rank rule leaves standing for the intercept, the last level the fold
holds in design order (the reference level first for REF coding: its rows carry no
column); GLM and REF codings only. Without the effect the fit has an intercept unless
--noint.

Found with the cvremoval scenario:
  7500068: --columns x1,x2,x3,x4 --levels m1 gives 83551.404584213364 (step 1's candidate
    S1, whose x3 lies near 1.8e9 with spread 0.07); the engine prints 83551.40458421348,
    the oracle formed 83551.40497 before its within-level means were taken off centre.
    --columns x1,x2,x3,x4 gives 46284.4946473339 (step 2's candidate m1).
  7500092: --columns x1,x2,g1_L001..g1_L027 --noint (step 2 of NOINT BACKWARD over
    BLOCK(8)) gives 460.84460779997289: the many-level road prints 460.84460779997323, the
    packed road printed 460.82247787103637 while it reverse-swept m1 out of fold records
    whose coefficients a refit had replaced (scripts/gen_road_noint_ref.py gives the same
    value from the data alone).

Run from the repository root:
  /usr/bin/python3 scripts/check_cvremoval_folds.py --seed 7500068 --columns x1,x2,x3,x4 \\
      --levels m1 --qrx build/release/app/qrx
(--columns takes a prefix ending in '*', such as g1_*, for all of an effect's columns.)
"""
import argparse
import os
import shutil
import sys
import tempfile
from fractions import Fraction

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from oracle_lib import check, gen, runqrx  # noqa: E402


def solve(A, b):
    """A x = b exactly (Gauss-Jordan over fractions); A must be regular."""
    n = len(A)
    M = [A[i][:] + [b[i]] for i in range(n)]
    for i in range(n):
        p = next((r for r in range(i, n) if M[r][i] != 0), None)
        if p is None:
            sys.exit("the columns are exactly dependent on a fold's training rows")
        M[i], M[p] = M[p], M[i]
        for r in range(n):
            if r != i and M[r][i] != 0:
                f = M[r][i] / M[i][i]
                M[r] = [a - f * c for a, c in zip(M[r], M[i])]
    return [M[i][n] / M[i][i] for i in range(n)]


def fold_error(X, y, w, lev, tr, out, noint):
    """The held-out weighted squared error of the exact refit on the training rows."""
    p = len(X[0]) if X else 0
    sw, sx, sy = {}, {}, {}
    for i in tr:
        L = lev[i]
        sw[L] = sw.get(L, 0) + w[i]
        sy[L] = sy.get(L, 0) + w[i] * y[i]
        sx.setdefault(L, [Fraction(0)] * p)
        for j in range(p):
            sx[L][j] += w[i] * X[i][j]
    if noint:
        mx = {L: [Fraction(0)] * p for L in sw}
        my = {L: Fraction(0) for L in sw}
    else:
        mx = {L: [v / sw[L] for v in sx[L]] for L in sw}
        my = {L: sy[L] / sw[L] for L in sw}
    A = [[Fraction(0)] * p for _ in range(p)]
    b = [Fraction(0)] * p
    for i in tr:
        L = lev[i]
        dev = [X[i][j] - mx[L][j] for j in range(p)]
        e = y[i] - my[L]
        for a in range(p):
            b[a] += w[i] * dev[a] * e
            for c in range(p):
                A[a][c] += w[i] * dev[a] * dev[c]
    beta = solve(A, b) if p else []
    base = max(sw)
    part = Fraction(0)
    for i in out:
        L = lev[i] if lev[i] in sw else base
        pred = my[L] + sum(bj * (X[i][j] - mx[L][j]) for j, bj in enumerate(beta))
        part += w[i] * (y[i] - pred) ** 2
    return part


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("--scenario", default="cvremoval")
    ap.add_argument("--columns", required=True)
    ap.add_argument("--levels", default=None)
    ap.add_argument("--noint", action="store_true")
    ap.add_argument("--qrx", default="build/release/app/qrx")
    a = ap.parse_args()
    case = gen.make_case(a.seed, a.scenario)
    work = tempfile.mkdtemp(prefix="check-cvremoval-")
    try:
        _, rec, err = runqrx.run_program(os.path.abspath(a.qrx), work, case)
        if rec is None:
            sys.exit("qrx wrote no record: %s" % err)
        d = check.Data(case, work, rec, None)
        folds = check.row_folds(case, work, d)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    D = d.D_all[d.used]
    names = []
    for c in a.columns.split(","):
        names += [n for n in d.names if n.startswith(c[:-1])] if c.endswith("*") else [c]
    cols = [d.names.index(n) for n in names]
    X = [[Fraction(float(v)) for v in row] for row in D[:, cols]]
    y = [Fraction(float(v)) for v in d.y]
    w = [Fraction(float(v)) for v in d.wf]
    lev = [0] * len(y)
    if a.levels:
        own = [i for i, n in enumerate(d.names) if n.startswith(a.levels + "_")]
        lev = [int(np.argmax(r)) if r.max() > 0 else len(own) for r in D[:, own]]
    total = Fraction(0)
    for k in sorted(set(folds.tolist())):
        tr = [i for i in range(len(y)) if folds[i] != k]
        out = [i for i in range(len(y)) if folds[i] == k]
        part = fold_error(X, y, w, lev, tr, out, a.noint)
        print("fold %d: %.17g" % (k + 1, float(part)))
        total += part
    print("CV PRESS %.17g" % float(total))


if __name__ == "__main__":
    main()
