#!/usr/bin/python3
"""What the exact pivots say of the columns a printed model refused.

For an oracle program (drawn again from its seed, or a case the oracle kept), prints for each
refused column whose exact pivot at its turn is at least 1e-7 of its diagonal: that pivot (by
integer elimination on the rows, the columns taken before it in entry and design order), the
spread of the pivot that elimination in double gives on sums about the means formed in double
in five orders of the rows (and from raw sums, for a B-spline basis the fit keeps unshifted),
the pivot's size against 2^-511 (the smallest pivot a sweep in double takes), and the same
exact pivot and spread against every column the model took, as a sweep that judges the column
again after the columns behind it are in sees it. A column is in the band where either choice
is sound when its pivot at its turn is below 2^-511 or not held by the sums in double to 1e-3,
or when the same holds of it against every taken column.

    scripts/refusedpivots.py --seed 400250 --qrx build/rel/app/qrx
    scripts/refusedpivots.py --kept /tmp/keep/seed-444320 --qrx build/rel/app/qrx
"""
import argparse
import os
import pickle
import shutil
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from oracle_lib import check, gen, ref, runqrx  # noqa: E402


def spread(X, d, order, cols, skip, exact, after, raw):
    """The largest relative distance of the double pivots of `cols` from `exact`, over the
    rows in their own order and four others, and over raw sums of the columns `raw` the fit
    keeps unshifted (check.held_pivots): each at its turn in `order`, or (`after`) after
    every column of it."""
    extra = cols if after else ()
    dbls = check.held_pivots(X, d, order, extra, skip, raw)
    return {j: max(abs(p[j] - exact[j]) / exact[j] for p in dbls) if exact[j] > 0 else np.inf
            for j in cols}


class Report(check.Checker):
    def rank_bands(self, d, where, taken, refused):
        nt, k = len(taken), len(taken) + len(refused)
        if len(refused) == 0 or d.D.shape[0] * k * k > check.EXACT_LIMIT:
            return super().rank_bands(d, where, taken, refused)
        allp = taken + refused
        allc = [c for _, c, _ in allp]
        X = d.D[:, allc]
        G = ref.exact_gram(X, d.wf, d.noint)
        pos = {c: i for i, c in enumerate(sorted(allc))}
        order = sorted(range(k), key=lambda i: (
            self.entry.get(check.norm_name(allp[i][2]["Effect"]), 0), pos[allc[i]]))
        skip = set(range(nt, k))
        kept = [i for i in order if i < nt]
        turn, _, _ = ref.pivot_ratios(G, order, (), skip)
        cols = [j for j in range(nt, k) if turn[j] >= check.ACCEPT]
        raw = check.unshifted_columns(self.case, allp)
        if cols:
            at_turn = spread(X, d, order, cols, skip, turn, False, raw)
            _, every, _ = ref.pivot_ratios(G, kept, cols, skip)
            later = spread(X, d, kept, cols, skip, every, True, raw)
            for j in cols:
                size = turn[j] * check.own_sum_of_squares(X[:, j], d.wf, d.noint)
                print("%s %s: at its turn %.4g of its diagonal (double %.2g off, %.3g times "
                      "2^-511); against every taken column %.4g (double %.2g off)"
                      % (where, refused[j - nt][0], turn[j], at_turn[j],
                         size / check.TINY_PIVOT, every[j], later[j]))
        return super().rank_bands(d, where, taken, refused)


def main(argv=None, report=Report, description=__doc__):
    """Runs the program of --seed or --kept through --qrx and checks its record with
    `report`, a Checker whose rank_bands prints what it finds of the refused columns."""
    ap = argparse.ArgumentParser(description=description,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int)
    ap.add_argument("--kept", help="a case the oracle kept (its case.pickle, d.csv, case.qrx)")
    ap.add_argument("--qrx", required=True)
    a = ap.parse_args(argv)
    np.seterr(all="ignore")
    work = tempfile.mkdtemp(prefix="refusedpivots-")
    try:
        if a.kept:
            with open(os.path.join(a.kept, "case.pickle"), "rb") as fh:
                case = pickle.load(fh)
        elif a.seed is not None:
            case = gen.make_case(a.seed, None)
        else:
            sys.exit("give --seed or --kept")
        _, record, err = runqrx.run_program(os.path.abspath(a.qrx), work, case)
        if record is None:
            sys.exit("qrx wrote no record: " + err[-300:])
        for f in report(case, work, record, os.path.abspath(a.qrx)).run():
            print("finding: %s" % f)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
