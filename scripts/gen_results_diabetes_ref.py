#!/usr/bin/python3
"""Reference of a stepwise selection by SBC on examples/diabetes.csv, computed with numpy
least squares (estimates and standard errors from the normal equations), independent of the procedure: at every step the effect
whose removal lowers SBC most is removed, else the candidate that lowers SBC most enters;
the selection stops when no change lowers SBC. Writes
tests/data/results/diabetes_stepwise_sbc.txt:
  step <k> <+|-><effect> <SBC>          one line per step after the intercept
  estimate <effect> <estimate> <stderr> the selected model's parameters
"""
import csv
import math
import os

import numpy as np

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.join(here, "..")
with open(os.path.join(root, "examples", "diabetes.csv")) as f:
    rows = list(csv.DictReader(f))
names = ["AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]
X = {k: np.array([float(r[k]) for r in rows]) for k in names}
y = np.array([float(r["Y"]) for r in rows])
n = len(y)


def sse(effects):
    A = np.column_stack([np.ones(n)] + [X[e] for e in effects])
    beta, *_ = np.linalg.lstsq(A, y, rcond=None)
    r = y - A @ beta
    return float(r @ r)


def sbc(effects):
    p = len(effects) + 1
    return n * math.log(sse(effects) / n) + p * math.log(n)


model = []
current = sbc(model)
steps = []
while True:
    best = None
    for e in model:
        trial = [m for m in model if m != e]
        v = sbc(trial)
        if v < current and (best is None or v < best[0]):
            best = (v, "-", e, trial)
    if best is None:
        for e in names:
            if e in model:
                continue
            trial = model + [e]
            v = sbc(trial)
            if v < current and (best is None or v < best[0]):
                best = (v, "+", e, trial)
    if best is None:
        break
    current, sign, e, model = best
    steps.append((sign, e, current))

A = np.column_stack([np.ones(n)] + [X[e] for e in model])
params = np.linalg.solve(A.T @ A, A.T @ y)
resid = y - A @ params
mse = float(resid @ resid) / (n - A.shape[1])
bse = np.sqrt(np.diag(np.linalg.inv(A.T @ A)) * mse)
out = os.path.join(root, "tests", "data", "results")
os.makedirs(out, exist_ok=True)
with open(os.path.join(out, "diabetes_stepwise_sbc.txt"), "w") as f:
    for k, (sign, e, v) in enumerate(steps, start=1):
        f.write("step %d %s%s %.17g\n" % (k, sign, e, v))
    for name, b, s in zip(["Intercept"] + model, params, bse):
        f.write("estimate %s %.17g %.17g\n" % (name, b, s))
