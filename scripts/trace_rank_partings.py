#!/usr/bin/python3
"""The exact numbers behind three partings of the oracle's relations (two of rows permuted,
one of the many-level road against the packed one), each at a decision that double
arithmetic cannot settle on its design, and the criteria each choice leads to. mpmath at 80
digits on the design qrx writes (OUTDESIGN), with the rows, weights and frequencies as the
oracle reads them.

9700683: STEPWISE by C(p) with FREQ beside SPLINE(x1 / DEGREE=58 KNOTMETHOD=EQUAL(13)). C(p)
takes the full model's error variance. The rule (a pivot is taken above 1e-8 of its diagonal
and 64 u Q, Q = |v|'|X'X||v| over the sizes of the terms of the sums about the means,
|a_il| + |a_i1 a_l1| / a_11, v = (1, -b), u = 2^-53) sweeps the full model's columns in
order; S1 35's exact pivot is 1.00 times 64 u Q, and the elimination in double carries up to
some 20 u Q. One order of the rows took it (rank 18, with S1 36, 38, 39, 45 and 56 after it),
the other refused it (rank 15, with S1 36, 39, 41), as the exact rule does. The variances
differ, and with them whether x3's entry lowers C(p).

9710148 (widespline scenario), BY group 1 (13 rows): FORWARD by AICC; at step 4 S1
(SPLINE(x1 / DEGREE=50 KNOTMETHOD=EQUAL(1))) is tried after x1, x2 and c1. S1 14's exact
pivot is 1.07e-7 of its diagonal and 0.85 of 64 u Q: refused by the sums, it is judged again
from the rows, which take it where their pivot passes 1e-7 of the diagonal and the swept
pivot lies within 1% of theirs; one order of the rows passed (8 spline columns, p = 12), the
other not (7, with S1 16 at 1.04 times its bound and S1 37; p = 11, where AICC's n - p - 2
is 0 and the criterion is missing).

9701075 (the road relation), after S1 enters at step 4 beside x1, x2 and the 152 EFFECT-
coded columns of m1 without an intercept: x1 lies in the span of the degree-8 spline but for
the rounding of the basis values. Removing it retakes S1 10; the rank stays 164 and the
exact error SS rises by 1.3e-12 of itself, against the 1e-12 (FUZZ) within which SL counts a
removal that keeps the rank as one that changes nothing (p = 1); the error SS of each fit
carries some n u y'y of rounding, 2.4e-12 of it. One road's trial fell within FUZZ (x1 left,
an idle step), the other's not (x1 stayed; the criterion is missing).

Prints, for each, the deciding column's exact pivot over its diagonal and over 64 u Q, the
scaled condition (largest over smallest singular value of the centred columns scaled to
unit length) of each run's columns, and the criteria of both choices. Run from the
repository root: /usr/bin/python3 scripts/trace_rank_partings.py [path to qrx]"""
import os
import shutil
import sys
import tempfile

import mpmath as mp
import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
from oracle_lib import check, gen, runqrx  # noqa: E402

mp.mp.dps = 80
U = mp.mpf(2) ** -53


def design(seed, scenario, qrx, group=None):
    """The case's rows as the fit reads them (check.Data) with its design columns named."""
    case = gen.make_case(seed, scenario)
    work = tempfile.mkdtemp(prefix="trace-%d-" % seed)
    try:
        _, rec, err = runqrx.run_program(qrx, work, case)
        out = rec["steps"][0]["output"]
        rows = None
        if case.by:
            values = list(dict.fromkeys(case.columns[case.by]))
            rows = np.array(case.columns[case.by]) == values[group]
            out = check.by_groups(out)[group]
        d = check.Data(case, work, rec, rows)
        d.map_names(check.find(out, "ParameterNames")[-1])
        return d
    finally:
        shutil.rmtree(work, ignore_errors=True)


class Sums:
    """The cross products of the named columns and y (last), about the weighted means where
    the model has an intercept, with the sizes of their terms."""

    def __init__(self, d, names):
        self.names = names
        X = np.column_stack([d.D[:, d.col_of[nm]] for nm in names] + [d.y])
        self.p = X.shape[1]
        cols = [[mp.mpf(float(v)) for v in X[:, j]] for j in range(self.p)]
        W = [mp.mpf(float(v)) for v in d.wf]
        self.n, self.noint = mp.fsum(mp.mpf(float(f)) for f in d.freq), d.noint
        a11 = mp.fsum(W)
        a1 = [mp.fsum(w * v for w, v in zip(W, c)) for c in cols]
        self.C, self.S = mp.matrix(self.p, self.p), mp.matrix(self.p, self.p)
        for i in range(self.p):
            wi = [w * v for w, v in zip(W, cols[i])]
            for l in range(i + 1):
                raw = mp.fsum(a * b for a, b in zip(wi, cols[l]))
                mean = 0 if d.noint else a1[i] * a1[l] / a11
                self.C[i, l] = self.C[l, i] = raw - mean
                self.S[i, l] = self.S[l, i] = abs(raw) + abs(mean)

    def sweep(self, M, k):
        piv, rk = M[k, k], [M[k, j] for j in range(self.p)]
        for i in range(self.p):
            if i != k and M[i, k] != 0:
                f = M[i, k] / piv
                for j in range(self.p):
                    if j != k:
                        M[i, j] -= f * rk[j]
        for j in range(self.p):
            if j != k:
                M[k, j] = M[j, k] = rk[j] / piv
        M[k, k] = -1 / piv

    def judge(self, taken_names=None):
        """Each column in turn against the columns taken before it: {name: (pivot over the
        diagonal, pivot over 64 u Q)}, the columns taken (by the exact rule where
        `taken_names` is None) and the error SS of their fit."""
        M, taken, out = self.C.copy(), [], {}
        for k, name in enumerate(self.names):
            d, piv = self.C[k, k], M[k, k]
            at = [k] + taken
            v = [mp.mpf(1)] + [abs(M[i, k]) for i in taken]
            Q = mp.fsum(v[i] * v[l] * self.S[at[i], at[l]]
                        for i in range(len(at)) for l in range(len(at)))
            out[name] = (piv / d if d > 0 else mp.mpf(0), piv / (64 * U * Q) if Q > 0 else 0)
            take = (d > 0 and piv > max(mp.mpf("1e-8") * d, 64 * U * Q)
                    and piv >= mp.mpf(check.TINY_PIVOT)) if taken_names is None \
                else name in taken_names
            if take:
                taken.append(k)
                self.sweep(M, k)
        return out, [self.names[k] for k in taken], M[self.p - 1, self.p - 1]

    def sse(self, names):
        M = self.C.copy()
        for nm in names:
            self.sweep(M, self.names.index(nm))
        return M[self.p - 1, self.p - 1]

    def condition(self, names):
        """Largest over smallest singular value of the columns scaled to unit length."""
        idx = [self.names.index(nm) for nm in names]
        R = mp.matrix(len(idx), len(idx))
        for a, i in enumerate(idx):
            for b, l in enumerate(idx):
                R[a, b] = self.C[i, l] / mp.sqrt(self.C[i, i] * self.C[l, l])
        e = mp.eigsy(R, eigvals_only=True)
        return mp.sqrt(max(e) / min(e))


def spline_names(d):
    return sorted((k for k in d.col_of if k.startswith("S1")), key=lambda k: d.col_of[k])


def trace_9700683(qrx):
    d = design(9700683, None, qrx)
    names = ["x1", "x2", "x3"] + spline_names(d)
    s = Sums(d, names)
    judged, exact, _ = s.judge()
    base = ["x1", "x2", "x3", "S1 5", "S1 6", "S1 7", "S1 12", "S1 14", "S1 20", "S1 30",
            "S1 32"]
    runs = {"S1 35 taken": base + ["S1 35", "S1 36", "S1 38", "S1 39", "S1 45", "S1 56"],
            "S1 35 refused": base + ["S1 36", "S1 39", "S1 41"]}
    print("9700683: n %s (frequencies), full model by the exact rule: %s" % (
        mp.nstr(s.n, 6), " ".join(exact[3:])))
    for nm in ("S1 20", "S1 29", "S1 35", "S1 40"):
        print("  %s: pivot/diagonal %s, pivot/64uQ %s" % (
            nm, mp.nstr(judged[nm][0], 4), mp.nstr(judged[nm][1], 6)))
    steps = {1: ["x1", "x2"], 2: ["x1", "x2", "x3"]}
    sse = {k: s.sse(v) for k, v in steps.items()}
    for label, cols in runs.items():
        rank = len(cols) + 1
        full = s.sse(cols)
        s2 = full / (s.n - rank)
        cp = {k: sse[k] / s2 - s.n + 2 * (len(v) + 1) for k, v in steps.items()}
        print("  %s: exact rule %s; rank %d, error SS %s, variance %s, scaled condition %s" % (
            label, "agrees" if cols == exact else "parts", rank, mp.nstr(full, 12),
            mp.nstr(s2, 10), mp.nstr(s.condition(cols), 4)))
        print("    C(p) step 1 (x2) %s, step 2 (x3) %s: x3 %s" % (
            mp.nstr(cp[1], 10), mp.nstr(cp[2], 10),
            "enters" if cp[2] < cp[1] else "stops the search"))


def trace_9710148(qrx):
    d = design(9710148, "widespline", qrx, group=0)
    names = ["x1", "x2", "c1"] + spline_names(d)
    s = Sums(d, names)
    n = s.n
    judged, exact, _ = s.judge()
    runs = {"S1 14 refused": [1, 2, 5, 7, 9, 16, 37], "S1 14 taken": [1, 2, 5, 7, 9, 14, 29, 36]}
    print("9710148 BY group 1: n %s, S1's trial after x1 x2 c1 by the exact rule: %s" % (
        mp.nstr(n, 3), " ".join(exact[3:])))
    for nm in ("S1 14", "S1 16", "S1 37"):
        print("  %s: pivot/diagonal %s, pivot/64uQ %s" % (
            nm, mp.nstr(judged[nm][0], 6), mp.nstr(judged[nm][1], 6)))
    step3 = s.sse(["x1", "x2", "c1"])
    aicc = lambda sse, p: (mp.mpf("nan") if n == p + 2 else
                           n * (mp.log(sse / n) + 1 + 2 * (p + 1) / (n - p - 2)))
    print("  step 3 (c1): error SS %s, AICC %s" % (mp.nstr(step3, 10), mp.nstr(aicc(step3, 4), 10)))
    for label, cols in runs.items():
        taken = ["x1", "x2", "c1"] + ["S1 %d" % j for j in cols]
        p = len(taken) + 1
        _, _, sse = s.judge(set(taken))
        print("  %s: exact rule %s; p %d, error SS %s, AICC %s, scaled condition %s" % (
            label, "agrees" if taken == exact else "parts", p, mp.nstr(sse, 10),
            mp.nstr(aicc(sse, p), 10), mp.nstr(s.condition(taken), 4)))


def trace_9701075(qrx):
    d = design(9701075, None, qrx)
    m1 = sorted((k for k in d.col_of if k.startswith("m1")), key=lambda k: d.col_of[k])
    spline = spline_names(d)
    s = Sums(d, ["x1"] + m1 + ["x2"] + spline)
    judged, exact, with_x1 = s.judge()
    keep = m1 + ["x2"] + [nm for nm in spline if nm != "S1 11"]
    without = s.sse(keep)
    print("9701075: step 4 by the exact rule refuses %s; S1 12 pivot/64uQ %s" % (
        " ".join(nm for nm in spline if nm not in exact), mp.nstr(judged["S1 12"][1], 6)))
    print("  error SS with x1 %s (rank %d), without x1 and with S1 10 %s (rank %d): %s of "
          "itself apart; n u y'y over the error SS %s" % (
              mp.nstr(with_x1, 17), len(exact), mp.nstr(without, 17), len(keep),
              mp.nstr((without - with_x1) / with_x1, 4),
              mp.nstr(s.n * U * s.C[s.p - 1, s.p - 1] / with_x1, 3)))


def main():
    qrx = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release", "app",
                                                             "qrx")
    trace_9700683(os.path.abspath(qrx))
    trace_9710148(os.path.abspath(qrx))
    trace_9701075(os.path.abspath(qrx))


if __name__ == "__main__":
    main()
