#!/usr/bin/python3
"""How far the cross products about the means can fix a refused column's pivot.

For an oracle program (drawn again from its seed) whose selected model refuses a column,
prints the column's exact pivot on the columns the model took before it in design order (over
its diagonal; a model swept in that order, as without selection), the pivot that elimination
in double gives from the sums about the weighted means formed in double from the centred
rows, and the spread of that pivot over the same sums added up with the rows in
other orders (seeded draws): sums about the means that hold every digit a double can, whose
only difference is their rounding. A spread near the rank rule's agreement with the rows'
pivot (1e-2) says that no form of the sums lets the sweep carry such a column; only pivots
formed from the rows resolve it.

    scripts/sumspivotspread.py --seed 282130 --column "S1 56" --qrx build/rel/app/qrx
"""
import argparse
import os
import shutil
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from oracle_lib import check, gen, ref, runqrx  # noqa: E402

def selected_columns(case, work, record):
    """The design data and the selected model's taken and refused (name, column) pairs."""
    out = record["steps"][0]["output"]
    d = check.Data(case, work, record)
    d.map_names(check.find(out, "ParameterNames")[-1])
    tabs = [t for label, t in check.printed_models(out) if label == "Selected"][-1]
    taken, refused = [], []
    for r in runqrx.table_rows(tabs["ParameterEstimates"]):
        name = check.norm_name(r["Parameter"])
        if name == "Intercept" or name not in d.col_of:
            continue
        (taken if r["DF"] and r["DF"] > 0 else refused).append((name, d.col_of[name]))
    return d, taken, refused


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("--column", required=True, help='a refused parameter, e.g. "S1 56"')
    ap.add_argument("--qrx", required=True)
    ap.add_argument("--draws", type=int, default=200)
    a = ap.parse_args(argv)
    case = gen.make_case(a.seed, None)
    work = tempfile.mkdtemp(prefix="sumspread-")
    try:
        _, record, err = runqrx.run_program(os.path.abspath(a.qrx), work, case)
        if record is None:
            sys.exit("qrx wrote no record: " + err[-300:])
        d, taken, refused = selected_columns(case, work, record)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    want = check.norm_name(a.column)
    target = [c for name, c in refused if name == want]
    if not target:
        sys.exit("%s is not refused in the selected model" % a.column)
    # swept in design order: the pivot against the taken columns before it
    cols = sorted(c for _, c in taken if c < target[0]) + target
    A = d.D[:, cols]
    t = len(cols) - 1
    order = list(range(t))
    _, exact, _ = ref.pivot_ratios(ref.exact_gram(A, d.wf, d.noint), order, [t])
    dbl = ref.double_pivots(A, d.wf, d.noint, order, [t])
    spread = np.array([p[t] for p in ref.reordered_double_pivots(A, d.wf, d.noint, order, [t],
                                                                    draws=a.draws, seed=a.seed)])
    e = exact[t]
    dev = np.abs(spread - e) / e
    print("%s: exact pivot %.6g of its diagonal; swept in double from the sums about the "
          "means %.6g (%.2g off)" % (a.column, e, dbl[t], abs(dbl[t] - e) / e))
    print("the same sums in other orders of the rows (%d draws): pivot off by %.2g (median), "
          "%.2g (most); %d%% of draws more than 1e-2 off"
          % (a.draws, np.median(dev), np.max(dev), round(100 * np.mean(dev > 1e-2))))


if __name__ == "__main__":
    main()
