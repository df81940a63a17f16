#!/usr/bin/python3
"""Writes tests/data/roadnoint/press.csv: the exact CV PRESS, fold by fold, of the model
x1 x2 g1 without an intercept over the rows of tests/data/roadnoint/d.csv under BLOCK(8)
folds, the model BACKWARD selection by CV PRESS reaches once the many-level m1 and the
spline of x1 have left (oracle seed 7500092 of the cvremoval scenario).

Each fold's refit is solved in rational arithmetic on its training rows, the data's doubles
taken exactly: g1's columns span the level indicators' contrasts whatever their coding (28
levels, 27 columns), so they are taken here as the differences of the first 27 levels'
indicators and the last's. Rows of weight 0 are left out, and the BLOCK folds deal the
others in order in blocks, the first ones a row larger.

Run from the repository root: /usr/bin/python3 scripts/gen_road_noint_ref.py
"""
import csv
from fractions import Fraction

from check_cvremoval_folds import solve  # the same exact solve as the oracle's fold check

DIR = "tests/data/roadnoint"
FOLDS = 8


def main():
    rows = [r for r in csv.DictReader(open(DIR + "/d.csv")) if float(r["w"]) > 0]
    levels = sorted({r["g1"] for r in rows})
    last = levels[-1]

    def design(r):
        ind = [Fraction(int(r["g1"] == L)) - Fraction(int(r["g1"] == last)) for L in levels[:-1]]
        return [Fraction(float(r["x1"])), Fraction(float(r["x2"]))] + ind

    X = [design(r) for r in rows]
    y = [Fraction(float(r["y"])) for r in rows]
    w = [Fraction(float(r["w"])) for r in rows]
    n, p = len(rows), len(X[0])
    size, extra = divmod(n, FOLDS)
    fold = []
    for k in range(FOLDS):
        fold += [k] * (size + (k < extra))
    parts = []
    for k in range(FOLDS):
        tr = [i for i in range(n) if fold[i] != k]
        A = [[sum(w[i] * X[i][a] * X[i][c] for i in tr) for c in range(p)] for a in range(p)]
        b = [sum(w[i] * X[i][a] * y[i] for i in tr) for a in range(p)]
        beta = solve(A, b)
        parts.append(sum(w[i] * (y[i] - sum(bj * xj for bj, xj in zip(beta, X[i]))) ** 2
                         for i in range(n) if fold[i] == k))
    with open(DIR + "/press.csv", "w") as out:
        out.write("fold,cvpress\n")
        for k, part in enumerate(parts):
            out.write("%d,%.17g\n" % (k + 1, float(part)))
        out.write("total,%.17g\n" % float(sum(parts)))


if __name__ == "__main__":
    main()
