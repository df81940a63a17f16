"""Faults known and open: findings that match an entry here are reported as pending, not
counted as failures. Each entry names the open fault it waits for; remove the entry when
its mend lands, and the oracle counts those findings again."""

FIT = ("anova.", "estimate", "stderr", "fitstat.", "cvpress", "rank.", "output.", "summary",
       "path.", "threads")

# id: (fault it waits for, families (prefixes), condition on the case)
PENDING = {
    "wide-run": (
        "open findings of 1,000 fresh programs (seeds 4000000-4000999): 4000230 (a polynomial "
        "candidate's PRESS 1e-8 off the PRESS its step forms, leverages within 1.4e-7 of 1), "
        "4000945 (STEPWISE over a wide spline: rows permuted, 5 steps against 6)",
        ("",), lambda case: case.seed in (4000230, 4000945)),
    "fresh-6": (
        "open findings of 1,000 fresh programs (seeds 6000000-6000999) on the build that split "
        "the model files: 6000131 and 6000268 (CV PRESS far below the fold refits, folds at "
        "scaled condition 5e7-1.2e8: the many-level road's fold state leaves out a level its "
        "training rows hold, which a factor of the rows cannot put back into that state), "
        "6000321 (NOINT "
        "far mean, BACKWARD by BY group: step 0's estimates 1.4e-8 off least squares), 6000365 "
        "and 6000843 (a candidate's SL or SBC 1.4e-8 and 2.3e-9 off its step's), 6000198 and "
        "6000268 (the many-level and packed roads enter other effects), 6000300 (model SS 0 "
        "where the total less the error is -1.1e-11)",
        ("",), lambda case: case.seed in (6000131, 6000198, 6000268, 6000300, 6000321, 6000365,
                                          6000843)),
}


def pending_for(case, finding):
    for pid, (what, families, cond) in PENDING.items():
        takes = cond.__code__.co_argcount
        if any(finding.family.startswith(f) for f in families) and (
                cond(case, finding) if takes == 2 else cond(case)):
            return pid
    return None
