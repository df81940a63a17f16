#!/usr/bin/python3
"""Reference values of the spline bases of constructed effects, computed independently of the
procedure: B-spline bases with scipy's BSpline.design_matrix on the knot vector extended by one
knot at each end (at the left end only for degree 0; the outermost knots never enter the
values inside the boundary knots),
truncated-power bases from their definition (powers dropping by one for every repeat of a
knot), checked here to span the same space as scipy's B-splines on the same knots, and natural
cubic bases by the closed form N1 = 1, N2 = x, N(k+2) = d_k - d_(K-1) with
d_k = ((x - xi_k)^3_+ - (x - xi_K)^3_+) / (xi_K - xi_k). Writes
tests/data/design/spline_bases.txt, one line per point:
  bspline <degree> <K> <knots...> <x> <columns...>
  tpf <degree> <terms> <n> <knots...> <x> <columns...>
  natural <terms> <n> <knots...> <x> <columns...>
"""
import os

import numpy as np
from scipy.interpolate import BSpline

here = os.path.dirname(os.path.abspath(__file__))
out_path = os.path.join(here, "..", "tests", "data", "design", "spline_bases.txt")
e = 1.110223024625157e-13
lines = []


def fmt(v):
    return repr(float(v))


def bspline(d, knots, xs):
    t = np.array(knots, dtype=float)
    # Degree 0 has no lower boundary group: its first column is everything below the first
    # knot, so only the left end needs the extra knot.
    ext = np.concatenate([[t[0] - 1.0], t] + ([[t[-1] + 1.0]] if d > 0 else []))
    m = BSpline.design_matrix(np.array(xs, dtype=float), ext, d).toarray()
    assert m.shape[1] == (len(t) - d + 1 if d > 0 else len(t))
    for x, row in zip(xs, m):
        lines.append(" ".join(["bspline", str(d), str(len(t))] + [fmt(k) for k in t] + [fmt(x)] +
                              [fmt(v) for v in row]))


def tpf_row(d, terms, knots, x):
    row = []
    if terms == 2:
        row.append(1.0)
    if terms != 0:
        row += [x ** k for k in range(1, d + 1)]
    p = d
    for j, k in enumerate(knots):
        p = d if j == 0 or k != knots[j - 1] else max(p - 1, 0)
        row.append((x - k) ** p if x - k > 0 else 0.0)
    return row


def tpf(d, terms, knots, xs, lo, hi):
    # The full truncated-power basis spans the B-spline space on the same knots.
    grid = np.linspace(lo, hi, 97)
    ext = np.concatenate([[lo - 2.0] * (d + 1), knots, [hi + 2.0] * (d + 1)])
    B = BSpline.design_matrix(grid, ext, d).toarray()
    T = np.array([tpf_row(d, 2, knots, x) for x in grid])
    coef, *_ = np.linalg.lstsq(B, T, rcond=None)
    assert np.max(np.abs(B @ coef - T)) < 1e-8 * max(1.0, np.max(np.abs(T)))
    for x in xs:
        lines.append(" ".join(["tpf", str(d), str(terms), str(len(knots))] +
                              [fmt(k) for k in knots] + [fmt(x)] +
                              [fmt(v) for v in tpf_row(d, terms, knots, x)]))


def natural(terms, knots, xs):
    K = len(knots)
    plus = lambda x, t: (x - t) ** 3 if x > t else 0.0
    dk = lambda x, k: (plus(x, knots[k]) - plus(x, knots[K - 1])) / (knots[K - 1] - knots[k])
    for x in xs:
        row = []
        if terms == 2:
            row.append(1.0)
        if terms != 0:
            row.append(x)
        row += [dk(x, k) - dk(x, K - 2) for k in range(K - 2)]
        lines.append(" ".join(["natural", str(terms), str(K)] + [fmt(k) for k in knots] +
                              [fmt(x)] + [fmt(v) for v in row]))


xs = [0.0, 0.3, 1.0, 1.5, 2.0, 2.999, 3.0, 3.7, 4.0]
# EQUAL knots of degree 3 with 3 interior knots on 0..4.
bspline(3, [-2, -1, -e, 1, 2, 3, 4 + e, 5, 6], xs)
# Degree 2 with a repeated interior knot and boundary knots at the data range.
bspline(2, [-e, -e, 1, 2, 2, 3, 4 + e, 4 + e], xs)
bspline(1, [-e, 1, 2.5, 3, 4 + e], xs)
bspline(0, [1, 2, 3, 4 + e], xs)
tpf(3, 2, np.array([1.0, 2.0, 3.0]), xs, 0.0, 4.0)
tpf(3, 1, np.array([1.0, 2.0, 2.0, 2.0, 3.0]), xs, 0.0, 4.0)
tpf(2, 0, np.array([0.5, 2.5]), xs, 0.0, 4.0)
natural(2, [0.5, 1.5, 2.5, 3.5], xs)
natural(1, [0.0, 1.0, 2.0, 3.0, 4.0], xs)
natural(0, [0.5, 2.0, 3.5], xs)
with open(out_path, "w") as f:
    f.write("\n".join(lines) + "\n")
