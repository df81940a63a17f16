#!/usr/bin/python3
"""Reference values of the resampling tests: the 0.999 quantiles of the chi-square
distribution for the goodness-of-fit tests of the drawn frequencies, and the probabilities
of the Binomial(m, 1/N) counts one observation takes in a bootstrap sample of size m.
Writes tests/data/resample/chi2_binomial.txt: lines "chi2 DF CRITICAL" and
"binom M N K PROBABILITY"."""
from scipy.stats import binom, chi2

lines = []
for df in range(1, 11):
    lines.append(f"chi2 {df} {chi2.ppf(0.999, df):.17g}")
for m, n in ((200, 200), (37, 200)):
    for k in range(0, 8):
        lines.append(f"binom {m} {n} {k} {binom.pmf(k, m, 1.0 / n):.17g}")
open("tests/data/resample/chi2_binomial.txt", "w").write("\n".join(lines) + "\n")
