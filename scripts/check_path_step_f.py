#!/usr/bin/python3
"""Checks a least-angle path's step F values and p-values against the estimates the run
reports at each step: runs PROGRAM (whose MODEL statement gets DETAILS=STEPS) with QRX from the
repository root, forms each step's residuals on the rows of DATA (a CSV file; numeric
parameters by column name, a CLASS level's parameter VAR_LEVEL as its indicator) in long
double, the fall of the SSE from the step before as (r0 - r1)(r0 + r1) summed, and
F = fall (n - p1) / (SSE1 (p1 - p0)), p = the F distribution's upper tail (scipy). Prints the
largest difference of the run's FValue (relative above 1) and ProbF from them.

Run: /usr/bin/python3 scripts/check_path_step_f.py QRX PROGRAM DATA RESPONSE
e.g. scripts/check_path_step_f.py build/rel/app/qrx examples/adaptive_lasso.qrx
     examples/diabetes.csv Y
"""
import csv
import json
import os
import re
import subprocess
import sys
import tempfile

import numpy as np
from scipy import stats


def tables(node, found):
    if isinstance(node, dict):
        if "columns" in node and "rows" in node and "name" in node:
            cols = [c["name"] for c in node["columns"]]
            found.append((node["name"], [dict(zip(cols, row)) for row in node["rows"]]))
        for v in node.values():
            tables(v, found)
    elif isinstance(node, list):
        for v in node:
            tables(v, found)
    return found


def main():
    qrx, program, data, response = sys.argv[1:5]
    with open(program) as f:
        text = f.read()
    text = re.sub(r"(\bmodel\s+\w+\s*=[^;/]*)/", r"\1/ details=steps ", text, count=1,
                  flags=re.I)
    work = tempfile.mkdtemp(prefix="pathstepf_")
    prog = os.path.join(work, "p.qrx")
    with open(prog, "w") as f:
        f.write(text)
    out = os.path.join(work, "r.json")
    subprocess.run([os.path.abspath(qrx), "--work", work, "-o", "THREADS=1", "--json", out, prog],
                   capture_output=True, check=False)
    with open(out) as f:
        found = tables(json.load(f), [])
    subprocess.run(["rm", "-rf", work])
    with open(data) as f:
        rows = list(csv.DictReader(f))
    upper = {k.upper(): k for k in rows[0]}
    ld = np.longdouble
    y = np.array([ld(r[upper[response.upper()]]) for r in rows])

    def column(parameter):
        name = parameter.upper()
        if name in upper:
            return np.array([ld(r[upper[name]]) for r in rows])
        var, level = parameter.split("_", 1)
        key = upper[var.upper()]
        return np.array([ld(1 if r[key] == level else 0) for r in rows])

    def resid(estimates):
        fit = np.zeros(len(rows), ld)
        for e in estimates:
            b = ld(e["Estimate"])
            fit += b if e["Parameter"] == "Intercept" else b * column(e["Parameter"])
        return y - fit

    summary = next(t for name, t in found if name == "SelectionSummary")
    steps = [t for name, t in found if name == "ParameterEstimates"][:len(summary)]
    n = len(rows)
    worst_f = worst_p = 0.0
    r0 = resid(steps[0])
    for i in range(1, len(summary)):
        r1 = resid(steps[i])
        fall = np.sum((r0 - r1) * (r0 + r1))
        sse0, sse1 = np.sum(r0 * r0), np.sum(r1 * r1)
        p0, p1 = summary[i - 1]["nParmsIn"], summary[i]["nParmsIn"]
        r0 = r1
        if p1 <= p0:
            continue
        # The run takes a fall below 1.1e-14 of the SSE for none.
        small = fall < 1.110223024625157e-14 * sse0
        F = 0.0 if small else float(fall * (n - p1) / (sse1 * (p1 - p0)))
        worst_f = max(worst_f, abs(summary[i]["FValue"] - F) / max(1.0, abs(F)))
        worst_p = max(worst_p, abs(summary[i]["ProbF"] - stats.f.sf(F, p1 - p0, n - p1)))
    print("%s: %d steps; FValue %.2g, ProbF %.2g" % (program, len(summary) - 1, worst_f, worst_p))


if __name__ == "__main__":
    main()
