#!/usr/bin/python3
"""Reference estimates of the adaptive solver-based LASSO with per-parameter standardization
(QKGLASSO$ with ADAPTIVE) at an L1 target, on the diabetes data (examples/diabetes.csv),
written to tests/data/grouplasso/qkglasso_adaptive.csv, with the INEST= estimates of one case
in tests/data/grouplasso/qkglasso_inest.csv.

The design is AGE, SEX as two indicator columns (SEX=1, SEX=2: the CLASS effect's two
parameters), BMI, BP and S1-S6, every parameter column centred and divided by its standard
deviation (divisor n-1), the response centred. After centring, SEX2 is -SEX1: in the
least-squares fit of the full model, taken over the columns in order, SEX2 is aliased with
the columns before it and has no coefficient of its own.

Adaptive weights, one per parameter, w = |b|^gamma with b on the standardized scale:
- least squares: b from numpy's lstsq on the standardized columns that are not aliased with
  the columns before them (found by numpy's matrix_rank); an aliased column gets weight 0;
- INEST=: b = (data-scale estimate) x (the column's standard deviation).
The weighted columns are Z = X w. A parameter of weight 0 takes no part (its coefficient is 0).
The solver solves
    min 0.5 ||y - Z t||^2 + lambda ||t||_1,  lambda = r lmax,  lmax = max_j |z_j'y|,
at the penalty ratio r (L1CHOICE=RATIO) or at the penalty value lambda (L1CHOICE=VALUE), here
by coordinate descent (each coefficient in turn set to its exact minimiser with the others
fixed, sweeping until none moves by more than 1e-15). The data-scale estimates are
w t / s_x, and the intercept is the response mean less their products with the column means.

Each row of qkglasso_adaptive.csv: case, choice (1 ratio, 3 value), target, gamma, weights
(0 least squares, 1 INEST=), the solver tolerance TOL= of the run, the 12 data-scale estimates
(Intercept, AGE, SEX1, SEX2, BMI, BP, S1-S6), then for each estimate the bound on its error
that the tolerance allows: the solver stops when every entry of its proximal-gradient residual
is at most TOL x max(lmax, 1), so the coefficients are within 2 sqrt(p) TOL max(lmax, 1) / mu
of the solution (mu the smallest eigenvalue of Z'Z over the weighted columns), times w / s_x
on the data scale (summed through the means for the intercept).
qklasso_adaptive.csv holds the same rows for QKLASSO$ with ADAPTIVE, whose design has SEX as
one numeric column (10 columns, estimates Intercept, AGE, SEX, BMI, BP, S1-S6), its least-squares
cases only.
Run: /usr/bin/python3 scripts/gen_qkglasso_adaptive_ref.py
"""
import csv
import os

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "grouplasso")
PARMS = ["AGE", "SEX1", "SEX2", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]
TOL = 1e-10
# The INEST= estimates (data scale), one per parameter and an intercept that gets no weight;
# SEX2's 0 leaves that parameter out.
INEST = [150.0, 0.1, -22.0, 0.0, 5.5, 1.1, -1.0, 0.7, 0.2, 6.0, 70.0, 0.3]
# (choice, target, gamma, weights from INEST=)
CASES = [(1, 0.3, 1.0, 0), (1, 0.02, 1.0, 0), (3, 150.0, 0.5, 0), (1, 0.0, 1.0, 0),
         (1, 0.1, 1.0, 1), (3, 40.0, 2.0, 1)]


def design(classSex):
    with open(os.path.join(ROOT, "examples", "diabetes.csv")) as f:
        rows = list(csv.DictReader(f))
    col = lambda k: np.array([float(r[k]) for r in rows])
    sex = col("SEX")
    if classSex:
        cols = [col("AGE"), (sex == 1).astype(float), (sex == 2).astype(float)]
    else:
        cols = [col("AGE"), sex]
    cols += [col(k) for k in ["BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]]
    return np.column_stack(cols), col("Y")


def least_squares_b(Xs, yc):
    """b of the columns not aliased with the columns before them; 0 for the aliased ones."""
    keep = []
    for j in range(Xs.shape[1]):
        if np.linalg.matrix_rank(Xs[:, keep + [j]]) == len(keep) + 1:
            keep.append(j)
    b = np.zeros(Xs.shape[1])
    b[keep] = np.linalg.lstsq(Xs[:, keep], yc, rcond=None)[0]
    return b


def lasso_cd(Z, yc, lam):
    """Coordinate descent for 0.5 ||yc - Z t||^2 + lam ||t||_1 (zero columns stay at 0)."""
    p = Z.shape[1]
    t = np.zeros(p)
    sq = (Z * Z).sum(axis=0)
    r = yc.copy()
    for _ in range(1000000):
        moved = 0.0
        for j in range(p):
            if sq[j] == 0:
                continue
            c = Z[:, j] @ r + sq[j] * t[j]
            new = np.sign(c) * max(abs(c) - lam, 0.0) / sq[j]
            if new != t[j]:
                r -= Z[:, j] * (new - t[j])
                moved = max(moved, abs(new - t[j]))
                t[j] = new
        if moved < 1e-15:
            break
    return t


def write(name, classSex, names, cases):
    X, y = design(classSex)
    n, p = X.shape
    mean, sd, ybar = X.mean(axis=0), X.std(axis=0, ddof=1), y.mean()
    Xs, yc = (X - mean) / sd, y - ybar
    b_ls = least_squares_b(Xs, yc)
    b_inest = np.array(INEST[1:]) * sd if classSex else None
    with open(os.path.join(OUT, name), "w") as f:
        f.write("case,choice,target,gamma,inest,tol,Intercept," + ",".join(names) +
                ",dIntercept," + ",".join("d" + k for k in names) + "\n")
        for case, (choice, target, gamma, inest) in enumerate(cases):
            b = b_inest if inest else b_ls
            w = np.where(b == 0, 0.0, np.abs(b) ** gamma)
            Z = Xs * w
            lmax = np.max(np.abs(Z.T @ yc))
            lam = target * lmax if choice == 1 else target
            t = lasso_cd(Z, yc, lam)
            active = w != 0
            Za = Z[:, active]
            mu = np.linalg.eigvalsh(Za.T @ Za)[0]
            bound = 2.0 * np.sqrt(p) * TOL * max(lmax, 1.0) / mu
            beta = w * t / sd
            slopes = bound * w / sd
            est = [ybar - beta @ mean] + list(beta)
            err = [slopes @ np.abs(mean)] + list(slopes)
            f.write(",".join(repr(float(v)) for v in
                             [case, choice, target, gamma, inest, TOL] + est + err) + "\n")


def main():
    with open(os.path.join(OUT, "qkglasso_inest.csv"), "w") as f:
        f.write("Intercept," + ",".join(PARMS) + "\n")
        f.write(",".join(repr(v) for v in INEST) + "\n")
    write("qkglasso_adaptive.csv", True, PARMS, CASES)
    single = ["AGE", "SEX"] + PARMS[3:]
    write("qklasso_adaptive.csv", False, single, [c for c in CASES if not c[3]])


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    main()
