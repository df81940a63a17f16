#!/usr/bin/python3
"""Reference error sums of squares of the group LASSO path on a nearly singular design
(tests/data/grouplasso/nearcopy.csv), written to tests/data/grouplasso/nearcopy_sse.csv.

The design is the intercept, x1-x5, c1 (x4 plus noise of relative size 1e-6) and the powers
v1^1..v1^11 of a polynomial effect; every effect is a group of one column, so at penalty value
v the group LASSO is the LASSO
    min 0.5 ||y - X b||^2 + v * lmax * sum_j |b_j|,   lmax = max_j |x_j'y|,
on the columns centred and scaled by their standard deviation, the response centred. Its
fitted values, and so its error sum of squares, are unique even where the coefficients are
nearly not. The path is v = 0.9^t, t = 1..100, each point the exact solution on the LASSO's
piecewise linear path, followed in 60-digit arithmetic (mpmath) and checked against the
optimality conditions. nearcopy_sse.csv: step, v, SSE.
"""
import csv
import os

import mpmath
import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests", "data", "grouplasso")
RHO, STEPS = 0.9, 100


def design():
    with open(os.path.join(DATA, "nearcopy.csv")) as f:
        rows = list(csv.DictReader(f))
    col = lambda k: np.array([float(r[k]) for r in rows])
    v1 = col("v1")
    raw = np.column_stack([col(k) for k in ["x1", "x2", "x3", "x4", "x5", "c1"]] +
                          [v1 ** k for k in range(1, 12)])
    X = (raw - raw.mean(axis=0)) / raw.std(axis=0, ddof=1)
    y = col("y")
    return X, y - y.mean()


class Path:
    """The LASSO path from lmax down: the active set changes where an outside column's
    |x_j'r| reaches the penalty (it enters with that sign) or an active coefficient reaches 0
    (it leaves); between those events b_A = G_A^-1 (X_A'y - tau s_A), G_A = X_A'X_A."""

    def __init__(self, X, yc):
        self.X, self.y = mpmath.matrix(X.tolist()), mpmath.matrix(yc.tolist())
        self.p = X.shape[1]
        self.G, self.c0 = self.X.T * self.X, self.X.T * self.y
        first = max(range(self.p), key=lambda j: abs(self.c0[j]))
        self.lam = abs(self.c0[first])
        self.sign = {first: mpmath.sign(self.c0[first])}

    def solution(self, tau):
        act = list(self.sign)
        GA = mpmath.matrix([[self.G[i, j] for j in act] for i in act])
        bA = mpmath.lu_solve(GA, mpmath.matrix([self.c0[j] - tau * self.sign[j] for j in act]))
        b = mpmath.matrix(self.p, 1)
        for k, j in enumerate(act):
            b[j] = bA[k]
        return b

    def next_event(self):
        """The largest penalty below the current one where the active set changes."""
        b = self.solution(self.lam)
        w = self.solution(self.lam - 1) - b  # b's change for a unit fall of the penalty
        corr, slope = self.c0 - self.G * b, -(self.G * w)
        below = self.lam * (1 - mpmath.mpf(10) ** -40)  # past the event just taken
        events = [(mpmath.mpf(0), -1, 0)]
        for j in range(self.p):
            if j in self.sign:
                if w[j] * b[j] < 0:
                    events.append((self.lam + b[j] / w[j], j, 0))
                continue
            for sj in (1, -1):  # corr_j + (lam - t) slope_j = sj t
                events.append(((corr[j] + self.lam * slope[j]) / (sj + slope[j]), j, sj))
        return max(e for e in events if e[0] < below)

    def at(self, tau):
        """The solution at tau below the current penalty, checked against the optimality
        conditions."""
        while True:
            t, j, sj = self.next_event()
            if t <= tau:
                break
            self.lam = t
            if sj == 0:
                del self.sign[j]
            else:
                self.sign[j] = sj
        b = self.solution(tau)
        r = self.y - self.X * b
        corr = self.X.T * r
        for j in range(self.p):
            if j in self.sign:
                assert abs(corr[j] - tau * self.sign[j]) < 1e-30 and b[j] * self.sign[j] > 0
            else:
                assert abs(corr[j]) <= tau, ("optimality", tau, j)
        return float((r.T * r)[0])


def main():
    mpmath.mp.dps = 60
    X, yc = design()
    path = Path(X, yc)
    lmax = path.lam
    with open(os.path.join(DATA, "nearcopy_sse.csv"), "w") as f:
        f.write("step,v,sse\n")
        for t in range(1, STEPS + 1):
            f.write("%d,%r,%r\n" % (t, RHO ** t, path.at(mpmath.mpf(RHO) ** t * lmax)))


if __name__ == "__main__":
    main()
