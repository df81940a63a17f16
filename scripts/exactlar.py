#!/usr/bin/python3
"""Least-angle regression (LAR) and LASSO knots computed in 80-digit arithmetic (mpmath).

The textbook equiangular path: the columns are centred about their (frequency-)weighted
means and scaled to unit weighted norm, the response is centred; at each knot the active
columns, signed by their correlations with the residual, move along the direction that
keeps their correlations tied, until an inactive column's correlation catches up (or,
with every column active, to the least-squares fit). Knot k holds the coefficients after
k such moves, on the data's own scale, so knot k is what a run prints as Step k. The LASSO
path (--lasso) ends a move also where an active coefficient reaches zero, and drops it.

The data are read as the doubles they hold and carried exactly into 80 digits, so the
centring of a column far from 0 loses nothing that matters to the answer.

Used by the oracle (scripts/oracle_lib) where scikit-learn's lars_path is unreliable, and
as a command:
  /usr/bin/python3 scripts/exactlar.py DATA.csv RESPONSE X1,X2,... [--freq F] [--weight W]
      [--by B] [--lasso]
prints each BY group's knots, one line per knot.
"""
import argparse
import csv

import mpmath

DIGITS = 80


def _solve(G, r):
    """G^-1 r by Gauss-Jordan with partial pivoting in mpmath."""
    n = len(G)
    M = [list(G[i]) + [r[i]] for i in range(n)]
    for c in range(n):
        p = max(range(c, n), key=lambda i: abs(M[i][c]))
        M[c], M[p] = M[p], M[c]
        piv = M[c][c]
        if piv == 0:
            raise ZeroDivisionError("active columns are linearly dependent")
        for i in range(n):
            if i != c and M[i][c] != 0:
                f = M[i][c] / piv
                M[i] = [a - f * b for a, b in zip(M[i], M[c])]
    return [M[i][n] / M[i][i] for i in range(n)]


def standardize(X, y, w):
    """Centres and scales the columns of X (lists of floats, one per column) and y about
    their w-weighted means; returns the weighted columns, response, means and norms."""
    sw = [mpmath.sqrt(mpmath.mpf(v)) for v in w]
    tw = mpmath.fsum(mpmath.mpf(v) for v in w)
    cols, means, norms = [], [], []
    for x in X:
        m = mpmath.fsum(mpmath.mpf(v) * mpmath.mpf(f) for v, f in zip(x, w)) / tw
        a = [(mpmath.mpf(v) - m) * s for v, s in zip(x, sw)]
        nrm = mpmath.sqrt(mpmath.fsum(t * t for t in a))
        cols.append([t / nrm for t in a])
        means.append(m)
        norms.append(nrm)
    ym = mpmath.fsum(mpmath.mpf(v) * mpmath.mpf(f) for v, f in zip(y, w)) / tw
    b = [(mpmath.mpf(v) - ym) * s for v, s in zip(y, sw)]
    return cols, b, means, norms, ym


def _dot(a, b):
    return mpmath.fsum(x * y for x, y in zip(a, b))


def _direction(G, active, signs):
    """Weights w of the signed active columns whose sum u is the equiangular unit vector,
    and A_A, the correlation of u with each of them."""
    S = [[signs[i] * signs[j] * G[i][j] for j in active] for i in active]
    g1 = _solve(S, [mpmath.mpf(1)] * len(active))
    AA = 1 / mpmath.sqrt(mpmath.fsum(g1))
    return [AA * g for g in g1], AA


def _longest_step(C, corr, a, AA, active, floor):
    """How far the equiangular direction goes before an inactive column's correlation
    catches up with the active ones' (C / A_A, the least-squares fit, if none does), and
    that column (None if none)."""
    gamma, enter = C / AA, None
    for j in range(len(corr)):
        if j in active:
            continue
        for g in ((C - corr[j]) / (AA - a[j]), (C + corr[j]) / (AA + a[j])):
            if floor < g < gamma:
                gamma, enter = g, j
    return gamma, enter


def lar_knots(cols, b, lasso=False):
    """Standardized coefficients at every knot of the LAR path (knots[0] is all zeros) and
    the active columns' absolute correlation with the residual at each knot (0 at the
    last). With lasso, an active coefficient that reaches zero ends the step there and
    leaves the active set (the LASSO path). Works on the cross products alone: the
    correlations are X'b - G beta."""
    p = len(cols)
    G = [[_dot(cols[i], cols[j]) for j in range(p)] for i in range(p)]
    xb = [_dot(c, b) for c in cols]
    beta = [mpmath.mpf(0)] * p
    knots, tied = [list(beta)], []
    corr = list(xb)
    active = [max(range(p), key=lambda j: abs(corr[j]))]
    # steps shorter than this are rounding at 80 digits: a column just dropped is tied
    floor = abs(corr[active[0]]) * mpmath.mpf(10) ** (20 - DIGITS)
    while len(knots) <= 10 * p:
        C = max(abs(corr[j]) for j in active)
        tied.append(C)
        signs = {j: mpmath.sign(corr[j]) for j in active}
        wv, AA = _direction(G, active, signs)
        a = [mpmath.fsum(G[j][k] * signs[k] * wv[i] for i, k in enumerate(active)) for j in range(p)]
        gamma, enter = _longest_step(C, corr, a, AA, active, floor)
        drop = None
        if lasso:
            for i, j in enumerate(active):
                g = -beta[j] / (signs[j] * wv[i])
                if floor < g < gamma:
                    gamma, drop = g, j
        for i, j in enumerate(active):
            beta[j] += gamma * signs[j] * wv[i]
        if drop is not None:
            beta[drop] = mpmath.mpf(0)
            active.remove(drop)
        corr = [xb[j] - mpmath.fsum(G[j][k] * beta[k] for k in range(p)) for j in range(p)]
        knots.append(list(beta))
        if drop is None and enter is None:
            return knots, tied + [mpmath.mpf(0)]
        if drop is None:
            active.append(enter)
    raise RuntimeError("the path takes more than %d knots" % (10 * p))


def path(X, y, w, lasso=False):
    """LAR (or LASSO) knots on the data's scale: a list of (intercept, [coefficients]) with
    the correlation at each knot (on the scale of the centred, weighted response)."""
    with mpmath.workdps(DIGITS):
        cols, b, means, norms, ym = standardize(X, y, w)
        knots, tied = lar_knots(cols, b, lasso)
        out = []
        for k in knots:
            coef = [k[j] / norms[j] for j in range(len(k))]
            icpt = ym - mpmath.fsum(c * m for c, m in zip(coef, means))
            out.append((icpt, coef))
        return out, tied


def read(path_, response, names, freq, by, weight=None):
    """Rows of a CSV file grouped by the BY column: {level: (X columns, y, weights)}.
    A frequency keeps its integer part, and multiplies the weight; rows whose product is
    not positive, or that miss a value, are left out."""
    groups = {}
    with open(path_) as fh:
        for r in csv.DictReader(fh):
            if any(r[v] == "" for v in names + [response] + [c for c in (freq, weight) if c]):
                continue    # a row missing any value the fit uses is left out
            f = float(r[freq]) if freq else 1.0
            f = float(int(f)) if f == f else 0.0
            f *= float(r[weight]) if weight else 1.0
            if not f > 0:
                continue
            key = r[by] if by else ""
            X, y, w = groups.setdefault(key, ([[] for _ in names], [], []))
            for j, nm in enumerate(names):
                X[j].append(float(r[nm]))
            y.append(float(r[response]))
            w.append(f)
    return groups


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("data")
    ap.add_argument("response")
    ap.add_argument("effects")
    ap.add_argument("--freq")
    ap.add_argument("--by")
    ap.add_argument("--weight")
    ap.add_argument("--lasso", action="store_true", help="the LASSO path (drops at zero)")
    a = ap.parse_args()
    names = a.effects.split(",")
    for key, (X, y, w) in sorted(read(a.data, a.response, names, a.freq, a.by, a.weight).items()):
        print("BY %s" % key if a.by else "path")
        for k, (icpt, coef) in enumerate(path(X, y, w, a.lasso)[0]):
            print("Step%d Intercept %s %s" % (k, mpmath.nstr(icpt, 17),
                  " ".join("%s %s" % (nm, mpmath.nstr(c, 17)) for nm, c in zip(names, coef))))


if __name__ == "__main__":
    main()
