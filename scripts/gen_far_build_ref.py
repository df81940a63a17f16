#!/usr/bin/python3
"""Forward entry by SBC without an intercept of a response near -4.5e8 with a residual
spread of about 3.6 (tests/data/farcandidates/build.csv: 184 rows the oracle's generator drew
for seed 9604765 of its NOINT scenario; c is 3 on every row and stands in for the intercept,
x1 and x2 near 0). The error SS of c alone, 2397, lies far below the rounding of y'y (about
4e3 of 3.8e19), so only the rows tell each candidate's criterion.

Writes tests/data/farcandidates/buildsteps.csv: at each step the candidate of smallest SBC,
n ln(SSE/n) + p ln(n), among those not yet in, with mpmath's least squares of the columns in
at 60 digits (the values as the doubles of the file hold them); every entry lowers SBC, so
STEPWISE with STOP=NONE takes all three. Run from the repository root:
/usr/bin/python3 scripts/gen_far_build_ref.py"""
import csv

import mpmath

mpmath.mp.dps = 60
DIR = "tests/data/farcandidates"
NAMES = ["c", "x1", "x2"]


def sse(rows, cols):
    """Error SS of the least-squares fit of y on `cols` without an intercept."""
    p = len(cols)
    A = mpmath.matrix(p, p)
    b = mpmath.matrix(p, 1)
    for r in rows:
        for j in range(p):
            b[j] += r[cols[j]] * r["y"]
            for k in range(p):
                A[j, k] += r[cols[j]] * r[cols[k]]
    beta = mpmath.lu_solve(A, b)
    return sum((r["y"] - sum(r[cols[j]] * beta[j] for j in range(p))) ** 2 for r in rows)


def main():
    with open(DIR + "/build.csv") as f:
        rows = [{k: mpmath.mpf(float(v)) for k, v in r.items()} for r in csv.DictReader(f)]
    n = len(rows)
    sbc = lambda e, p: n * mpmath.log(e / n) + p * mpmath.log(n)
    taken, out = [], []
    while len(taken) < len(NAMES):
        tried = {c: sse(rows, taken + [c]) for c in NAMES if c not in taken}
        best = min(tried, key=lambda c: sbc(tried[c], len(taken) + 1))
        taken.append(best)
        out.append((len(taken), best, tried[best], sbc(tried[best], len(taken))))
    with open(DIR + "/buildsteps.csv", "w", newline="") as f:
        wr = csv.writer(f, lineterminator="\n")
        wr.writerow(["step", "entered", "error_ss", "sbc"])
        for step, name, e, s in out:
            wr.writerow([step, name, mpmath.nstr(e, 17), mpmath.nstr(s, 17)])


if __name__ == "__main__":
    main()
