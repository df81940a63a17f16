#!/usr/bin/python3
"""The rank rule's rounding bound of a refused column, in exact arithmetic.

For an oracle program (drawn again from its seed, or a case the oracle kept), prints for each
refused column whose exact pivot against every column the model took is at least 1e-7 of its
diagonal: that pivot, and the bound 64 u Q that the rule refuses it under, each over the
diagonal, Q = |v|' S |v| with v = (1, -b), b the column's exact coefficients on the taken
columns. S holds the sizes of the terms of the sums about the means as the fit forms them:
|a_il| + |a_i1 a_l1| / a_11 for the raw sums of the columns it keeps unshifted (a B-spline
basis of more than 10 columns), |a_il| about the means for the others (shifted to their means,
their a_i1 vanish). Q over the sums about the means alone is printed beside it: the bound a fit
that shifted every column would have. Every sum is formed from the rows' doubles as fractions.

    scripts/pivotbound.py --kept /tmp/keep/seed-612042 --qrx build/rel/app/qrx
"""
import os
import sys
from fractions import Fraction

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import refusedpivots  # noqa: E402
from oracle_lib import check  # noqa: E402

ROUNDING = 64 * Fraction(1, 2 ** 53)


def exact_sums(X, wf):
    """The raw weighted cross products R, the columns' weighted sums s and the weight sum W,
    as fractions."""
    cols = [[Fraction(float(v)) for v in X[:, j]] for j in range(X.shape[1])]
    w = [Fraction(float(v)) for v in wf]
    k = len(cols)
    R = [[sum(a * b * c for a, b, c in zip(w, cols[i], cols[j])) for j in range(k)]
         for i in range(k)]
    s = [sum(a * b for a, b in zip(w, c)) for c in cols]
    return R, s, sum(w)


def coefficients(C, S, k):
    """The exact coefficients of column k on the columns S in the sums C, by Gauss-Jordan
    elimination (the columns taken are independent)."""
    m = len(S)
    A = [[C[i][j] for j in S] + [C[i][k]] for i in S]
    for i in range(m):
        p = next(r for r in range(i, m) if A[r][i] != 0)
        A[i], A[p] = A[p], A[i]
        for r in range(m):
            if r != i and A[r][i] != 0:
                f = A[r][i] / A[i][i]
                A[r] = [x - f * y for x, y in zip(A[r], A[i])]
    return [A[i][m] / A[i][i] for i in range(m)]


def form(size, at, v):
    return sum(abs(v[a]) * abs(v[b]) * size(at[a], at[b])
               for a in range(len(at)) for b in range(len(at)))


class Report(check.Checker):
    def rank_bands(self, d, where, taken, refused):
        nt, k = len(taken), len(taken) + len(refused)
        if len(refused) == 0 or d.noint or d.D.shape[0] * k * k > check.EXACT_LIMIT:
            return super().rank_bands(d, where, taken, refused)
        allp = taken + refused
        X = d.D[:, [c for _, c, _ in allp]]
        raw = check.unshifted_columns(self.case, allp)
        R, s, W = exact_sums(X, d.wf)
        C = [[R[i][j] - s[i] * s[j] / W for j in range(k)] for i in range(k)]

        def judged(i, j):
            if i in raw and j in raw:
                return abs(R[i][j]) + abs(s[i] * s[j]) / W
            return abs(C[i][j])

        for j in range(nt, k):
            S = list(range(nt))
            b = coefficients(C, S, j)
            pivot = C[j][j] - sum(bi * C[i][j] for bi, i in zip(b, S))
            diag = C[j][j]
            if diag <= 0 or pivot < check.ACCEPT * diag:
                continue
            at, v = [j] + S, [Fraction(1)] + [-x for x in b]
            q = form(judged, at, v)
            qc = form(lambda a, c: abs(C[a][c]), at, v)
            print("%s %s: pivot %.4g of its diagonal; 64 u Q %.4g of it (Q %.4g of it%s); "
                  "over the sums about the means alone %.4g" % (
                      where, refused[j - nt][0], pivot / diag, ROUNDING * q / diag, q / diag,
                      ", raw sums" if j in raw else "", ROUNDING * qc / diag))
        return super().rank_bands(d, where, taken, refused)


if __name__ == "__main__":
    refusedpivots.main(report=Report, description=__doc__)
