#!/usr/bin/python3
"""The CV PRESS of the model that BACKWARD leaves when it removes the many-level effect m1 in
oracle seed 7400142 (the manylevels scenario), in exact arithmetic, and which columns of its
spline the rank rule takes.

The case is drawn again from the oracle's generator: 459 rows, weights w, the model
y = x1 x2 x3 x4 m1 s1 with m1 an EFFECT-coded CLASS of 218 levels and s1 = spline(x1 /
degree=10), a B-spline basis of 14 columns on 3 equally spaced interior knots whose outer
knots go on at the same spacing; CV PRESS over SPLIT(7) (row i in fold i mod 7 + 1). The basis
is evaluated here in rational arithmetic (Cox-de Boor) on the knots as doubles place them:
it is no output of the engine.

Without m1, the spline and x1 beside the intercept leave the columns nearly dependent. The
rule is walked in list order (x1 .. x4, S1_1 .. S1_14) on the exact sums of all rows: each
column's exact pivot on the columns taken before it and the rule's rounding bound 64 u Q of
its elimination (pivotbound.py: Q = |v|'S|v|, v = (1, -b), S the sizes of the sums' terms,
raw sums for a B-spline of more than 10 columns, which the fit keeps unshifted), each over the
column's diagonal about the weighted mean; a column is taken above both the floor (1e-8) and
its bound. It takes set E, S1_1 .. S1_10 and S1_13: S1_10 at 1.125e-8 (in the band, just above
the floor), S1_14 refused, its pivot 1.15e-5 under its bound 7.5e-5 on those columns. With
S1_10 refused instead (as sound a choice), it takes set O, S1_1 .. S1_9, S1_11, S1_13 and
S1_14, whose bound falls to 7.0e-6 on those columns. E is what the engine's step 1 holds; O
is the set the oracle's reference took for the removal candidate m1 (the columns of step 0
with the ones it refused tried after them).

Each set's CV PRESS is summed from the held-out weighted squared errors of the exact
least-squares refits of its columns on each fold's training rows (mpmath at 200 digits,
foldrefitspread.exact_error), on the basis held exactly and rounded once to doubles. Beside
each fold: the least exact pivot of the set's columns in list order on its training rows
(none below 1.29e-9 of its diagonal: no fold leaves a column undetermined), and the least
pivot over its bound (below 1 where a fold's sums in double cannot resolve a column the model
took, S1_13 of E in folds 2 and 6: the engine refits such a fold from its rows with the
model's columns, so its held-out error is still E's). E gives 56453.012 (the engine prints
56453.0086 from its own evaluation of the basis, within 1e-13 of each column's largest value),
O 458256338, fold 2's held-out rows lying where S1_14 is large. The CV PRESS of the model
without m1 hangs on the rule's choice in the band, not on the data: a candidate's value is
judged only by columns the rule must take, or by those its step took.

Run from the repository root: /usr/bin/python3 scripts/check_levels_removal_cv.py
"""
import os
import sys
from fractions import Fraction

import mpmath
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import foldrefitspread  # noqa: E402
from oracle_lib import gen  # noqa: E402
from pivotbound import ROUNDING, coefficients, exact_sums, form  # noqa: E402

SEED, SCENARIO, FOLDS, DEGREE, INTERIOR = 7400142, "manylevels", 7, 10, 3
NAMES = ["x1", "x2", "x3", "x4"] + ["S1_%d" % i for i in range(1, 15)]
SPLINE = set(range(4, 18))       # the basis, summed raw (more than 10 columns)
FLOOR, REFUSE, ACCEPT = 1e-8, 1e-9, 1e-7


def knots(lo, hi):
    """The knot list as the fit places it in doubles: the interior knots equally spaced, the
    outer ones on at the same spacing, the data's ends at the boundary places."""
    step = (hi - lo) / (INTERIOR + 1)
    inner, x = [], lo
    for _ in range(INTERIOR):
        x += step
        inner.append(x)
    lower = [lo - (DEGREE - 1 - j) * step for j in range(DEGREE)]
    lower[-1] = lo
    upper = []
    for _ in range(DEGREE):
        x += step
        upper.append(x)
    upper[0] = hi
    t = lower + inner + upper
    # one knot more at each end: the outermost never enter the values inside the boundary
    return [Fraction(t[0] - 1.0)] + [Fraction(v) for v in t] + [Fraction(t[-1] + 1.0)]


def basis_row(t, x):
    """The B-spline basis of degree DEGREE on the knots t at x, exactly (Cox-de Boor, in the
    triangular form): the DEGREE + 1 functions not zero on the knot interval of x, the last
    interval closed at its right end."""
    x = Fraction(x)
    count = len(t) - DEGREE - 1
    k = min(max(i for i in range(len(t) - 1) if t[i] <= x < t[i + 1]), count - 1)
    left, right = [Fraction(0)] * (DEGREE + 1), [Fraction(0)] * (DEGREE + 1)
    b = [Fraction(1)] + [Fraction(0)] * DEGREE
    for j in range(1, DEGREE + 1):
        left[j], right[j] = x - t[k + 1 - j], t[k + j] - x
        saved = Fraction(0)
        for r in range(j):
            temp = b[r] / (right[r + 1] + left[j - r])
            b[r] = saved + right[r + 1] * temp
            saved = left[j - r] * temp
        b[j] = saved
    row = [Fraction(0)] * count
    for r in range(DEGREE + 1):
        row[k - DEGREE + r] = b[r]
    return row


def design():
    """The columns x1 .. x4 and the basis, once as exact values (the basis as fractions,
    an object array) and once rounded to doubles; the response and the weights."""
    case = gen.make_case(SEED, SCENARIO)
    xs = [np.array(case.columns[v], float) for v in ("x1", "x2", "x3", "x4")]
    t = knots(float(xs[0].min()), float(xs[0].max()))
    B = [basis_row(t, x) for x in xs[0]]
    exact = np.array([[Fraction(float(v)) for v in row] for row in zip(*xs)], dtype=object)
    exact = np.column_stack([exact, np.array(B, dtype=object)])
    X = np.column_stack(xs + [np.array([[float(v) for v in row] for row in B])])
    return exact, X, np.array(case.columns["y"], float), np.array(case.columns["w"], float)


class Sums:
    """The exact sums of the rows `rows`: raw cross products, column sums, weight sum, and
    the cross products about the weighted means."""

    def __init__(self, X, w, rows):
        self.R, self.s, self.W = exact_sums(X[rows], w[rows])
        k = X.shape[1]
        self.C = [[self.R[i][j] - self.s[i] * self.s[j] / self.W for j in range(k)]
                  for i in range(k)]

    def size(self, i, j):
        if i in SPLINE and j in SPLINE:
            return abs(self.R[i][j]) + abs(self.s[i] * self.s[j]) / self.W
        return abs(self.C[i][j])

    def pivot(self, before, j):
        """Column j's exact pivot on the columns `before` and the bound 64 u Q of its
        elimination, each over its diagonal about the mean."""
        b = coefficients(self.C, before, j) if before else []
        piv = self.C[j][j] - sum(bi * self.C[i][j] for bi, i in zip(b, before))
        q = form(self.size, [j] + before, [Fraction(1)] + [-x for x in b])
        return float(piv / self.C[j][j]), float(ROUNDING * q / self.C[j][j])


def rule(sums, refuse=()):
    """The rank rule in list order on exact sums: each column taken where its pivot on the
    columns taken before it lies above the floor (1e-8 of its diagonal) and above its
    rounding bound, the columns `refuse` refused (a choice in the band). Prints each pivot,
    bound and verdict, marking a pivot in [1e-9, 1e-7] of its diagonal or within a factor of
    two of its bound, where a sound rule may go either way. The columns taken."""
    taken = []
    for j in range(len(NAMES)):
        p, bound = sums.pivot(taken, j)
        take = p > max(FLOOR, bound) and j not in refuse
        open_ = REFUSE <= p < ACCEPT or bound / 2 < p < 2 * bound
        print("  %-6s pivot %.4g  bound %.4g  %s%s" % (NAMES[j], p, bound,
                                                       "taken" if take else "refused",
                                                       "  (open)" if open_ else ""))
        if take:
            taken.append(j)
    return taken


def fold_margins(X, w, tr, cols):
    """The least exact pivot of a set's columns in list order on a fold's training rows,
    over its diagonal, and the least margin of a pivot over its bound there."""
    sums = Sums(X, w, tr)
    got = [sums.pivot(cols[:n], j) for n, j in enumerate(cols)]
    return min(p for p, _ in got), min(p / b for p, b in got)


def cv_press(A, y, w, folds, cols):
    """The exact CV PRESS of the columns cols (A holds the intercept first) and its parts."""
    parts = []
    for k in range(FOLDS):
        tr, out = folds != k, folds == k
        parts.append(foldrefitspread.exact_error(A[:, [0] + [1 + c for c in cols]], y, w, tr,
                                                 out))
    return mpmath.fsum(parts), parts


def main():
    exact, X, y, w = design()
    whole = Sums(X, w, np.ones(len(y), bool))
    print("the rule in list order (all rows):")
    E = rule(whole)
    print("the rule in list order, S1_10 refused in the band (all rows):")
    O = rule(whole, refuse={NAMES.index("S1_10")})
    folds = np.arange(len(y)) % FOLDS
    ones = np.ones((len(y), 1))
    rounded = np.column_stack([ones, X])
    exact = np.column_stack([ones.astype(object), exact])
    mpmath.mp.dps = 200
    for label, cols in (("E", E), ("O", O)):
        print("set %s: %s" % (label, " ".join(NAMES[j] for j in cols)))
        total, parts = cv_press(exact, y, w, folds, cols)
        near, _ = cv_press(rounded, y, w, folds, cols)
        for k, part in enumerate(parts):
            least, margin = fold_margins(X, w, folds != k, cols)
            print("  fold %d: CV part %.12g  least pivot %.3g  least pivot over its bound %.3g"
                  % (k + 1, part, least, margin))
        print("  CV PRESS %.12g (the basis exact), %.12g (the basis rounded to doubles)"
              % (total, near))


if __name__ == "__main__":
    main()
