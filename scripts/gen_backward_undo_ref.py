#!/usr/bin/python3
"""Least squares of the model BACKWARD holds when its stop undoes a removal over a spline
of degree 55 on 33 rows (tests/data/backwardundo), for two designs drawn by numpy's
default_rng(seed). Their columns lie so nearly in a smaller span that which of them a model
holds is the rank rule's choice at the edge of the rounding, made along the removals, and
the swept sums hold the fit to a few digits; the sets below are the ones the last step
before the stop holds.

- 1666: step 3 holds Intercept, x1, x2 and nine of the spline's columns, the set the rank
  rule took along the removals.
- 1154: step 3 holds Intercept, x2, x3 and fourteen of the spline's columns; its matrix
  rebuilt from X'X and refined again settles on another fit than the step's.

Writes data<seed>.csv, the rows: x1..x5 each normal times 10**U(-2, 2), y normal times
10**U(-1, 1) plus, for each x drawn with probability 0.7, a normal times that x
standardised; and fit<seed>.csv, the taken spline columns, the model DF, and mpmath's least
squares of those columns at 250 digits (scripts/mpfit.py): the error SS, and the estimates
and standard errors of the named columns. design<seed>.csv holds the model's design columns
as OUTDESIGN(FULLMODEL NAMES) writes them for the test's program (for 1154 only the step's
columns and y). Run from the repository root:
/usr/bin/python3 scripts/gen_backward_undo_ref.py"""
import os

import numpy as np

import mpfit

DIR = "tests/data/backwardundo"
ROWS = 33
DESIGNS = {1666: (["Intercept", "x1", "x2"], [1, 14, 17, 20, 22, 24, 29, 33, 41]),
           1154: (["Intercept", "x2", "x3"],
                  [1, 4, 8, 10, 13, 16, 19, 22, 27, 28, 32, 35, 38, 44])}


def rows(seed):
    rng = np.random.default_rng(seed)
    xs = [10.0 ** rng.uniform(-2, 2) * rng.normal(size=ROWS) for _ in range(5)]
    y = rng.normal(size=ROWS) * 10.0 ** rng.uniform(-1, 1)
    for x in xs:
        if rng.random() < 0.7:
            y = y + rng.normal() * (x - np.mean(x)) / np.std(x)
    return np.column_stack(xs + [y])


def main():
    for seed, (named, spline) in DESIGNS.items():
        with open(os.path.join(DIR, "data%d.csv" % seed), "w") as f:
            f.write("x1,x2,x3,x4,x5,y\n")
            for r in rows(seed):
                f.write(",".join(repr(float(v)) for v in r) + "\n")
        mpfit.write_fit(os.path.join(DIR, "design%d.csv" % seed),
                        os.path.join(DIR, "fit%d.csv" % seed), named, spline)


if __name__ == "__main__":
    main()
