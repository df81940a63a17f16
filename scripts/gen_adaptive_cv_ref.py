"""Reference for adaptive LASSO with CHOOSE=CV on examples/diabetes.csv, CVMETHOD=SPLIT(4).

The adaptive weights are |b| of the least-squares fit of y on the centred and scaled columns
over every row (gamma 1); the LASSO path runs on the columns times their weights. Printed: the
order in which the effects enter, the estimates (original scale) at the step where the fourth
effect has entered, and that step's CV PRESS: per fold, the least-squares fit of the step's
effects on the other folds (row i is in fold i mod 4) predicts the fold's rows.
"""
import csv

import numpy as np
from sklearn.linear_model import lars_path

with open("examples/diabetes.csv") as f:
    rows = list(csv.reader(f))
names, data = rows[0][:-1], np.array(rows[1:], dtype=float)
X, y = data[:, :-1], data[:, -1]
n = len(y)
xc = X - X.mean(axis=0)
scale = np.sqrt((xc**2).sum(axis=0))
xs = xc / scale
yc = y - y.mean()
weights = np.abs(np.linalg.lstsq(xs, yc, rcond=None)[0])
print("weights", dict(zip(names, weights.round(6))))
alphas, active, coefs = lars_path(xs * weights, yc, method="lasso")
print("entry order", [names[j] for j in active])
step = next(k for k in range(coefs.shape[1]) if np.count_nonzero(coefs[:, k]) == 4)
beta = coefs[:, step] * weights / scale
chosen = np.flatnonzero(beta)
intercept = y.mean() - X.mean(axis=0) @ beta
print("estimates", {"Intercept": intercept, **{names[j]: beta[j] for j in chosen}})
fold = np.arange(n) % 4
press = 0.0
for f in range(4):
    train, held = fold != f, fold == f
    A = np.column_stack([np.ones(train.sum()), X[train][:, chosen]])
    b = np.linalg.lstsq(A, y[train], rcond=None)[0]
    B = np.column_stack([np.ones(held.sum()), X[held][:, chosen]])
    press += ((y[held] - B @ b) ** 2).sum()
print("cv press", [names[j] for j in chosen], repr(press))
