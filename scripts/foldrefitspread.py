#!/usr/bin/python3
"""How far each cross-validation fold's held-out error is fixed by the arithmetic that forms it.

For an oracle program (drawn again from its seed) with a CV method, prints per fold of the
selected model the held-out error of the exact refit (the normal equations of the rows'
doubles solved at 80 digits, mpmath), of a Householder QR refit from the rows in double (the
oracle's reference), of the fold's centred cross products rounded once to doubles and solved
by Cholesky in double (the best any sums in double can give), and the range the oracle allows
for sums in double (ref.heldout_spread). A fold whose rounded sums already miss the exact
error by far more than the total's tolerance is one that no engine working from cross
products in double can give; only a refit from the rows can.

    scripts/foldrefitspread.py --seed 1110041 --scenario cvforward --qrx build/rel/app/qrx
"""
import argparse
import math
import os
import shutil
import sys
import tempfile
from fractions import Fraction

import mpmath
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from oracle_lib import check, gen, ref, runqrx  # noqa: E402
from sumspivotspread import selected_columns  # noqa: E402

mpmath.mp.dps = 80


def mp_value(v):
    """A value of the rows at the working precision: a double as it stands, a fraction (an
    exact design value, held as an object) to the precision."""
    if isinstance(v, Fraction):
        return mpmath.mpf(v.numerator) / v.denominator
    return mpmath.mpf(float(v))


def exact_error(A, y, w, tr, out):
    """The held-out error of the exact least-squares refit on the rows tr (A holds the
    intercept column where there is one), from the rows' doubles (or fractions) at the working
    precision, 80 digits unless the caller sets more."""
    p = A.shape[1]
    G = mpmath.matrix(p, p)
    c = mpmath.matrix(p, 1)
    for i in np.flatnonzero(tr):
        row = [mp_value(v) for v in A[i]]
        wi, yi = mp_value(w[i]), mp_value(y[i])
        for a in range(p):
            c[a] += wi * row[a] * yi
            for b in range(p):
                G[a, b] += wi * row[a] * row[b]
    beta = mpmath.lu_solve(G, c)
    return exact_heldout(A, y, w, out, [beta[j] for j in range(p)])


def exact_heldout(A, y, w, out, beta):
    total = mpmath.mpf(0)
    for i in np.flatnonzero(out):
        r = mp_value(y[i]) - mpmath.fsum(mp_value(A[i, j]) * beta[j] for j in range(A.shape[1]))
        total += mp_value(w[i]) * r * r
    return float(total)


def rounded_sums_error(X, y, w, tr, out, noint):
    """The held-out error from the fold's cross products about its exact weighted means,
    each rounded once to a double, solved by Cholesky in double."""
    rows = np.flatnonzero(tr)
    wt = [mpmath.mpf(float(w[i])) for i in rows]
    V = [[mpmath.mpf(float(v)) for v in X[i]] + [mpmath.mpf(float(y[i]))] for i in rows]
    q = X.shape[1] + 1
    sw = mpmath.fsum(wt)
    mean = [mpmath.mpf(0) if noint else mpmath.fsum(a * v[j] for a, v in zip(wt, V)) / sw
            for j in range(q)]
    C = np.array([[float(mpmath.fsum(a * (v[i] - mean[i]) * (v[j] - mean[j])
                                     for a, v in zip(wt, V))) for j in range(q)]
                  for i in range(q)])
    L = np.linalg.cholesky(C[:-1, :-1])
    beta = [mpmath.mpf(float(b)) for b in np.linalg.solve(L.T, np.linalg.solve(L, C[:-1, -1]))]
    total = mpmath.mpf(0)
    for i in np.flatnonzero(out):
        r = (mpmath.mpf(float(y[i])) - mean[-1]) - mpmath.fsum(
            b * (mpmath.mpf(float(X[i, j])) - mean[j]) for j, b in enumerate(beta))
        total += mpmath.mpf(float(w[i])) * r * r
    return float(total)


def report(X, y, w, folds, noint):
    A = X if noint else np.column_stack([np.ones(len(y)), X])
    sums = np.zeros(3)
    print("fold   exact refit            QR (rel. error)      rounded sums (rel. error)  "
          "oracle's range")
    for k in sorted(set(folds.tolist())):
        out = folds == k
        tr = ~out
        exact = exact_error(A, y, w, tr, out)
        f = ref.fit(X[tr], y[tr], w[tr], noint)
        r = f.residual(X[out], y[out])
        qr = float(np.sum(w[out] * r * r))
        sums_ = rounded_sums_error(X, y, w, tr, out, noint)
        d = f.heldout_spread(X[out], y[out], w[out])
        low, high = max(0.0, math.sqrt(qr) - d) ** 2, (math.sqrt(qr) + d) ** 2
        sums += (exact, qr, sums_)
        print("%4d  %.15g  %.10g (%.1e)  %.10g (%.1e)  %.4g to %.4g" % (
            k, exact, qr, abs(qr - exact) / exact, sums_, abs(sums_ - exact) / exact, low, high))
    print("total %.15g  %.10g (%.1e)  %.10g (%.1e)" % (
        sums[0], sums[1], abs(sums[1] - sums[0]) / sums[0], sums[2],
        abs(sums[2] - sums[0]) / sums[0]))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("--scenario", default=None)
    ap.add_argument("--qrx", required=True)
    a = ap.parse_args(argv)
    case = gen.make_case(a.seed, a.scenario)
    if case.foldm is None:
        sys.exit("the program of seed %d has no cross validation" % a.seed)
    work = tempfile.mkdtemp(prefix="foldspread-")
    try:
        _, record, err = runqrx.run_program(os.path.abspath(a.qrx), work, case)
        if record is None:
            sys.exit("qrx wrote no record: " + err[-300:])
        d, taken, _ = selected_columns(case, work, record)
        folds = check.Checker(case, work, record).folds(d)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if folds is None:
        sys.exit("the folds of seed %d cannot be told apart from the record" % a.seed)
    X = d.D[:, [c for _, c in taken]]
    print("selected: %s" % " ".join(name for name, _ in taken))
    report(X, d.y, d.wf, folds, d.noint)


if __name__ == "__main__":
    main()
