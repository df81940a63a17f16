#!/usr/bin/python3
"""Reference estimates of the solver-based LASSO at an L1 target read as a norm or as a
penalty value, on the diabetes data (examples/diabetes.csv), written to
tests/data/grouplasso/qklasso_l1.csv.

The design is AGE, SEX, BMI, BP, S1-S6, each column centred and divided by its standard
deviation (divisor n-1), the response centred: the scale on which the procedure solves
    min 0.5 ||y - X b||^2 + lambda ||b||_1.
The exact solutions come from scikit-learn's lars_path (method='lasso'), whose knots carry
lambda / n. Between two knots the coefficients are linear in lambda and so is their L1 norm;
the solution at an L1 norm t (L1CHOICE=NORM) or at a penalty value lambda (L1CHOICE=VALUE)
is the linear interpolation between the knots around it.

Each row: choice (2 norm, 3 value), target, the solver tolerance TOL= of the run, the 11
data-scale estimates (intercept first), then for each estimate the bound on its error that
the tolerance allows. The solver stops when every entry of its proximal-gradient residual is
at most TOL x lambdaMax; the coefficients are then within 2 sqrt(p) TOL lambdaMax / mu of the
solution (mu the smallest eigenvalue of X'X), divided by the column's standard deviation on
the data scale (and summed through the means for the intercept).
Needs Debian's python3-sklearn. Run: /usr/bin/python3 scripts/gen_qklasso_l1_ref.py
"""
import csv
import os

import numpy as np
from sklearn.linear_model import lars_path

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "grouplasso")
NAMES = ["AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]
TOL = 1e-10
# (choice, target): L1 norms between knots and near the least-squares end, penalty values
# between knots.
TARGETS = [(2, 20.0), (2, 120.0), (2, 160.0), (3, 5000.0), (3, 1000.0), (3, 60.0)]


def interpolate(knots, coefs, target):
    """The coefficients at `target` of a path whose knot positions `knots` are monotone."""
    order = np.argsort(knots)
    k, c = knots[order], coefs[:, order]
    return np.array([np.interp(target, k, row) for row in c])


def main():
    with open(os.path.join(ROOT, "examples", "diabetes.csv")) as f:
        rows = list(csv.DictReader(f))
    X = np.array([[float(r[k]) for k in NAMES] for r in rows])
    y = np.array([float(r["Y"]) for r in rows])
    n, p = X.shape
    mean, sd, ybar = X.mean(axis=0), X.std(axis=0, ddof=1), y.mean()
    Xs, yc = (X - mean) / sd, y - ybar
    alphas, _, coefs = lars_path(Xs, yc, method="lasso")
    lambdas = alphas * n
    norms = np.abs(coefs).sum(axis=0)
    lmax = np.max(np.abs(Xs.T @ yc))
    mu = np.linalg.eigvalsh(Xs.T @ Xs)[0]
    bound = 2.0 * np.sqrt(p) * TOL * lmax / mu
    slopes = bound / sd
    with open(os.path.join(OUT, "qklasso_l1.csv"), "w") as f:
        f.write("choice,target,tol,Intercept," + ",".join(NAMES) + ",dIntercept," +
                ",".join("d" + k for k in NAMES) + "\n")
        for choice, target in TARGETS:
            knots = norms if choice == 2 else lambdas
            b = interpolate(knots, coefs, target)
            if choice == 2:
                assert abs(np.abs(b).sum() - target) < 1e-9 * target
            beta = b / sd
            est = [ybar - beta @ mean] + list(beta)
            err = [slopes @ np.abs(mean)] + list(slopes)
            f.write(",".join(repr(float(v)) for v in [choice, target, TOL] + est + err) + "\n")


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    main()
