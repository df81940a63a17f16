#!/usr/bin/python3
"""Writes tests/data/manylevels/splineintercept_fit.csv: on
tests/data/manylevels/splineintercept.csv (y, x1, a CLASS variable g of 164 levels and a
weight w with zeros and weights of 1e-4), the fit of the intercept alone that BACKWARD ends
on after g and a degree-10 spline of x1 leave: its error degrees of freedom (the rows with
every value and a positive weight, less one), the weighted mean of y and the weighted sum of
squares about it, in exact rational arithmetic from the values as written.
Run from the repository root: /usr/bin/python3 scripts/gen_spline_intercept_ref.py"""
import csv
from fractions import Fraction

DATA = "tests/data/manylevels/splineintercept.csv"
OUT = "tests/data/manylevels/splineintercept_fit.csv"


def main():
    with open(DATA) as fh:
        rows = [r for r in csv.DictReader(fh)
                if all(r[c] not in ("", ".") for c in ("y", "x1", "g", "w"))
                and float(r["w"]) > 0]
    y = [Fraction(r["y"]) for r in rows]
    w = [Fraction(r["w"]) for r in rows]
    total = sum(w)
    mean = sum(wi * yi for wi, yi in zip(w, y)) / total
    sse = sum(wi * (yi - mean) ** 2 for wi, yi in zip(w, y))
    with open(OUT, "w") as fh:
        fh.write("errordf,sse,intercept\n")
        fh.write("%d,%.17g,%.17g\n" % (len(rows) - 1, float(sse), float(mean)))


if __name__ == "__main__":
    main()
