#!/usr/bin/python3
"""Exact pivots of a spline's last basis columns beside a many-level EFFECT-coded CLASS
variable, for judging which of them a sound rank rule takes.

The data set is tests/data/manylevels/splineintercept.csv (y, x1, a CLASS variable g of 164
levels whose last level has rows, weights with zeros and weights of 1e-4); the model is
`y = g s1`, s1 a degree-10 spline of x1 whose 22 basis columns sum to the intercept. BACKWARD
sweeps at its first step the intercept, g's columns and then S1 1 to S1 22, and after g has
left the intercept and S1 1 to S1 22. For both orders this prints the pivots of S1 19 to
S1 22 over their diagonals (sums about the weighted means, the oracle's rank bands: at least
1e-7 taken, below 1e-9 refused), in exact integer arithmetic on the design columns as qrx's
OUTDESIGN writes them, once with S1 20 refused and once with it kept (its pivot lies near the
refusal line), beside the pivots that elimination in double gives from sums about the means
formed in five orders of the rows.

With --reference FILE it writes instead the exact judgement of the model's columns swept in
their order (the intercept, g's columns, S1 1 to S1 22), each refused below 1e-9 of its
diagonal: the number of columns at least 1e-7 (taken by any sound rule), then each column
below that with its pivot over its diagonal (refused below 1e-9, either way between).

    scripts/splinelevelpivots.py --qrx build/rel/app/qrx
    scripts/splinelevelpivots.py --qrx build/rel/app/qrx \
        --reference tests/data/manylevels/splinelevelpivots.csv
"""
import argparse
import csv
import os
import shutil
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from oracle_lib import ref, runqrx  # noqa: E402

DATA = "tests/data/manylevels/splineintercept.csv"
PROGRAM = """proc varsifter data=d outdesign(fullmodel names)=dz;
  class g / param=effect;
  effect s1 = spline(x1 / degree=10 knotmethod=equal(11));
  weight w;
  model y = g s1 / selection=none;
run;
"""
SHOWN = ["S1_19", "S1_20", "S1_21", "S1_22"]


def design(qrx, root):
    """The used rows' design columns of g and s1 (OUTDESIGN's names) and their weights."""
    work = tempfile.mkdtemp(prefix="splinelevel-")
    try:
        shutil.copy(os.path.join(root, DATA), os.path.join(work, "d.csv"))
        with open(os.path.join(work, "case.qrx"), "w") as fh:
            fh.write(PROGRAM)
        status, _, err = runqrx.run(qrx, work)
        if status != 0:
            sys.exit("qrx failed: " + err[-300:])
        with open(os.path.join(work, "d.csv")) as fh:
            data = list(csv.DictReader(fh))
        with open(os.path.join(work, "dz.csv")) as fh:
            rows = list(csv.DictReader(fh))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    used = [i for i, r in enumerate(data)
            if all(r[c] not in ("", ".") for c in ("y", "x1", "g", "w")) and float(r["w"]) > 0]
    names = [n for n in rows[0] if n.startswith("g_") or n.startswith("S1_")]
    X = np.array([[float(rows[i][n]) for n in names] for i in used])
    wf = np.array([float(data[i]["w"]) for i in used])
    return names, X, wf


def show(label, names, X, wf, G, order, s20):
    print(label)
    for keep in (False, True):
        skip = set() if keep else {s20}
        ratios, _, _ = ref.pivot_ratios(G, order, skip=skip)
        line = "  S1_20 %-8s exact:" % ("kept" if keep else "refused")
        print(line + "".join(" %s %.4g" % (n, ratios[names.index(n)]) for n in SHOWN))
    skip = {s20}
    dbls = [ref.double_pivots(X, wf, False, order, skip=skip)] + ref.reordered_double_pivots(
        X, wf, False, order, skip=skip)
    for n in SHOWN:
        c = names.index(n)
        print("  %s in double (S1_20 refused), five orders: %s"
              % (n, " ".join("%.4g" % d[c] for d in dbls)))


def write_reference(path, names, G):
    ratios, _, _ = ref.pivot_ratios(G, list(range(len(names))), keep_min=1e-9)
    with open(path, "w", newline="") as fh:
        out = csv.writer(fh, lineterminator="\n")
        out.writerow(["column", "ratio"])
        out.writerow(["taken", sum(1 for r in ratios.values() if r >= 1e-7)])
        for c, n in enumerate(names):
            if ratios[c] < 1e-7:
                out.writerow([n.replace("_", " "), "%.4g" % ratios[c]])


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--qrx", required=True)
    ap.add_argument("--reference", help="write the exact judgement of every column here")
    a = ap.parse_args(argv)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    names, X, wf = design(os.path.abspath(a.qrx), root)
    G = ref.exact_gram(X, wf, False)
    if a.reference:
        write_reference(a.reference, names, G)
        return
    levels = [c for c, n in enumerate(names) if n.startswith("g_")]
    spline = [c for c, n in enumerate(names) if n.startswith("S1_")]
    s20 = names.index("S1_20")
    show("after the intercept and g:", names, X, wf, G, levels + spline, s20)
    show("after the intercept alone:", names, X, wf, G, spline, s20)


if __name__ == "__main__":
    main()
