"""Faults known and open: findings that match an entry here are reported as pending, not
counted as failures. Each entry names the open fault it waits for; remove the entry when
its mend lands, and the oracle counts those findings again."""

FIT = ("anova.", "estimate", "stderr", "fitstat.", "cvpress", "rank.", "output.", "summary",
       "path.", "threads")

# id: (fault it waits for, families (prefixes), condition on the case)
PENDING = {
    "row-order-pivots": (
        "a wide spline's doubtful pivot judged by the 1% agreement of the sums' pivot with the "
        "rows': the sums' pivot sits 0.25 to 0.45 u Q below the rows' on these designs, so the "
        "order of the rows moves it across the 1% edge and the permuted run selects another "
        "model (8300118: 1.0079% refused, 0.9938% taken; 8300140: 0.94% taken, 1.51% refused)",
        ("rel.permute",), lambda case: case.seed in (8300118, 8300140)),
    "trial-noise-sse": (
        "STEPWISE by SL: a candidate that fits perfectly shows a log p-value formed from its "
        "trial's rounding-noise error SS (p = 1.4e-105) where its step, whose record takes "
        "that error SS as 0, prints p = 0 (9600613); applying the record's zero rule in the "
        "criterion function broke the candidates far from the origin that the rows choose",
        ("candidates.entry",), lambda case: case.seed in (9600613,)),
    "noint-far-build": (
        "STEPWISE without an intercept beside a response far from zero: BUILDSSCP=FULL and "
        "INCREMENTAL select 3 steps against 1 (9604765 of the NOINT scenario; its default draw "
        "passed three runs since), not yet traced",
        ("rel.buildsscp",), lambda case: case.seed in (9604765,)),
}


def pending_for(case, finding):
    for pid, (what, families, cond) in PENDING.items():
        takes = cond.__code__.co_argcount
        if any(finding.family.startswith(f) for f in families) and (
                cond(case, finding) if takes == 2 else cond(case)):
            return pid
    return None
