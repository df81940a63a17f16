#!/usr/bin/python3
"""Least squares of the model STEPWISE holds after it takes an effect out only to learn the
stop criterion without it and brings it back, over splines of degree 57 and 50 on 33 rows
(the rows of tests/data/stepwiserefit/data.csv; tests/data/stepwiserefit/design<degree>.csv
holds the model's design columns as OUTDESIGN(FULLMODEL NAMES) writes them, the spline's
basis among them). Their columns lie so nearly in a smaller span that the swept sums hold
the fit to a few digits, and which of them a model holds is the rank rule's choice at the
edge of the rounding; the sets below are the ones the last step holds (Intercept, x2, x3, x5
and fifteen or fourteen of the spline's columns).

Writes tests/data/stepwiserefit/fit<degree>.csv: the taken spline columns, the model DF, and
mpmath's least squares of those columns at 250 digits (scripts/mpfit.py): the error SS, and
the estimates and standard errors of the intercept, x2, x3 and x5. Run from the repository
root: /usr/bin/python3 scripts/gen_stepwise_refit_ref.py"""
import os

import mpfit

DIR = "tests/data/stepwiserefit"
SPLINES = {57: [2, 3, 4, 5, 6, 8, 11, 13, 22, 28, 29, 32, 36, 42, 43],
           50: [1, 2, 3, 4, 5, 7, 10, 13, 20, 26, 29, 32, 36, 37]}
NAMED = ["Intercept", "x2", "x3", "x5"]


def main():
    for degree, spline in SPLINES.items():
        mpfit.write_fit(os.path.join(DIR, "design%d.csv" % degree),
                        os.path.join(DIR, "fit%d.csv" % degree), NAMED, spline)


if __name__ == "__main__":
    main()
