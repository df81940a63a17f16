#!/usr/bin/python3
"""Reference design matrices for the OUTDESIGN end-to-end tests.

Writes tests/data/outdesign/data.csv (the analysis data) and, for each coding, the design
matrix of the model  y = x1 c d c*d x1*d x2(c)  built here with numpy from the textbook
definitions: GLM (one indicator per level), REFERENCE (indicators of all levels but the
last) and EFFECT (as REFERENCE, with -1 in every column for the last level). Levels are in
sorted order. Columns are in effect order, levels of a crossing with the first variable
varying slowest.
"""
import itertools
import os
import numpy as np

out = os.path.join(os.path.dirname(__file__), "..", "tests", "data", "outdesign")
rng = np.random.default_rng(25)
n = 36
x1 = np.round(rng.uniform(-2, 2, n), 3)
x2 = np.round(rng.uniform(0, 5, n), 3)
c = np.array(["A", "B", "C"])[np.arange(n) % 3]
d = np.array(["P", "Q"])[(np.arange(n) // 3) % 2]
eff = {"A": 0.0, "B": 1.5, "C": -1.0}
y = np.round(1 + 2 * x1 - 0.5 * x2 + np.array([eff[v] for v in c]) +
             np.where(d == "P", 0.7, 0.0) * x1 + rng.normal(0, 0.3, n), 4)
with open(os.path.join(out, "data.csv"), "w") as f:
    f.write("y,x1,x2,c,d\n")
    for i in range(n):
        f.write(f"{y[i]!r},{x1[i]!r},{x2[i]!r},{c[i]},{d[i]}\n")


def coded(values, levels, coding):
    if coding == "glm":
        return np.array([[1.0 if v == l else 0.0 for l in levels] for v in values])
    m = np.array([[1.0 if v == l else 0.0 for l in levels[:-1]] for v in values])
    if coding == "effect":
        m[values == levels[-1], :] = -1.0
    return m


def crossed(a, b):
    return np.array([np.outer(ra, rb).ravel() for ra, rb in zip(a, b)])


for coding in ("glm", "ref", "effect"):
    C = coded(c, ["A", "B", "C"], coding)
    D = coded(d, ["P", "Q"], coding)
    # x2 nested in c: one column per level of c whatever the coding (GLM-style indicator).
    nest = coded(c, ["A", "B", "C"], "glm") * x2[:, None]
    X = np.column_stack([np.ones(n), x1, C, D, crossed(C, D), x1[:, None] * D, nest])
    np.savetxt(os.path.join(out, f"design_{coding}.csv"), X, delimiter=",", fmt="%.17g")
