#!/usr/bin/python3
"""Reference values for fits whose predictors have a large offset (x1 = 1e6 + N(0, 1)):
the data set and numpy's least-squares estimates, standard errors and R-square, unweighted
with a WEIGHT variable, and with the same variable as FREQ. Writes tests/data/results/large_offset.csv (the data) and
tests/data/results/large_offset.txt (one line per parameter: case name estimate stderr;
one line per case: case _RSQUARE_ value 0)."""
import os
import numpy as np

here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "..", "tests", "data", "results")
os.makedirs(out, exist_ok=True)

rng = np.random.default_rng(20240517)
n = 40
x1 = 1e6 + rng.normal(0.0, 1.0, n)
x2 = rng.normal(0.0, 1.0, n)
x3 = 5e5 + 10.0 * rng.normal(0.0, 1.0, n)
y = 4.0 + 3.0 * (x1 - 1e6) - 1.5 * x2 + 0.02 * (x3 - 5e5) + rng.normal(0.0, 0.25, n)
w = rng.integers(1, 4, n).astype(float)

# The values as written are the data: the fits below read them back from the text.
with open(os.path.join(out, "large_offset.csv"), "w") as f:
    f.write("y,x1,x2,x3,w\n")
    for row in zip(y, x1, x2, x3, w):
        f.write(",".join(repr(float(v)) for v in row) + "\n")
data = np.loadtxt(os.path.join(out, "large_offset.csv"), delimiter=",", skiprows=1)
y, x1, x2, x3, w = data.T


def fit(name, weights, repeats=None):
    X = np.column_stack([np.ones(n), x1, x2, x3])
    yy = y
    if repeats is not None:
        # FREQ: each row counts as that many observations.
        X, yy = np.repeat(X, repeats, axis=0), np.repeat(y, repeats)
        weights = np.ones(len(yy))
    sw = np.sqrt(weights)
    Xw, yw = X * sw[:, None], yy * sw
    beta, *_ = np.linalg.lstsq(Xw, yw, rcond=None)
    resid = yw - Xw @ beta
    dfe = len(yy) - X.shape[1]
    mse = resid @ resid / dfe
    # (X'WX)^-1 from the QR factors of the weighted design, without forming X'WX.
    _, R = np.linalg.qr(Xw)
    Rinv = np.linalg.inv(R)
    se = np.sqrt(mse * np.sum(Rinv * Rinv, axis=1))
    ybar = np.sum(weights * yy) / np.sum(weights)
    rsq = 1.0 - resid @ resid / np.sum(weights * (yy - ybar) ** 2)
    lines = []
    for p, b, s in zip(["Intercept", "x1", "x2", "x3"], beta, se):
        lines.append("%s %s %.17g %.17g\n" % (name, p, b, s))
    lines.append("%s _RSQUARE_ %.17g 0\n" % (name, rsq))
    return lines


with open(os.path.join(out, "large_offset.txt"), "w") as f:
    f.write("# case parameter estimate stderr (numpy least squares on large_offset.csv)\n")
    f.writelines(fit("plain", np.ones(n)))
    f.writelines(fit("weighted", w))
    f.writelines(fit("freq", None, w.astype(int)))
