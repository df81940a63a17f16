#!/usr/bin/python3
"""Checks the last step of a LASSO path that ends where an active coefficient reaches zero
against an exact computation: a step of the path moves the coefficients along the line from
the step before to the least-squares fit of its active set (at lambda 0), so the step's
estimates are that line's point where the first active coefficient reaches zero. Reads an
oracle case kept with --keep (its out.json and the design it wrote, dz.csv), fits the
step before's active set by least squares in mpmath at 60 digits, and checks that
  - exactly one active coefficient reaches zero first along the line, and the last step's
    summary row names it as removed;
  - the last step's estimates are that point (relative 1e-6: the path's steps carry the
    drift of their updates on a design whose condition number is near 1e16);
  - its error SS is the SSE of its printed estimates, summed on the rows in mpmath, within
    the rounding of the predictions (64 u times the rows' magnitudes, to first order).

Run: /usr/bin/python3 scripts/check_path_zero_crossing.py KEPTDIR
e.g. after scripts/oracle_lib/main.py --cases 1 --seed 9602611 --keep /tmp/o:
     scripts/check_path_zero_crossing.py /tmp/o/seed-9602611
"""
import csv
import json
import sys

import mpmath

mpmath.mp.dps = 60
U = 2.0 ** -53


def tables(group):
    return {c.get("name"): c for c in group["children"] if c.get("kind") == "table"}


def steps_of(out):
    details = [t for t in out["steps"][0]["output"] if t.get("name") == "StepDetails"][0]
    found = []
    for g in details["children"]:
        t = tables(g)
        err = [r for r in t["ANOVA"]["rows"] if r[0] == "Error"][0][2]
        cols = [c["name"] for c in t["ParameterEstimates"]["columns"]]
        ip, ie = cols.index("Parameter"), cols.index("Estimate")
        est = {r[ip].replace(":", "_"): r[ie] for r in t["ParameterEstimates"]["rows"]}
        texts = [c.get("text", "") for c in g["children"] if c.get("kind") == "text"]
        found.append((err, est, texts))
    return found


def main(kept):
    with open(kept + "/dz.csv") as f:
        rows = list(csv.DictReader(f))
    steps = steps_of(json.load(open(kept + "/out.json")))
    (_, before, _), (sse, last, texts) = steps[-2], steps[-1]
    names = list(before)
    X = mpmath.matrix([[mpmath.mpf(r[k]) for k in names] for r in rows])
    y = mpmath.matrix([mpmath.mpf(r["y"]) for r in rows])
    ls = mpmath.lu_solve(X.T * X, X.T * y)
    b0 = [mpmath.mpf(before[k]) for k in names]
    cross = {k: b0[i] / (b0[i] - ls[i]) for i, k in enumerate(names)
             if k != "Intercept" and b0[i] * ls[i] < 0}
    first = min(cross, key=cross.get)
    t = cross[first]
    assert sum(1 for v in cross.values() if v <= t * (1 + 1e-9)) == 1, cross
    assert any(("Removed: " + first.replace("_", ":")) in s for s in texts), texts
    assert first not in last, last
    worst = 0
    for i, k in enumerate(names):
        want = b0[i] + t * (ls[i] - b0[i])
        if k != first:
            worst = max(worst, abs(want - last[k]) / abs(want))
    assert worst < 1e-6, worst
    res, slack = mpmath.mpf(0), mpmath.mpf(0)
    for r, yi in zip(rows, y):
        terms = [mpmath.mpf(v) * (1 if k == "Intercept" else mpmath.mpf(r[k]))
                 for k, v in last.items()]
        e = yi - mpmath.fsum(terms)
        res += e * e
        slack += 2 * abs(e) * 64 * U * mpmath.fsum(abs(x) for x in terms)
    assert abs(res - sse) <= slack, (sse, res, slack)
    print("%s leaves at t = %s; estimates within %.2g; error SS %r, SSE of the estimates %s "
          "(allowed %s)" % (first, mpmath.nstr(t, 10), float(worst), sse, mpmath.nstr(res, 16),
                           mpmath.nstr(slack, 3)))


if __name__ == "__main__":
    main(sys.argv[1])
