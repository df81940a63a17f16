#!/usr/bin/python3
"""Writes tests/data/rankrows/pivots.csv and fits.csv: for the designs of tests/data/rankrows
(data sets whose columns c1..cK are the design columns themselves: raw polynomial codings of
two CLASS effects fitted without an intercept, noint.csv), the exact pivot of
every column swept in order after the intercept, over its diagonal (integer elimination on
the exact cross products of the values the files hold, about the weighted means unless
NOINT), with the verdict a sound rank rule must reach: "accept" at 1e-7 of the diagonal or
more, "refuse" below 1e-9, "either" between; a column enters the later pivots when its own
is at least 1e-8. fits.csv holds the exact rank (the intercept counted) and the exact
weighted error SS of the least-squares fit on the columns so taken.

Run from the repository root: /usr/bin/python3 scripts/gen_rank_rows_ref.py"""
import csv
import fractions
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "oracle_lib"))
import ref  # noqa: E402  (exact_gram, pivot_ratios)

OUT = "tests/data/rankrows"
CASES = {"noint": True}


def load(name):
    with open(os.path.join(OUT, name + ".csv")) as f:
        rows = list(csv.reader(f))
    head = rows[0]
    # rows with a missing value are no part of the fit
    data = np.array([[float(v) for v in r] for r in rows[1:] if "" not in r])
    cols = [i for i, h in enumerate(head) if h.startswith("c")]
    wf = np.ones(len(data))
    for w in ("w", "f"):
        if w in head:
            wf = wf * data[:, head.index(w)]
    return head, data[:, cols], data[:, head.index("y")], wf


def exact_sse(X, y, wf, noint):
    """The weighted error SS of y on the columns of X (and the intercept unless NOINT): y's
    exact pivot after them over its diagonal, times y's exact total SS (about the weighted
    mean unless NOINT)."""
    A = np.column_stack([X, y])
    k = X.shape[1]
    _, extra, _ = ref.pivot_ratios(ref.exact_gram(A, wf, noint), list(range(k)), [k])
    F = fractions.Fraction
    w = [F(v) for v in wf]
    yy = [F(v) for v in y]
    total = sum(a * b * b for a, b in zip(w, yy))
    if not noint:
        total -= sum(a * b for a, b in zip(w, yy)) ** 2 / sum(w)
    return extra[k] * float(total)


def main():
    pivots, fits = [], []
    for name, noint in CASES.items():
        head, X, y, wf = load(name)
        G = ref.exact_gram(X, wf, noint)
        order = list(range(X.shape[1]))
        ratios, _, kept = ref.pivot_ratios(G, order, keep_min=1e-8)
        for c in order:
            r = ratios[c]
            verdict = "accept" if r >= 1e-7 else ("refuse" if r < 1e-9 else "either")
            pivots.append([name, "c%d" % (c + 1), repr(r), verdict])
        rank = len(kept) + (0 if noint else 1)
        sse = exact_sse(X[:, kept], y, wf, noint)
        fits.append([name, rank, repr(float(sse))])
    with open(os.path.join(OUT, "pivots.csv"), "w", newline="") as f:
        csv.writer(f, lineterminator="\n").writerows([["case", "column", "ratio", "verdict"]]
                                                     + pivots)
    with open(os.path.join(OUT, "fits.csv"), "w", newline="") as f:
        csv.writer(f, lineterminator="\n").writerows([["case", "rank", "sse"]] + fits)


if __name__ == "__main__":
    main()
