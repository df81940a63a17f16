"""Faults known and open: findings that match an entry here are reported as pending, not
counted as failures. Each entry names the open fault it waits for; remove the entry when
its mend lands, and the oracle counts those findings again."""

FIT = ("anova.", "estimate", "stderr", "fitstat.", "cvpress", "rank.", "output.", "summary",
       "path.", "threads")

# id: (fault it waits for, families (prefixes), condition on the case)
PENDING = {
    "one-level-split": (
        "LASSO by BY groups, an EFFECT-coded CLASS g1 that holds one level in BY group 2 (no "
        "design column there): Dimensions says 5 effects after splits where the columns make "
        "4; whether a split effect whose only level is its reference is a record of no "
        "parameters is not yet read (9620098 of the path scenario)",
        ("header.splits",), lambda case: case.seed in (9620098,)),
    "cvex-glm-levels": (
        "LASSO with CHOOSE=CVEX over SPLIT(3) beside a GLM-coded CLASS: External CV PRESS "
        "9.527694 at step 3 where the folds' reference paths give 9.506891 (3 steps differ); "
        "the reference lars_path drops a degenerate regressor on these folds, so which of the "
        "two is the path is not yet traced (9620255; the drawn curve, SHOWCVEX$, parts from "
        "them alike)",
        ("cvex.press", "cvex.curve"), lambda case: case.seed in (9620255,)),
    "long-run-9700": (
        "three findings of 2,000 fresh programs that fail alike on the previous main, not yet "
        "traced: 9700683 (rows permuted, STEPWISE by CP beside a degree-58 spline with 13 "
        "knots and FREQ: 4 steps against 3); 9701075 (the road relation, NOINT STEPWISE by SL "
        "beside an EFFECT-coded CLASS and a degree-8 spline: 5 steps against 4); 9710148 of "
        "the widespline scenario (rows permuted, FORWARD beside a degree-50 spline by BY "
        "groups: 4 steps against 6)",
        ("rel.permute", "rel.road"),
        lambda case: case.seed in (9700683, 9701075, 9710148)),
}


def pending_for(case, finding):
    for pid, (what, families, cond) in PENDING.items():
        takes = cond.__code__.co_argcount
        if any(finding.family.startswith(f) for f in families) and (
                cond(case, finding) if takes == 2 else cond(case)):
            return pid
    return None
