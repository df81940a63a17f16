"""Faults known and open: findings that match an entry here are reported as pending, not
counted as failures. Each entry names the open fault it waits for; remove the entry when
its mend lands, and the oracle counts those findings again."""

FIT = ("anova.", "estimate", "stderr", "fitstat.", "cvpress", "rank.", "output.", "summary",
       "path.", "threads")

# id: (fault it waits for, families (prefixes), condition on the case)
PENDING = {
    "cv-rows": (
        "issue 74: CV PRESS from cross products where a factorisation of the fold's rows "
        "keeps it (seed 357: 2,112,001.73045 against refits of 2,112,001.73060, 2.5e-9 of "
        "the total at scaled condition 940: fold 3's training VIF 7.6e4 is below the "
        "refinement's 1e6, but its held-out rows lie at leverage 4.3e7 of them, and its "
        "coefficients from the sums miss by 7e-11 of its 2,111,993.0132 (QR: 8e-14); seed "
        "310, NOINT with a degree-60 spline: 5.50e45 against 2.42e49 at condition 6e9)",
        ("cvpress", "cvdetails.press"), lambda case: case.seed in (310, 357)),
    "wide-run": (
        "open findings of 1,000 fresh programs (seeds 4000000-4000999): 4000170, 4000350 and "
        "4000878 (CV PRESS of folds at scaled condition 2e7-1e8 off their refits)",
        ("",), lambda case: case.seed in (4000170, 4000350, 4000878)),
    "fresh-6": (
        "open findings of 1,000 fresh programs (seeds 6000000-6000999) on the build that split "
        "the model files: 6000131, 6000545 and 6000589 (CV PRESS far below the fold refits, "
        "folds at scaled condition 5e7-2.5e8, far covariates)",
        ("",), lambda case: case.seed in (6000131, 6000545, 6000589)),
    "cv-rows-wide": (
        "issue 74's class: a wide spline's CV PRESS 3.18993e23 against fold refits of "
        "3.19362e23, below their allowance from 3.18998e23 at scaled condition 1.2e13 "
        "(seed 5000727, steps 5 and the selected model)",
        ("cvpress",), lambda case: case.seed in (5000727,)),
}


def pending_for(case, finding):
    for pid, (what, families, cond) in PENDING.items():
        takes = cond.__code__.co_argcount
        if any(finding.family.startswith(f) for f in families) and (
                cond(case, finding) if takes == 2 else cond(case)):
            return pid
    return None
