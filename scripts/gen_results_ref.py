#!/usr/bin/python3
"""Reference values for the results tables: the ANOVA F tests of a few fits and the
t-test p-values of parameter estimates, from scipy's F and t distributions. Writes
tests/data/results/*.txt (whitespace-separated, one case per line)."""
import os
from scipy import stats

here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "..", "tests", "data", "results")
os.makedirs(out, exist_ok=True)

# sse tssCorrected tssUncorrected n p noint -> modelDf errorDf modelSS errorMS F probF
cases = [
    (1200.5, 5000.0, 90000.0, 50, 4, 0),
    (10.0, 10.5, 400.0, 30, 2, 0),
    (263.8, 1000.0, 2000.0, 442, 7, 0),
    (50.0, 300.0, 1800.0, 20, 3, 1),
    (1e-3, 1e6, 2e6, 1000, 11, 0),
]
with open(os.path.join(out, "anova_ref.txt"), "w") as f:
    f.write("# sse tssCorrected tssUncorrected n p noint modelDf errorDf modelSS errorMS F probF\n")
    for sse, tc, tu, n, p, noint in cases:
        tss, tdf, mdf = (tu, n, p) if noint else (tc, n - 1, p - 1)
        mss = max(tss - sse, 0.0)
        edf = tdf - mdf
        ems = sse / edf
        F = (mss / mdf) / ems
        prob = stats.f.sf(F, mdf, edf)
        f.write("%r %r %r %d %d %d %d %d %.17g %.17g %.17g %.17g\n"
                % (sse, tc, tu, n, p, noint, mdf, edf, mss, ems, F, prob))

# t dfe -> two-sided p-value
with open(os.path.join(out, "tprob_ref.txt"), "w") as f:
    f.write("# t dfe probt\n")
    for t, dfe in [(2.5, 10), (-1.3, 100), (0.2, 5), (8.0, 437), (3.3, 1)]:
        f.write("%r %d %.17g\n" % (t, dfe, 2 * stats.t.sf(abs(t), dfe)))
