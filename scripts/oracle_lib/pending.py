"""Faults known and open: findings that match an entry here are reported as pending, not
counted as failures. Each entry names the open fault it waits for; remove the entry when
its mend lands, and the oracle counts those findings again."""

FIT = ("anova.", "estimate", "stderr", "fitstat.", "cvpress", "rank.", "output.", "summary",
       "path.", "threads")

# id: (fault it waits for, families (prefixes), condition on the case)
PENDING = {
    # Found by the oracle once doubtful pivots were judged from the rows: a spline column
    # whose pivot the rows resolve but the sweep's sums have lost stays out, and the
    # columns after it with it. A B-spline basis of more than 10 columns is stored sparse,
    # and sparse columns are not shifted with the pages (on every road: the packed
    # triangle, the blocked sweep, the growing one): its sums are raw and centred by
    # a_il - a_i1 a_l1 / a_11 in the sweep. Measured against exact pivots step by step:
    # - seed 75 (`spline(x1 / degree=5 knotmethod=equal(19))` on 52 rows): S1 6, at
    #   1.68e-4 of its diagonal, is swept at 9.8e-5, 72 times below the rule's rounding
    #   bound and so outside the band the rows are asked about (1/64 of it). Swept about
    #   the means in double it comes within 1.9e-4 of the exact pivot, 40 times below the
    #   bound: inside the band, where the rows would take it.
    # - seed 282130 (`spline(x1 / degree=52)` after x1-x6 with WEIGHT on 149 rows): about
    #   the means S1 17 and S1 56 come within 1.7e-3 and 1.0e-3 of their exact pivots
    #   against the raw sums' 1.6e-2 and 1.4e-2; the bound, 1.1 to 1.3 times those pivots,
    #   refuses them either way. The rows' factor clears them (root of the pivot 3.7e4 and
    #   2.8e4 times its bound, condition 1.4e8 and 1.6e8), but its agreement test refuses
    #   the raw sums' pivots, 1.6% and 1.4% from the rows' (S1 56 at 0.111 of its diagonal
    #   refused).
    # Forming the model's swept sums again from the rows' factor where that test fails
    # takes such columns, and the later swept pivots then agree with the exact ones to
    # 1e-6; but the bound stays 67 to 150 times them (the refused of S1 45 to S1 56, up to
    # 1.4e-3 of their diagonals), outside the band, and where the band is widened the bound
    # and the rows' first-order test refuse the columns after a nearly dependent one is
    # taken (seed 75: S1 14 to S1 25 at 0.3 to 0.8 of their diagonals, bound up to 2.4e3
    # times the pivot, factor condition 1.2e10). Every rebuild of the swept matrix from
    # X'X (BACKWARD's and STEPWISE's resweeps) would also lose such sums again: PivotRank's
    # bspline_d60 under BACKWARD then reports an error SS 4e-7 of the total from the least
    # squares of its columns.
    # Sums about the means alone take few of them. Stored dense (`performance alldense`, the
    # values shifted with the pages and the sums formed from centred rows), 8 of the 120
    # widespline programs from seed 700000 keep such findings against 9 stored sparse (100
    # lines against 123; one program gains them); seed 282130's S1 56 stays out (its swept
    # pivot 1.08% from the rows', the agreement test at 1%), and seed 75 takes S1 6 but
    # then refuses S1 8 and S1 18 at 0.15 and 0.12 of their diagonals with the bound 95 and
    # 136 times their pivots. Of those programs' refusals traced on the raw sums (40 of 52)
    # all but one lie in the rule's band and fail the rows' agreement test, the swept pivot
    # 1.0% to 7.8% (median 1.5%) from the rows'; about the means 24 of 26 do, 1.0% to 4.8%
    # (median 2.1%). The same sums about the means added in other orders of the rows move
    # these pivots as far (scripts/sumspivotspread.py, 200 orders: seed 75's S1 7 by 2.2% in
    # the median, seed 282130's S1 56 by 0.8% and up to 4.2%): no form of the sums resolves
    # them, and the oracle's double pivot that met the exact one within 1e-3 was one lucky
    # order. The oracle now asks that of five orders of the rows: seeds 75 and 282130 then
    # pass, and 2 of those 120 programs keep findings, stored sparse or dense (seed 700014
    # with the scenario: S1 1, whose sum of squares is 1.08 times the sweep's smallest
    # pivot 2^-511; seed 700069: S1 54 at 3.3e-6 of its diagonal, the bound 9.6e3 times its
    # pivot). Seed 400250 keeps S1 44 at 4.6e-4, a pivot the sums about the means resolve
    # (2.4e-6 off in the median order) and the raw sums lose; stored dense it is taken, and
    # S1 43 at 8.7e-4 is refused instead. Waits for sums of the constructed columns about
    # their means for such pivots, and for pivots the sweep carries on from the rows, with a
    # rounding bound of their own, for the columns whose sums cannot resolve them.
    "rank-raw-spline-sums": ("oracle finding: a spline column whose pivot the raw sums have "
                             "lost stays out", ("rank.accept",),
                             lambda c, f: any(e["kind"] == "spline" for e in c.effects)
                             and "Intercept" not in f.text),
}


def pending_for(case, finding):
    for pid, (what, families, cond) in PENDING.items():
        takes = cond.__code__.co_argcount
        if any(finding.family.startswith(f) for f in families) and (
                cond(case, finding) if takes == 2 else cond(case)):
            return pid
    return None
