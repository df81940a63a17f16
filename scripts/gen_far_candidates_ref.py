#!/usr/bin/python3
"""Least squares without an intercept of a weighted response near 1.9e9 with a spread of
about 2 (tests/data/farcandidates/data.csv: 62 rows the oracle's generator drew for its seed
600051; x2 near -3.0e7 with a spread of 0.03, a1 = x1 + x2 exactly in doubles, x1 and
x3-x6 near 0). Every candidate's error SS lies below the rounding of y'y (about 3e4), so
only the rows tell which single column fits best.

Writes tests/data/farcandidates/fit.csv: for each column alone, mpmath's weighted least
squares at 60 digits (error SS); the best column, its estimate and standard error; the full
model's error variance (x1-x6: a1 depends on x1 and x2) and the best column's BIC,
n ln(SSE/n) + 2q(p + 2 - q) with q = n sigma^2 / SSE, and C(p), SSE/sigma^2 + 2p - n; and
the columns FORWARD by SL enters under STOP=SBC, with the SBC of the last.
Writes also tests/data/farcandidates/fitclass.csv for x1 and x3-x6 beside g, a CLASS variable
of three levels (L0, L1, L2 in turn down the rows; three columns without an intercept), whose
error SS alone is below the rounding of y'y: each candidate's BIC and C(p) alone, against the
full model of them all, and for each criterion the candidate it makes best with that
candidate's error SS. (x2 stays out: beside g its spread, 1e-9 of its size, is within the
rounding of its sums, so that the full model's rank would be a matter of rounding.)
Run from the repository root: /usr/bin/python3 scripts/gen_far_candidates_ref.py"""
import csv

import mpmath

mpmath.mp.dps = 60
DIR = "tests/data/farcandidates"
NAMES = ["x1", "x2", "x3", "x4", "x5", "x6", "a1"]


def fit(rows, cols):
    """Weighted least squares without an intercept: estimates, error SS, (X'WX)^-1."""
    p = len(cols)
    A = mpmath.matrix(p, p)
    b = mpmath.matrix(p, 1)
    for r in rows:
        w = r["w"]
        for j in range(p):
            b[j] += w * r[cols[j]] * r["y"]
            for k in range(p):
                A[j, k] += w * r[cols[j]] * r[cols[k]]
    beta = mpmath.lu_solve(A, b)
    sse = sum(r["w"] * (r["y"] - sum(r[cols[j]] * beta[j] for j in range(p))) ** 2 for r in rows)
    return beta, sse, A ** -1


def with_levels(rows):
    """The rows with g's level columns g0-g2 (1 on the row's level), checking the file's g."""
    for i, r in enumerate(rows):
        assert r["g"] == "L%d" % (i % 3)
        for j in range(3):
            r["g%d" % j] = mpmath.mpf(1 if i % 3 == j else 0)
    return rows


def class_candidates(rows):
    n = len(rows)
    plain = ["x1", "x3", "x4", "x5", "x6"]
    columns = {c: [c] for c in plain}
    columns["g"] = ["g0", "g1", "g2"]
    _, full_sse, _ = fit(rows, plain + columns["g"])
    sigma2 = full_sse / (n - 8)
    out = [("full_sigma2", sigma2)]
    crit = {}
    for name, cols in columns.items():
        sse, p = fit(rows, cols)[1], len(cols)
        q = n * sigma2 / sse
        crit[name] = {"sse": sse, "bic": n * mpmath.log(sse / n) + 2 * q * (p + 2 - q),
                      "cp": sse / sigma2 + 2 * p - n}
    for key in ("bic", "cp"):
        best = min(crit, key=lambda c: crit[c][key])
        out += [(key + " best", best), (key + " error_ss", crit[best]["sse"]),
                (key, crit[best][key])]
    return out


def sbc_path(rows):
    """FORWARD by SL with STOP=SBC: each step enters the column of the largest fall of the
    error SS (the least p-value at one more parameter; the first in NAMES among equals), and
    the selection stops where that entry's SBC, n ln(SSE/n) + p ln n, is not below the
    model's. No column joins x1, x2 and a1 = x1 + x2 into one model."""
    n = len(rows)
    taken, sbc = [], None
    while True:
        free = [c for c in NAMES
                if c not in taken and not {"x1", "x2", "a1"} <= set(taken) | {c}]
        if not free:
            break
        sse = {c: fit(rows, taken + [c])[1] for c in free}
        best = min(free, key=lambda c: sse[c])
        value = n * mpmath.log(sse[best] / n) + (len(taken) + 1) * mpmath.log(n)
        if sbc is not None and not value < sbc:
            break
        taken.append(best)
        sbc = value
    return [("sbc path", " ".join(taken)), ("sbc path sbc", sbc)]


def write(path, out):
    with open(path, "w", newline="") as f:
        wr = csv.writer(f, lineterminator="\n")
        wr.writerow(["name", "value"])
        for k, v in out:
            wr.writerow([k, v if isinstance(v, str) else mpmath.nstr(v, 17)])


def main():
    with open(DIR + "/data.csv") as f:
        rows = [{k: v if k == "g" else mpmath.mpf(v) for k, v in r.items()}
                for r in csv.DictReader(f)]
    n = len(rows)
    out = []
    alone = {c: fit(rows, [c])[1] for c in NAMES}
    for c in NAMES:
        out.append(("sse " + c, alone[c]))
    best = min(NAMES, key=lambda c: alone[c])
    beta, sse, inv = fit(rows, [best])
    _, full_sse, _ = fit(rows, NAMES[:6])
    sigma2 = full_sse / (n - 6)
    q = n * sigma2 / sse
    out += [("best", best), ("error_ss", sse), ("estimate", beta[0]),
            ("stderr", mpmath.sqrt(inv[0, 0] * sse / (n - 1))), ("full_sigma2", sigma2),
            ("bic", n * mpmath.log(sse / n) + 2 * q * (1 + 2 - q)),
            ("cp", sse / sigma2 + 2 - n)]
    write(DIR + "/fit.csv", out + sbc_path(rows))
    write(DIR + "/fitclass.csv", class_candidates(with_levels(rows)))


if __name__ == "__main__":
    main()
