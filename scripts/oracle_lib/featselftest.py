"""The oracle's own test of features.py and relations.py: sound runs of drawn feature cases
pass, and each number those checks own, made wrong by 1e-6 relative (a validation ASE, a
SCORE prediction, the CODE file's answer, a STORE estimate, a model average, an error SS
under NOINT, an L2 trial; and two of every kind of number of a case of every feature), or a
decision made wrong (the model CHOOSE= selects, an entry, the L2 search's next trial and
kept trial, a many-level CV PRESS or PRESS entry, an optimum marker among near ties), is
flagged by its family; the comparison of two runs flags a lost bit, a changed entry and a
changed DF, and lets a tie pass."""
import copy
import json
import math
import os
import re
import shutil
import tempfile

import numpy as np

from . import featgen, features, gen, relations, runqrx, selftest
from .runqrx import nodes


def sound(qrx, work, scenario, seed):
    case = gen.Case(seed)
    case.scenario = scenario
    featgen.make(case)
    _, rec, err = runqrx.run_program(qrx, work, case)
    return case, rec, err


def bump(rec, table, column, row=1, factor=1 + 1e-6, every=False):
    """The record with one cell of the first table so named (of every one) scaled; None when
    it has none."""
    r = copy.deepcopy(rec)
    done = False
    for n, _ in nodes(r["steps"][0]["output"]):
        if n.get("name") == table and n.get("kind") == "table":
            names = [c["name"] for c in n["columns"]]
            if column in names and len(n["rows"]) > row:
                j = names.index(column)
                if isinstance(n["rows"][row][j], (int, float)) and n["rows"][row][j]:
                    n["rows"][row][j] *= factor
                    done = True
                    if not every:
                        return r
    return r if done else None


def edit_csv(path, column, row, fn):
    with open(path) as fh:
        text = fh.read()
    lines = text.split("\n")
    head = lines[0].split(",")
    cells = lines[row + 1].split(",")
    j = head.index(column)
    cells[j] = repr(fn(float(cells[j])))
    lines[row + 1] = ",".join(cells)
    with open(path, "w") as fh:
        fh.write("\n".join(lines))
    return text


def expect(label, found, family):
    if any(f.family.startswith(family) for f in found):
        return 0
    print("featselftest: %s is not flagged as %s (%s)" % (label, family, "; ".join(map(str, found))))
    return 1


def find_seed(qrx, work, scenario, want, first=1, open_faults=()):
    """The first seed whose case of the scenario satisfies want(case) and runs soundly (but
    for findings of the families of open_faults)."""
    for seed in range(first, first + 60):
        case = gen.Case(seed)
        case.scenario = scenario
        featgen.make(case)
        if not want(case):
            continue
        _, rec, _ = runqrx.run_program(qrx, work, case)
        if rec and not [f for f in features.judge(case, work, rec, qrx)
                        if not f.family.startswith(tuple(open_faults) or "\0")]:
            return case, rec
    return None, None


def feature_checks(qrx, work):
    bad = 0
    case, rec = find_seed(qrx, work, "partition", lambda c: "choose=validate" in c.program
                          and c.method == "FORWARD")
    if case is None:
        print("featselftest: no sound partition case")
        return 1
    for col in ("ValidationASE", "TestASE"):
        wrong = bump(rec, "SelectionSummary", col)
        if wrong is not None:
            bad += expect("a wrong " + col, features.judge(case, work, wrong, qrx), "role.ase")
    # the selected model made another step's: CHOOSE=VALIDATE's step is judged
    wrong = bump(rec, "SelectionSummary", "ValidationASE", row=0, factor=1e-3)
    bad += expect("a step of least validation ASE not selected",
                  features.judge(case, work, wrong, qrx), "choose")

    case, rec = find_seed(qrx, work, "scoring", lambda c: c.method == "NONE" and any(
        v in ("EFFECT", "REF") for v in c.classes.values()))
    if case is None:
        print("featselftest: no sound scoring case")
        return bad + 1
    text = edit_csv(os.path.join(work, "so.csv"), "ps", 2, lambda v: v * (1 + 1e-6))
    bad += expect("a wrong SCORE prediction", features.judge(case, work, rec, qrx), "score")
    with open(os.path.join(work, "so.csv"), "w") as fh:
        fh.write(text)
    code = os.path.join(work, "code.py")
    with open(code) as fh:
        src = fh.read()
    with open(code, "w") as fh:
        fh.write(src.replace("import math", "import math\n_bias = 1 + 1e-6", 1)
                 .replace("def score(row):", "def score(row):\n    return _score(row) * _bias\n\n\n"
                          "def _score(row):", 1))
    bad += expect("scoring code off by 1e-6", features.judge(case, work, rec, qrx), "code")
    with open(code, "w") as fh:
        fh.write(src)
    path = os.path.join(work, "st.json")
    with open(path) as fh:
        store = json.load(fh)
    good = copy.deepcopy(store)
    store["groups"][0]["parameters"][1]["estimate"] *= 1 + 1e-6
    with open(path, "w") as fh:
        json.dump(store, fh)
    bad += expect("a wrong stored estimate", features.judge(case, work, rec, qrx), "store")
    store = copy.deepcopy(good)
    store["groups"][0]["errorVariance"] *= 1 + 1e-6
    with open(path, "w") as fh:
        json.dump(store, fh)
    bad += expect("a wrong stored error variance", features.judge(case, work, rec, qrx), "store")
    bad += store_checks(case, rec, qrx, work, good)

    bad += penalized_checks(qrx, work) + hierarchy_checks(qrx, work)
    bad += competitive_checks(qrx, work) + many_level_checks(qrx, work)
    bad += many_level_loo_checks(qrx, work)
    case, rec = find_seed(qrx, work, "extdata", lambda c: c.method != "LASSO")
    if case is not None:
        wrong = bump(rec, "SelectionSummary", "TestASE", row=1)
        bad += expect("a wrong test ASE of TESTDATA=", features.judge(case, work, wrong, qrx),
                      "role.ase")
    case, rec = find_seed(qrx, work, "partition", lambda c: c.opt["partition"] == "rolevar")
    if case is not None:
        # a role variable's TEST rows written out as training rows
        head, rows = runqrx.read_csv(os.path.join(work, "o.csv"))
        j = head.index("_ROLE_")
        with open(os.path.join(work, "o.csv"), "w") as fh:
            fh.write(",".join(head) + "\n")
            for r in rows:
                fh.write(",".join("TRAIN" if i == j and v == "TEST" else v
                                  for i, v in enumerate(r)) + "\n")
        bad += expect("rows of another role", features.judge(case, work, rec, qrx), "role")
    case, rec = find_seed(qrx, work, "modelavg", lambda c: c.opt["modelavg"] == "whole")
    if case is None:
        print("featselftest: no sound model-average case")
        return bad + 1
    bad += expect("a wrong mean estimate", features.judge(
        case, work, bump(rec, "AvgParmEst", "Mean"), qrx), "modelavg.whole")
    return bad


# the feature cases whose every kind of printed number is changed by 1e-6
SWEPT = [("scoring", lambda c: c.method == "NONE"), ("scoring", lambda c: c.method != "NONE"),
         ("penalized", lambda c: c.opt["penalized"] == "l2search" and not c.classes),
         ("partition", lambda c: "choose=validate" in c.program), ("extdata", lambda c: True),
         ("modelavg", lambda c: c.opt["modelavg"] == "whole"),
         ("penalized", lambda c: c.opt["penalized"] == "cvex"),
         ("penalized", lambda c: c.opt["penalized"] == "lscoeffs"),
         ("effects", lambda c: True), ("splines", lambda c: True),
         ("nointfar", lambda c: True), ("indexcv", lambda c: True)]
# kinds no check reads yet: reported, not counted (a kind caught here is taken off)
UNJUDGED = set()


def read_every_feature_number(qrx, work):
    """Each kind of printed number of a case of every feature (SWEPT) changed by 1e-6 of
    itself, two cells of every kind: the oracle must flag each but the kinds of UNJUDGED,
    which are reported. Returns the number of misses and the counts per kind."""
    counts, bad, unread = {}, 0, set()
    for scenario, want in SWEPT:
        case, rec = find_seed(qrx, work, scenario, want)
        if case is None:
            print("featselftest: no sound %s case to sweep" % scenario)
            bad += 1
            continue
        tried = [(kind, lambda w=where: features.judge(
            case, work, selftest.perturbed(rec, w, 1 + 1e-6), qrx))
            for kind, where in selftest.sample(selftest.numbers(rec), 2)]
        if scenario == "scoring":
            tried += file_numbers(case, rec, work, qrx)
        for kind, judge in tried:
            caught = bool(judge())
            if kind in UNJUDGED and not caught:
                unread.add(kind)
                continue
            selftest.tally(counts, "%s:%s" % (scenario, kind), caught)
    for kind, (caught, tried) in sorted(counts.items()):
        if caught < tried:
            print("featselftest: %s changed by 1e-6 is caught %d of %d times" % (kind, caught,
                                                                                 tried))
            bad += 1
    print("featselftest: feature numbers changed by 1e-6 and caught: %d kinds; not read: %s"
          % (len(counts), ", ".join(sorted(unread)) or "none"))
    return bad


def file_numbers(case, rec, work, qrx):
    """(kind, judge) for two numbers of every kind of the files a scoring case writes: the
    item store's leaves (a real number times 1 + 1e-6, a whole one plus 1) and SCORE's and
    OUTPUT's statistics; each judge writes the file changed, judges the run and puts the
    file back."""
    out = []
    path = os.path.join(work, "st.json")
    with open(path) as fh:
        good = fh.read()
    kinds = {}
    for leaf in json_leaves(json.loads(good), ()):
        kinds.setdefault("STORE." + ".".join("#" if isinstance(k, int) else k for k in leaf),
                         []).append(leaf)

    def store_judge(leaf):
        st = json.loads(good)
        at = st
        for k in leaf[:-1]:
            at = at[k]
        v = at[leaf[-1]]
        at[leaf[-1]] = v * (1 + 1e-6) if isinstance(v, float) else v + 1
        with open(path, "w") as fh:
            json.dump(st, fh)
        try:
            return features.judge(case, work, rec, qrx)
        finally:
            with open(path, "w") as fh:
                fh.write(good)
    for kind, leaves in sorted(kinds.items()):
        out += [(kind, lambda lf=lf: store_judge(lf)) for lf in {leaves[0]: 0, leaves[-1]: 0}]
    for name, cols in (("so.csv", ("ps", "rs")), ("o.csv", ("p", "r"))):
        head, rows = runqrx.read_csv(os.path.join(work, name))
        for c in cols:
            filled = [i for i, r in enumerate(rows) if r[head.index(c)] not in ("", ".")]
            for i in filled[:1] + filled[-1:]:
                out.append(("%s.%s" % (name, c), lambda n=name, c=c, i=i: csv_judge(
                    case, rec, work, qrx, n, c, i)))
    return out


def json_leaves(o, path):
    """The paths of the nonzero numbers of a JSON value."""
    if isinstance(o, dict):
        return [p for k, v in o.items() for p in json_leaves(v, path + (k,))]
    if isinstance(o, list):
        return [p for i, v in enumerate(o) for p in json_leaves(v, path + (i,))]
    return [path] if isinstance(o, (int, float)) and not isinstance(o, bool) and o else []


def csv_judge(case, rec, work, qrx, name, column, row):
    text = edit_csv(os.path.join(work, name), column, row, lambda v: v * (1 + 1e-6))
    try:
        return features.judge(case, work, rec, qrx)
    finally:
        with open(os.path.join(work, name), "w") as fh:
            fh.write(text)


def store_checks(case, rec, qrx, work, good):
    """The item store read back: a covariance entry, a coding row and OUTPUT's prediction
    that the store and the scoring code give, each made wrong by 1e-6."""
    bad = 0
    path = os.path.join(work, "st.json")
    g = good["groups"][0]
    k = len(g["parameters"])
    wrongs = [("a stored variance", "store.cov", lambda s: s["covariance"][1].__setitem__(
        1, s["covariance"][1][1] * (1 + 1e-6)))]
    if k > 2:
        wrongs.append(("a stored covariance", "store.cov", lambda s: [
            s["covariance"][i].__setitem__(j, s["covariance"][i][j] * (1 + 1e-6) + 1e-3 * math.sqrt(
                s["covariance"][1][1] * s["covariance"][2][2])) for i, j in ((1, 2), (2, 1))]))
    coded = [c for c in g["classes"] if c.get("codingRows")]
    if coded:
        wrongs.append(("a coding row", "store.predict", lambda s: s["groups"][0]["classes"][
            0]["codingRows"][0].__setitem__(0, 1 + 1e-6)))
    for label, family, edit in wrongs:
        store = copy.deepcopy(good)
        edit(store["groups"][0] if family == "store.cov" else store)
        with open(path, "w") as fh:
            json.dump(store, fh)
        bad += expect(label + " off by 1e-6", features.judge(case, work, rec, qrx), family)
    with open(path, "w") as fh:
        json.dump(good, fh)
    text = edit_csv(os.path.join(work, "o.csv"), "p", 2, lambda v: v * (1 + 1e-6))
    found = features.judge(case, work, rec, qrx)
    bad += expect("OUTPUT against the scoring code", found, "code")
    bad += expect("OUTPUT against the item store", found, "store.predict")
    with open(os.path.join(work, "o.csv"), "w") as fh:
        fh.write(text)
    return bad


def competitive_checks(qrx, work):
    """Competitive stepwise: an entry swapped for the runner-up, the chosen step shifted."""
    first = 1
    while True:
        case, rec = find_seed(qrx, work, "effects", lambda c: "drop=competitive" in c.program
                              and "select=SL" not in c.program and not c.byvars, first=first)
        if case is None:
            print("featselftest: no sound competitive stepwise case")
            return 1
        lead = [r[1] for n, p in nodes(rec["steps"][0]["output"])
                if p[1:2] == ("Step1",) and n.get("name") == "Candidates" for r in n["rows"]][:2]
        if len(lead) == 2 and all(e.startswith("x") and "*" not in e and "(" not in e
                                  for e in lead):
            return selftest.decision_corruptions(case, work, rec, "stepwise")
        first = case.seed + 1


def many_level_checks(qrx, work):
    """BACKWARD beside a CLASS effect of hundreds of levels: every candidate is judged through
    the levels' means; candidate values off by 1e-6 are flagged."""
    case, rec = find_seed(qrx, work, "tiedlevels", lambda c: c.method == "BACKWARD"
                          and "select=CV" not in c.program)
    if case is None:
        print("featselftest: no sound many-level BACKWARD case")
        return 1
    code = re.search(r"select=(\w+)", case.program).group(1).upper()
    wrong = bump(rec, "Candidates", {"ADJRSQ": "AdjRSq"}.get(code, code), row=0, every=True)
    if wrong is None:
        print("featselftest: the many-level case %d prints no candidates" % case.seed)
        return 1
    return expect("many-level candidates off by 1e-6", features.judge(case, work, wrong, qrx),
                  "candidates.value")


LEVELS_PROGRAM = """proc varsifter data=d outdesign(fullmodel names)=dz;
  class m1 / param=%s;
  model y = x1 x2 m1 / selection=forward(select=%s stop=none) details=all %s;
  output out=o predicted=p residual=r;
run;
"""


def levels_case(code, coding, seed):
    """A well-conditioned FORWARD by CV PRESS (SPLIT(3): some levels lose every training
    row in a fold) or PRESS over x1, x2 and a CLASS effect of 150 levels of three rows
    each, the levels and x1 both strong, so that the levels and a covariate lead a step."""
    case = gen.Case(seed)
    rng = case.rng
    levels = 150
    g = rng.permutation(np.repeat(np.arange(levels), 3))
    n = len(g)
    x1, x2 = rng.normal(size=n), rng.normal(size=n)
    case.add("x1", x1)
    case.add("x2", x2)
    case.add("m1", ["L%03d" % (v + 1) for v in g])
    case.add("y", 2.2 * x1 + 0.3 * x2 + 2 * rng.normal(size=levels)[g] + rng.normal(size=n))
    case.effects = [{"name": v, "kind": "cont", "vars": [v]} for v in ("x1", "x2")]
    case.effects.append({"name": "m1", "kind": "class", "vars": ["m1"]})
    case.classes = {"m1": coding}
    case.method, case.noint = "FORWARD", False
    case.foldm = ("SPLIT", 3) if code == "CV" else None
    case.tags = {"manylevels"}
    case.program = LEVELS_PROGRAM % (coding, code, "cvmethod=split(3)" if code == "CV" else "")
    return case


def many_level_loo_checks(qrx, work):
    """CV PRESS and PRESS beside a CLASS effect of 150 levels, through the levels' means: at
    the first step led by the levels and a covariate, the levels' candidate value off by 1e-6
    is flagged, and so is the runner-up in the winner's place."""
    bad = 0
    for code, coding in (("CV", "GLM"), ("CV", "REF"), ("PRESS", "EFFECT")):
        case = levels_case(code, coding, 41)
        _, rec, _ = runqrx.run_program(qrx, work, case)
        found = features.judge(case, work, rec, qrx) if rec else ["no run"]
        step = levels_step(rec)
        if found or step is None:
            print("featselftest: the %s case by %s is not sound or no step is led by the levels "
                  "and a covariate: %s" % (coding, code, "; ".join(map(str, found))))
            bad += 1
            continue
        wrong = copy.deepcopy(rec)
        for n, path in nodes(wrong["steps"][0]["output"]):
            if n.get("name") == "Candidates" and path[1:2] == (step,):
                j = [c["name"] for c in n["columns"]].index({"CV": "CVPRESS"}.get(code, code))
                for r in n["rows"]:
                    r[j] *= 1 + 1e-6 if r[1] == "m1" else 1
        bad += expect("the levels' %s candidate off by 1e-6 (%s)" % (code, coding),
                      features.judge(case, work, wrong, qrx), "candidates.value")
        bad += expect("the runner-up in the winner's place (%s, %s)" % (code, coding),
                      features.judge(case, work, swapped(rec, step), qrx), "decision.entry")
        if code == "CV" and coding == "GLM":
            bad += fold_width_checks(case, rec, work)
    return bad


def with_cv_press(rec, factor):
    """The record with every step's CV PRESS fit statistic scaled."""
    r = copy.deepcopy(rec)
    for n, path in nodes(r["steps"][0]["output"]):
        if n.get("name") == "FitStatistics" and path[0] == "StepDetails":
            for e in n["entries"]:
                if e["label"] == "CV PRESS" and isinstance(e["value"], float):
                    e["value"] *= factor
    return r


def fold_width_checks(case, rec, work):
    """Two runs' CV PRESS held to the width its folds' refits allow: 1e-6 apart is flagged,
    1e-13 apart (inside the folds' own allowance, outside a 1e-15 tolerance) is not."""
    bad = expect("a CV PRESS 1e-6 off another run's", relations.Compare(
        "t", case, rec, with_cv_press(rec, 1 + 1e-6), tol=1e-15, work=work).run(), "rel.t.stat")
    near = relations.Compare("t", case, rec, with_cv_press(rec, 1 + 1e-13), tol=1e-15,
                             work=work).run()
    if near:
        print("featselftest: a CV PRESS inside its folds' allowance is flagged: %s" % near[0])
        bad += 1
    return bad


def levels_step(rec):
    """The first step whose two leading candidates are m1 and a covariate."""
    for n, path in nodes(rec["steps"][0]["output"]):
        if n.get("name") == "Candidates":
            lead = [r[1] for r in n["rows"][:2]]
            if len(lead) == 2 and "m1" in lead and [e for e in lead if e != "m1"][0][0] in "xz":
                return path[1]
    return None


def swapped(rec, step):
    """The record with the step's winner and runner-up exchanged in its estimates."""
    r = copy.deepcopy(rec)
    pair = [[row[1] for row in n["rows"][:2]] for n, p in nodes(r["steps"][0]["output"])
            if n.get("name") == "Candidates" and p[1:2] == (step,)][0]
    for n, p in nodes(r["steps"][0]["output"]):
        if n.get("name") == "ParameterEstimates" and p[1:2] == (step,):
            cols = [c["name"] for c in n["columns"]]
            for row in n["rows"]:
                if row[cols.index("Effect")] in pair:
                    other = pair[1 - pair.index(row[cols.index("Effect")])]
                    row[cols.index("Effect")] = row[cols.index("Parameter")] = other
    return r


def hierarchy_checks(qrx, work):
    """HIERARCHY= in the greedy decisions: a sound run judged as if it had no hierarchy (or,
    without one, as if it had) shows a decision the rule forbids or one it does not explain."""
    bad = 0
    for have, family, first in ((True, "decision.entry", 1), (False, "decision.hierarchy", 10)):
        while True:
            case, rec = find_seed(qrx, work, "effects", lambda c: c.method in (
                "FORWARD", "BACKWARD", "STEPWISE") and ("hierarchy=" in c.program) == have,
                first=first)
            if case is None:
                print("featselftest: no case shows a decision %s HIERARCHY=" % (
                    "under" if have else "without"))
                bad += 1
                break
            other = copy.copy(case)
            other.program = re.sub(r"hierarchy=\w+", "hierarchy=none", case.program) if have \
                else case.program.replace("details=all", "details=all hierarchy=single", 1)
            if any(f.family == family for f in features.judge(other, work, rec, qrx)):
                break
            first = case.seed + 1
    return bad


def penalized_checks(qrx, work):
    """LSCOEFFS' estimates are each step's least squares; at L1=0 the solver's fit is."""
    bad = 0
    case, rec = find_seed(qrx, work, "penalized", lambda c: c.opt["penalized"] == "lscoeffs")
    if case is None:
        print("featselftest: no sound LSCOEFFS case")
        return 1
    wrong = bump(rec, "ParameterEstimates", "Estimate", row=1, factor=1.001, every=True)
    bad += expect("an estimate off least squares under LSCOEFFS",
                  features.judge(case, work, wrong, qrx), "lscoeffs")
    case, rec = find_seed(qrx, work, "penalized", lambda c: c.opt.get("l1") == 0.0)
    if case is None:
        print("featselftest: no sound case at L1=0")
        return bad + 1
    wrong = copy.deepcopy(rec)
    for n, path in nodes(wrong["steps"][0]["output"]):
        if n.get("name") == "ParameterEstimates":
            j = [c["name"] for c in n["columns"]].index("Estimate")
            for r in n["rows"]:
                r[j] = r[j] * 1.05 if isinstance(r[j], float) else r[j]
    fc = features.FeatureChecks(case, work, wrong, qrx, case, work)
    fc.check_penalized()
    bad += expect("a solver's fit at L1=0 off least squares", fc.findings, "qk.l1zero")
    bad += cvex_checks(qrx, work) + l2search_checks(qrx, work)
    # the adaptive LASSO's weights follow GAMMA=: the path judged as another gamma's is not
    case, rec = find_seed(qrx, work, "penalized", lambda c: c.opt["penalized"] == "adaptive"
                          and "selection=lasso" in c.program and not c.classes)
    if case is None:
        print("featselftest: no sound adaptive LASSO case")
        return bad + 1
    other = copy.copy(case)
    g = float(re.search(r"gamma=([0-9.e+-]+)", case.program).group(1))
    other.program = case.program.replace("gamma=%g" % g, "gamma=%r" % (g * 1.05))
    return bad + expect("adaptive weights of another gamma", features.judge(other, work, rec, qrx),
                        "path.kkt")


def l2search_checks(qrx, work):
    """The elastic net's L2 search, on a golden-section search of at least four trials and
    a grid: a trial's criterion, L2 and the graph's copy of it, a trial dropped, another trial
    marked optimal, the chosen L2, the summary's settings and the final fit's criterion."""
    bad = 0
    for method in ("golden", "grid"):
        first = 1
        while True:
            case, rec = find_seed(qrx, work, "penalized", lambda c: c.opt["penalized"] ==
                                  "l2search" and not c.classes and "l2search=" + method in
                                  c.program and int(re.search(r"l2steps=(\d+)", c.program)
                                                    .group(1)) >= 4, first=first)
            if case is None:
                print("featselftest: no sound %s L2 search case with a trial inside its path"
                      % method)
                bad += 1
                break
            trials = runqrx.table_rows(find_all(rec, "ElasticNetTuneL2")[0])
            if all(any(r[c] for r in trials) for c in ("L1Ratio", "L1Norm", "L2Norm")):
                bad += l2search_wrongs(case, rec, qrx, work, method)
                break
            first = case.seed + 1
    return bad


def l2search_wrongs(case, rec, qrx, work, method):
    """The search's decisions made wrong: a trial's L2 moved (the replay), the last trial
    dropped, another trial marked optimal, a trial's parameter count. Its numbers changed by
    1e-6 are swept with every other kind (read_every_feature_number)."""
    def edited(fn):
        r = copy.deepcopy(rec)
        for n, _ in nodes(r["steps"][0]["output"]):
            if n.get("name") == "ElasticNetTuneL2":
                fn(n, [c["name"] for c in n.get("columns", [])])
        return r

    def flip(n, cols):
        for r in n["rows"] if "OptCriterion" in cols else []:
            r[cols.index("OptCriterion")] = 1 - r[cols.index("OptCriterion")]

    def count(n, cols):
        if "nVar" in cols:
            n["rows"][0][cols.index("nVar")] += 1
    wrongs = [
        ("a trial's L2 off by 1e-6", "l2search.trial",
         bump(rec, "ElasticNetTuneL2", "L2", row=3)),
        ("the last trial dropped", "l2search.trial", edited(lambda n, _: n["rows"].pop())),
        ("another trial marked optimal", "l2search.choose", edited(flip)),
        ("a trial's parameter count one more", "l2search.step", edited(count)),
    ]
    bad = 0
    for label, family, wrong in wrongs:
        bad += expect("%s (%s search)" % (label, method), features.judge(case, work, wrong, qrx),
                      family)
    return bad


def find_all(rec, name):
    return [n for n, _ in nodes(rec["steps"][0]["output"]) if n.get("name") == name]


def cvex_checks(qrx, work):
    """External cross validation: the summary's error of a step against the folds' paths,
    each fold's knots against its own path, and a step's printed error against the
    summary's."""
    case, rec = find_seed(qrx, work, "penalized", lambda c: c.opt["penalized"] == "cvex",
                          open_faults=("cvex.step",))
    if case is None:
        print("featselftest: no sound CHOOSE=CVEX case")
        return 1
    bad = expect("a wrong External CV PRESS in the summary", features.judge(
        case, work, bump(rec, "SelectionSummary", "CVEXPRESS", row=2), qrx), "cvex.press")
    # a fold's path (SHOWCVEX$): its held-out error, its curvature, the path value (as a
    # ratio and in lambda's units) and the norms at a knot
    for col in ("ASEValidate", "Interpolation", "L1Ratio", "L1Value", "L1Norm", "L2Norm"):
        bad += expect("a fold's %s off its path" % col, features.judge(
            case, work, bump(rec, "CVExternal", col, row=2), qrx), "cvex.fold")
    # each step's fit statistics given the summary's value: sound, then one of them wrong
    good = copy.deepcopy(rec)
    summary = {r["Step"]: r["CVEXPRESS"] for n, _ in nodes(good["steps"][0]["output"])
               if n.get("name") == "SelectionSummary" for r in runqrx.table_rows(n)}
    for n, path in nodes(good["steps"][0]["output"]):
        if n.get("name") == "FitStatistics" and path[0] == "StepDetails":
            for e in n["entries"]:
                if e["label"] == "External CV PRESS":
                    e["value"] = summary[int(path[1][4:])]
    found = [f for f in features.judge(case, work, good, qrx) if f.family.startswith("cvex")]
    if found:
        print("featselftest: sound CVEX step statistics are flagged: %s" % found[0])
        bad += 1
    for n, path in nodes(good["steps"][0]["output"]):
        if n.get("name") == "FitStatistics" and path[0] == "StepDetails" and path[1] == "Step2":
            for e in n["entries"]:
                if e["label"] == "External CV PRESS":
                    e["value"] *= 1 + 1e-6
    return bad + expect("a step's External CV PRESS off the summary's",
                        features.judge(case, work, good, qrx), "cvex.step")


def tie_checks(qrx, work):
    """Under NOINT beside a far response every step's Adj R-Sq lies within 1e-12 of 1, so the
    tie rule, not the largest value, places the optimum: its marker moved to another row is
    flagged."""
    case, rec = find_seed(qrx, work, "nointfar", lambda c: c.method in ("FORWARD", "STEPWISE"))
    if case is None:
        print("featselftest: no sound NOINT stepwise case beside a far response")
        return 1
    wrong = copy.deepcopy(rec)
    for n, _ in nodes(wrong["steps"][0]["output"]):
        if n.get("name") == "SelectionSummary" and len(n["rows"]) > 1:
            j = [c["name"] for c in n["columns"]].index("OptAdjRSq")
            marks = [r[j] for r in n["rows"]]
            for r, m in zip(n["rows"], marks[-1:] + marks[:-1]):
                r[j] = m
    return expect("the Adj R-Sq optimum moved among near ties",
                  features.judge(case, work, wrong, qrx), "summary.opt")


def relation_checks(qrx, work):
    """The comparison of two runs on records of one sound run and their corruptions."""
    bad = 0
    case, rec = find_seed(qrx, work, "splines", lambda c: c.method == "FORWARD"
                          and "stop=none" in c.program)
    if case is None:
        print("featselftest: no sound FORWARD case")
        return 1
    same = relations.Compare("t", case, rec, copy.deepcopy(rec), exact=True, work=work).run()
    if same:
        print("featselftest: a run differs from its own copy: %s" % "; ".join(map(str, same)))
        bad += 1
    wrong = bump(rec, "ANOVA", "SS", row=1, factor=1 + 2.0 ** -52)
    if wrong is not None:
        bad += expect("an error SS one bit off", relations.Compare(
            "t", case, rec, wrong, exact=True, work=work).run(), "rel.t.bits")
    wrong = bump(rec, "ANOVA", "SS", row=1, factor=1 + 1e-6)
    if wrong is not None:
        bad += expect("an error SS 1e-6 off", relations.Compare(
            "t", case, rec, wrong, tol=1e-9, work=work).run(), "rel.t.ss")
    # another entry at step 1, with the error SS another effect leaves (the same SS would
    # be a tie, which either run may break its own way)
    wrong = bump(rec, "ANOVA", "SS", row=1, factor=1.01, every=True)
    for n, path in nodes(wrong["steps"][0]["output"]) if wrong else []:
        if n.get("name") == "SelectionSummary" and len(n["rows"]) > 1:
            j = [c["name"] for c in n["columns"]].index("EffectEntered")
            n["rows"][1][j] = "another"
            out = relations.Compare("t", case, rec, wrong, work=work).run()
            bad += expect("another entry", out, "rel.t.select")
            tie = copy.deepcopy(rec)
            for m, _ in nodes(tie["steps"][0]["output"]):
                if m.get("name") == "SelectionSummary":
                    m["rows"][1][j] = "another"
            out = relations.Compare("t", case, rec, tie, work=work).run()
            if out:
                print("featselftest: a tie is flagged: %s" % "; ".join(map(str, out)))
                bad += 1
            break
    # the error SS of a step against the SSE of its own estimates (NOINT's check, which
    # holds for every least-squares step)
    fc = features.FeatureChecks(case, work, rec, qrx, case, work)
    fc.check_nointfar()
    if fc.findings:
        print("featselftest: a sound step's error SS is flagged: %s" % fc.findings[0])
        bad += 1
    fc = features.FeatureChecks(case, work, bump(rec, "ANOVA", "SS", row=1, every=True), qrx,
                                case, work)
    fc.check_nointfar()
    bad += expect("an error SS off its estimates' SSE", fc.findings, "noint.sse")
    # eight threads against one: the last bits of one standard error in a copy of the record
    other = bump(rec, "ParameterEstimates", "StdErr", row=1, factor=1 + 2.0 ** -50)
    if relations.table_bits(rec, copy.deepcopy(rec)):
        print("featselftest: a record differs from its copy in its bits")
        bad += 1
    if other is not None:
        bad += expect("a standard error's last bits", relations.table_bits(rec, other),
                      "rel.threads.bits")
    # the relations that apply: no permutation where folds are dealt by the rows' order
    c2 = copy.copy(case)
    c2.program = case.program.replace("details=all", "details=all cvmethod=split(3)", 1)
    if "permute" in relations.applicable(c2) or "permute" not in relations.applicable(case):
        print("featselftest: the permutation applies where SPLIT folds follow the rows' order")
        bad += 1
    # the relations that apply: FREQ=2 against each row written twice
    n = len(case.columns["y"])
    t = relations.transformed(case, {"f2": [2.0] * n}, rows=[i for i in range(n) for _ in (0, 1)])
    if len(t.columns["y"]) != 2 * n or t.columns["y"][1] != case.columns["y"][0]:
        print("featselftest: rows written twice are not the data's rows in order")
        bad += 1
    return bad


def main(qrx):
    np.seterr(all="ignore")
    work = tempfile.mkdtemp(prefix="oracle-featselftest-")
    try:
        bad = feature_checks(qrx, work)
        bad += read_every_feature_number(qrx, work)
        bad += relation_checks(qrx, work)
        bad += tie_checks(qrx, work)
        print("featselftest: %s" % ("passed" if not bad else "%d failed" % bad))
        return 1 if bad else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)
