"""Faults known and open: findings that match an entry here are reported as pending, not
counted as failures. Each entry names the open fault it waits for; remove the entry when
its mend lands, and the oracle counts those findings again."""

FIT = ("anova.", "estimate", "stderr", "fitstat.", "cvpress", "rank.", "output.", "summary",
       "path.", "threads")

# id: (fault it waits for, families (prefixes), condition on the case)
PENDING = {
    "far-fold-press": (
        "FORWARD by CV over SPLIT(9) folds beside a degree-8 TPF spline and weights: fold 5, "
        "whose held-out rows hold nearly all the CV PRESS (1.4656e10), prints 14656308037.2338 "
        "where its exact refit gives 14656308037.2850 (3.5e-12 relative, scaled condition "
        "26.6); the oracle's held-out spread allows 1.4e-12. Not yet traced: the engine's "
        "move of the fold's sums to its training means, which the spread does not price, or "
        "digits the fold loses (9610198)",
        ("cvpress", "cvdetails.press"), lambda case: case.seed in (9610198,)),
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
        "two is the path is not yet traced (9620255)",
        ("cvex.press",), lambda case: case.seed in (9620255,)),
    "near-zero-trial-sse": (
        "BACKWARD by BIC beside a degree-11 spline of a far covariate (near 1.57e9), WEIGHT and "
        "FREQ, BY group 2 fitted to 1e-9 of its corrected total (675.05): x3's removal "
        "candidate shows BIC -384.406706 where its step prints -384.367953, error SS 1.2690e-6 "
        "against 1.2704e-6 (0.1%), both at the rounding the total's digits leave; shown since "
        "a trial keeps its own rounding bound (the previous main printed those steps' error "
        "SS as 0 beside candidate BICs near -1520); whether the oracle's allowance or the "
        "trial is at fault is not yet traced (9701800)",
        ("candidates.entry",), lambda case: case.seed in (9701800,)),
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
