"""Faults known and open: findings that match an entry here are reported as pending, not
counted as failures. Each entry names the open fault it waits for; remove the entry when
its mend lands, and the oracle counts those findings again."""

FIT = ("anova.", "estimate", "stderr", "fitstat.", "cvpress", "rank.", "output.", "summary",
       "path.", "threads")

# id: (fault it waits for, families (prefixes), condition on the case)
PENDING = {
    "tied-road-cv": (
        "seed 7100022 of the tied levels (EFFECT coding, BACKWARD by CV, a fold nearly "
        "dependent): step 0's CV PRESS is 5.879e13 on the many-level road, which the fold refits "
        "check passes, and 1.675e12 on the packed road (HIERARCHY=SINGLE), not yet looked into",
        ("rel.road.stat",), lambda case: case.seed in (7100022,)),
    "growing-many-levels": (
        "BUILDSSCP=INCREMENTAL asked for over a CLASS effect of about 3,000 levels keeps the fit "
        "off the many-level road, and the growing road's STEPWISE by CV then takes over five "
        "minutes where the default build takes a second (seeds 9300028, 8200222: the relation "
        "run times out; 7100087 of the tied levels, 1,526 levels, 30 s of CPU against 0.2 s, "
        "times out on a loaded machine)",
        ("rel.buildsscp.run",), lambda case: case.seed in (9300028, 8200222, 7100087)),
}


def pending_for(case, finding):
    for pid, (what, families, cond) in PENDING.items():
        takes = cond.__code__.co_argcount
        if any(finding.family.startswith(f) for f in families) and (
                cond(case, finding) if takes == 2 else cond(case)):
            return pid
    return None
