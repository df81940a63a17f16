"""Faults known and open: findings that match an entry here are reported as pending, not
counted as failures. Each entry names the open fault it waits for; remove the entry when
its mend lands, and the oracle counts those findings again."""

FIT = ("anova.", "estimate", "stderr", "fitstat.", "cvpress", "rank.", "output.", "summary",
       "path.", "threads")

# id: (fault it waits for, families (prefixes), condition on the case)
PENDING = {
    "permute-poly-cv": (
        "rows permuted, LASSO by CV over INDEX folds beside a degree-7 polynomial of a column "
        "of about 0.1 and a response of about 1e-9: CV PRESS 5.7174318913e-13 at step 21 "
        "against 5.7174318301e-13 with the rows in order (1.1e-8 apart, allowed 5.6e-9; "
        "steps 22 and 23 alike); found beside the one-level-split mend and failing alike on "
        "the previous main, not yet traced (9620179 of the path scenario)",
        ("rel.permute",), lambda case: case.seed in (9620179,)),
    "stop-compare-cv": (
        "BACKWARD by CV beside a GLM-coded CLASS of many levels, BUILDSSCP=INCREMENTAL: Stop "
        "Details compares with 206.0682193797575 where the last step's summary and candidate "
        "print 206.06821938250363 for the same model (1.3e-11 apart; 7500037 of the cvremoval "
        "scenario; 7500095 alike, 574.3737718133096 against 574.3737718064249); the compare "
        "value is formed from the model's state after the stop's trials, not from the step's",
        ("stopdetails.compare",), lambda case: case.seed in (7500037, 7500095)),
}


def pending_for(case, finding):
    for pid, (what, families, cond) in PENDING.items():
        takes = cond.__code__.co_argcount
        if any(finding.family.startswith(f) for f in families) and (
                cond(case, finding) if takes == 2 else cond(case)):
            return pid
    return None
