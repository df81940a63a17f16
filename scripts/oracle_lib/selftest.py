"""The oracle's own test: a fixed sound case passes, and the same record with one printed
number made wrong (an error SS, an estimate, a model DF, a CV PRESS, a prediction's
estimate) is flagged by the family that owns that number; every kind of printed number of
four well-conditioned programs changed by 1e-6 of itself is flagged, and so are a wrong
entry, a shifted chosen step and a misplaced optimum marker."""
import copy
import json
import math
import os
import re
import shutil
import tempfile
import types

import numpy as np

from . import check, gen, ref, runqrx
from .runqrx import nodes

PROGRAM = """proc varsifter data=d outdesign(fullmodel names)=dz;
  class g1 / param=effect;
  model y = x1 x2 x3 g1 / selection=forward(select=cv stop=none) cvmethod=split(4)
        details=all stats=(aic aicc sbc bic cp adjrsq press ase);
  output out=o predicted=p residual=r;
run;
"""


def selected(rec, name):
    for n, path in nodes(rec["steps"][0]["output"]):
        if path and path[0] == "SelectedModel" and n.get("name") == name:
            return n
    raise KeyError(name)


def corrupt(rec, how):
    r = copy.deepcopy(rec)
    if how == "anova.sse":
        selected(r, "ANOVA")["rows"][1][2] *= 1 + 1e-6
    elif how == "estimate":
        row = selected(r, "ParameterEstimates")["rows"][1]
        i = [c["name"] for c in selected(r, "ParameterEstimates")["columns"]].index("Estimate")
        row[i] *= 1 + 1e-5
    elif how == "anova.df":
        selected(r, "ANOVA")["rows"][0][1] += 1
    elif how == "cvpress":
        for e in selected(r, "FitStatistics")["entries"]:
            if e["label"] == "CV PRESS":
                e["value"] *= 1 + 1e-5
    elif how == "fitstat.press":
        for e in selected(r, "FitStatistics")["entries"]:
            if e["label"] == "PRESS":
                e["value"] *= 1 + 1e-5
    elif how == "rank.accept":
        # x2 refused, though no column taken before or after it comes near its span
        t = selected(r, "ParameterEstimates")
        names = [c["name"] for c in t["columns"]]
        for row in t["rows"]:
            if row[names.index("Parameter")] == "x2":
                row[names.index("DF")] = 0
    elif how == "fitstat.sbc":
        for e in selected(r, "FitStatistics")["entries"]:
            if e["label"] == "SBC":
                e["value"] += 1e-3
    return r


REFUSAL = """proc varsifter data=d outdesign(fullmodel names)=dz;
  class g1 / param=effect;
  by b;
  model y = x1 g1 / selection=stepwise(select=SL) noint;
run;
"""


def judged(judge, case, error, qrx):
    """What a refusal's judgement says of `error` on the case's data, written to a scratch
    folder of its own."""
    work = tempfile.mkdtemp(prefix="oracle-selftest-")
    try:
        with open(os.path.join(work, "d.csv"), "w") as fh:
            fh.write(case.csv_text())
        return judge(case, [error], work, qrx)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def refusal_check(qrx):
    """An empty NOINT model refused in a BY group beside a CLASS effect is judged sound where
    the response is orthogonal to x1 and to every level in that group, unsound where x1
    explains it. Returns the number of wrong judgements."""
    bad = 0
    for slope, sound in ((0.0, True), (3.0, False)):
        case = gen.Case(1)
        rng = case.rng
        x1 = rng.normal(size=40)
        g = ["L%d" % (j % 4) for j in range(40)]
        levels = np.array([[1.0 if v == "L%d" % k else 0.0 for k in range(4)] for v in g])
        A = np.column_stack([x1, levels])[:20]
        noise = rng.normal(size=20)
        y = np.concatenate([noise - A @ np.linalg.lstsq(A, noise, rcond=None)[0],
                            rng.normal(size=20)])
        case.add("b", [1] * 20 + [2] * 20)
        case.add("x1", x1)
        case.add("g1", g)
        case.add("y", y + slope * x1)
        case.effects = [{"name": "x1", "kind": "cont", "vars": ["x1"]},
                        {"name": "g1", "kind": "class", "vars": ["g1"]}]
        case.classes, case.by = {"g1": "EFFECT"}, "b"
        case.method, case.noint, case.program = "STEPWISE", True, REFUSAL
        error = {"text": "No effect could be estimated; the selected model has no parameters.",
                 "values": ["the BY group b=1"]}
        if judged(check.nothing_enters, case, error, qrx) != sound:
            print("selftest: an empty model with slope %g is judged %s" % (
                slope, "unsound" if sound else "sound"))
            bad += 1
    return bad


SATURATED = """proc varsifter data=d outdesign(fullmodel names)=dz;
  class g1 / param=effect;
  model y = x1 g1 / selection=forward(select=cp);
run;
"""


def saturation_check(qrx):
    """CP refused for want of a full-model error variance is judged sound on ten rows of
    ten levels, unsound on ten rows of five levels. Returns the number of wrong
    judgements."""
    bad = 0
    for levels, sound in ((10, True), (5, False)):
        case = gen.Case(2)
        case.add("x1", case.rng.normal(size=10))
        case.add("g1", ["L%d" % (j % levels) for j in range(10)])
        case.add("y", case.rng.normal(size=10))
        case.effects = [{"name": "x1", "kind": "cont", "vars": ["x1"]},
                        {"name": "g1", "kind": "class", "vars": ["g1"]}]
        case.classes, case.method, case.noint = {"g1": "EFFECT"}, "FORWARD", False
        case.program = SATURATED
        error = {"text": "The CP or BIC criterion needs the error variance of the full "
                 "model, and that variance is 0."}
        if judged(check.saturated_full_model, case, error, qrx) != sound:
            print("selftest: a full model of %d levels on ten rows is judged %s" % (
                levels, "unsaturated" if sound else "saturated"))
            bad += 1
    return bad


def unshifted_check():
    """Only a B-spline basis of more than 10 columns counts as summed unshifted, and the
    pivots of such columns are taken from their raw sums: a near copy far from zero, which
    sums about the means resolve, loses its pivot there. Returns the number of wrong
    judgements."""
    bad = 0
    case = gen.Case(3)
    case.effects = [{"name": "s1", "kind": "spline", "vars": ["x1"], "opts": "degree=10"},
                    {"name": "s2", "kind": "spline", "vars": ["x1"],
                     "opts": "degree=10 basis=tpf"},
                    {"name": "s3", "kind": "spline", "vars": ["x1"], "opts": "degree=3"}]
    params = [(None, None, {"Effect": e}) for e, k in (("S1", 14), ("S2", 14), ("S3", 7))
              for _ in range(k)]
    if check.unshifted_columns(case, params) != set(range(14)):
        print("selftest: the unshifted columns are %s" % sorted(
            check.unshifted_columns(case, params)))
        bad += 1
    rng = case.rng
    x = rng.normal(size=40)
    X = np.column_stack([x, x + 1e-4 * rng.normal(size=40)]) + 1e4
    wf = rng.uniform(0.5, 1.5, size=40)
    _, exact, _ = ref.pivot_ratios(ref.exact_gram(X, wf, False), [0], [1])
    d = type("Rows", (), {"wf": wf, "noint": False})
    for raw, held in (((), True), ({0, 1}, False)):
        pivots = check.held_pivots(X, d, [0], [1], set(), raw)
        if all(abs(p[1] - exact[1]) <= 1e-3 * exact[1] for p in pivots) != held:
            print("selftest: a near copy far from zero is %s by sums %s" % (
                "lost" if held else "held", "raw" if raw else "about the means"))
            bad += 1
    return bad


def lar_ties(X, w, y, coefs):
    """The largest breach of LAR's ties over the knots of coefs (on the scale of columns
    and response scaled to unit weighted norm): at each knot but the last the active
    columns' absolute correlations with the residual are equal and none below an inactive
    column's; at the last, the residual is orthogonal to every column."""
    sw = np.sqrt(w)
    A = (X - (w @ X) / w.sum()) * sw[:, None]
    A /= np.sqrt((A * A).sum(axis=0))
    b = (y - (w @ y) / w.sum()) * sw
    b /= np.sqrt(b @ b)
    worst = 0.0
    for k in range(1, coefs.shape[1]):
        c = np.abs(A.T @ (b - A @ coefs[:, k]))
        act = coefs[:, k] != 0
        top = c[act].max() if k < coefs.shape[1] - 1 else 0.0
        worst = max(worst, np.max(np.abs(c[act] - top)), np.max(c[~act] - top, initial=0.0))
    return worst


def lar_reference_check():
    """The exact LAR path meets lars_path on a design where lars_path is sound; on one
    where an active coefficient crosses zero lars_path is judged unsound and the exact
    path still keeps LAR's ties; the exact LASSO path meets lars_path's on a design where
    it drops a column. Returns the number of failures."""
    from sklearn.linear_model import lars_path
    rng = np.random.default_rng(7)
    todo = {"lar": 1, "crossing": 1, "drop": 1}
    bad = 0
    for _ in range(200):
        n, p = 30, 5
        X = rng.normal(size=(n, p)) @ rng.normal(size=(p, p))
        w = rng.integers(0, 4, size=n).astype(float)
        y = X @ rng.normal(size=p) + rng.normal(size=n)
        sw = np.sqrt(w)
        A = (X - (w @ X) / w.sum()) * sw[:, None]
        s = np.sqrt((A * A).sum(axis=0))
        b = (y - (w @ y) / w.sum()) * sw
        ys = float(np.sqrt(b @ b))
        d = types.SimpleNamespace(wf=w, y=y)
        for method in ("LAR", "LASSO"):
            alphas, _, coefs = lars_path(A / s, b / ys, method=method.lower())
            sound = check.lars_sound(alphas, coefs, method)
            kind = {("LAR", True): "lar", ("LAR", False): "crossing"}.get((method, sound))
            if method == "LASSO" and sound and coefs.shape[1] > p + 1:
                kind = "drop"
            if not todo.get(kind):
                continue
            todo[kind] = 0
            _, exact = check.exact_lars(X, d, s, ys, method)
            if kind == "crossing":
                if lar_ties(X, w, y, exact) > 1e-9:
                    print("selftest: the exact LAR path breaks LAR's ties by %g"
                          % lar_ties(X, w, y, exact))
                    bad += 1
            elif exact.shape != coefs.shape or np.max(np.abs(exact - coefs)) > 1e-9:
                print("selftest: the exact %s path leaves lars_path's sound one (%s)" % (method, kind))
                bad += 1
        if not any(todo.values()):
            return bad
    print("selftest: no design for %s" % ", ".join(k for k, v in todo.items() if v))
    return bad + 1


def far_folds_check():
    """The fold refits of a weighted response near 1.8e9 and 4.1e8, whose held-out errors
    are near 0.3, equal exact refits (tests/data/farresponse, from
    scripts/gen_cv_far_weight_ref.py) with the intercept and as a column under NOINT: a
    held-out prediction rounded at the response's magnitude errs by 2e-7 there. With the
    intercept these folds are well conditioned, so the range cross products in double leave
    the sum must stay within 1e-9 of it: a sensitivity bound that loose on ordinary folds
    would pass wrong engines. Returns the number of wrong references and ranges."""
    bad = 0
    data = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__)))), "tests", "data", "farresponse")
    head, rows = runqrx.read_csv(os.path.join(data, "farweight.csv"))
    cols = {h: np.array([float(r[j]) for r in rows]) for j, h in enumerate(head)}
    for g, rule, names, exact in runqrx.read_csv(os.path.join(data, "farweight_ref.csv"))[1]:
        grp = cols["g"] == float(g)
        n = int(grp.sum())
        folds = {"split": np.arange(n) % 4, "block": np.repeat(np.arange(4), n // 4),
                 "index": cols["fold"][grp]}[rule]
        X = np.column_stack([np.ones(n)] + [cols[c][grp] for c in names.split()])
        for noint, tol in ((False, 1e-12), (True, 1e-9)):
            got, _, low, high = ref.cv_press(X if noint else X[:, 1:], cols["y"][grp],
                                             cols["w"][grp], folds, noint)
            if abs(got - float(exact)) > tol * float(exact):
                print("selftest: group %s %s folds of %r%s: CV PRESS %r, exact %s" % (
                    g, rule, names, " (NOINT)" if noint else "", got, exact))
                bad += 1
            if not noint and not low <= got <= high <= low + 1e-9 * got:
                print("selftest: group %s %s folds of %r: CV PRESS %r, range %r to %r" % (
                    g, rule, names, got, low, high))
                bad += 1
    return bad


def sound_record(qrx, work, case, what):
    """The record of the case run in `work` and the number of failures: 1 when qrx wrote no
    record (the record is then None) or the oracle flags the sound run."""
    _, rec, err = runqrx.run_program(qrx, work, case)
    if rec is None:
        print("selftest: qrx wrote no record of the %s: %s" % (what, err))
        return None, 1
    base = check.Checker(case, work, rec).run()
    if base:
        print("selftest: the sound %s is flagged: %s" % (what, "; ".join(map(str, base))))
    return rec, 1 if base else 0


GROUPLASSO = """proc varsifter data=d outdesign(fullmodel names)=dz;
  class g1 / param=effect;
  weight w;
  model y = x1 x2 g1 / selection=grouplasso(stop=none maxsteps=30) details=all;
  output out=o predicted=p residual=r;
run;
"""


def group_lasso_check(qrx):
    """A group LASSO path over a CLASS effect and two columns under weights passes, and the
    same record with the last step's estimate of the CLASS effect shrunk by 1e-4 (a solve stopped
    short) is flagged as off its optimum. Returns the number of failures."""
    case = gen.Case(4)
    rng = case.rng
    n = 80
    x1, x2 = rng.normal(size=n), 3.0 * rng.normal(size=n)
    g = rng.integers(0, 4, n)
    case.add("x1", x1)
    case.add("x2", x2)
    case.add("g1", ["L%d" % v for v in g])
    case.add("w", rng.uniform(0.5, 2.0, n))
    case.add("y", x1 + 0.2 * x2 + np.array([0.0, 1.0, -1.0, 0.5])[g] + rng.normal(size=n))
    case.effects = [{"name": v, "kind": "cont", "vars": [v]} for v in ("x1", "x2")]
    case.effects.append({"name": "g1", "kind": "class", "vars": ["g1"]})
    case.classes, case.weight = {"g1": "EFFECT"}, "w"
    case.method, case.noint, case.foldm, case.program = "GROUPLASSO", False, None, GROUPLASSO
    work = tempfile.mkdtemp(prefix="oracle-selftest-")
    try:
        rec, bad = sound_record(qrx, work, case, "group LASSO path")
        if rec is None:
            return bad
        r = copy.deepcopy(rec)
        label, last = None, None
        for t, path in nodes(r["steps"][0]["output"]):
            if t.get("name") == "ParameterEstimates" and path[:1] == ("StepDetails",):
                names = [c["name"] for c in t["columns"]]
                rows = [row for row in t["rows"] if row[names.index("Effect")] == "g1"]
                if rows:
                    last, label = (rows[0], names.index("Estimate")), path[1]
        if last:
            last[0][last[1]] *= 1 - 1e-4
        found = check.Checker(case, work, r).run()
        if label is None or not any(f.family == "path.kkt" and f.where == label for f in found):
            print("selftest: a group LASSO estimate off its optimum is not flagged at %s (%s)"
                  % (label, "; ".join(map(str, found))))
            bad += 1
        return bad
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main(qrx):
    work = tempfile.mkdtemp(prefix="oracle-selftest-")
    try:
        case = gen.Case(0)
        rng = case.rng
        n = 60
        xs = [rng.normal(size=n) for _ in range(3)]
        for j, x in enumerate(xs):
            case.add("x%d" % (j + 1), x)
        g = [j % 3 for j in range(n)]
        case.add("g1", ["L%d" % v for v in g])
        case.add("y", 1e3 + xs[0] + 0.5 * xs[1] + rng.normal(size=n))
        case.effects = [{"name": v, "kind": "cont", "vars": [v]} for v in ("x1", "x2", "x3")]
        case.effects.append({"name": "g1", "kind": "class", "vars": ["g1"]})
        case.classes = {"g1": "EFFECT"}
        case.method, case.noint, case.foldm = "FORWARD", False, ("SPLIT", 4)
        case.program = PROGRAM
        rec, bad = sound_record(qrx, work, case, "case")
        if rec is None:
            return bad
        for how in ("anova.sse", "estimate", "anova.df", "cvpress", "fitstat.sbc", "fitstat.press",
                    "rank.accept"):
            found = check.Checker(case, work, corrupt(rec, how)).run()
            if not any(f.family == how and f.where == "Selected" for f in found):
                print("selftest: a wrong %s is not flagged (%s)" % (how, "; ".join(map(str, found))))
                bad += 1
        # A spline's overflow refusal is sound only where its sums of squares overflow.
        case.effects.append({"name": "s1", "kind": "spline", "vars": ["x1"],
                             "opts": "degree=60 basis=tpf"})
        refusal = [{"text": "The sums of squares of S1 are too large to be held"}]
        for scale, sound in ((1.0, False), (1e3, True)):
            case.columns["x1"] = list(xs[0] * scale)
            if check.spline_too_large(case, refusal) != sound:
                print("selftest: a spline refusal at scale %g is judged %s" % (
                    scale, "unsound" if sound else "sound"))
                bad += 1
        bad += refusal_check(qrx)
        bad += saturation_check(qrx)
        bad += unshifted_check()
        bad += lar_reference_check()
        bad += far_folds_check()
        bad += group_lasso_check(qrx)
        bad += fold_allowance_check()
        bad += levels_removal_check(qrx)
        missed, counts = read_every_number(qrx)
        bad += missed
        print("selftest: numbers changed by 1e-6 and caught: %s" % ", ".join(
            "%s %d/%d" % (k, c, t) for k, (c, t) in sorted(counts.items())))
        # A whole number past a double's exact integers is read as the double it is.
        big = json.loads('[-11941691272937136128, 7]', parse_int=runqrx.json_int)
        if not (isinstance(big[0], float) and big[0] == -11941691272937136128.0
                and isinstance(big[1], int)):
            print("selftest: whole numbers of the record read as %r" % (big,))
            bad += 1
        print("selftest: %s" % ("passed" if not bad else "%d failed" % bad))
        return 1 if bad else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


# ---- every printed number read: each perturbed by 1e-6 must be caught ----
READ_PROGRAMS = {
    "forward": """proc varsifter data=d outdesign(fullmodel names)=dz;
  class g1 / param=effect;
  model y = x1 x2 x3 x4 g1 / selection=forward(select=sbc stop=sbc choose=cv) cvmethod=split(4)
        cvdetails=all details=all stats=(aic aicc sbc bic cp adjrsq press ase);
  output out=o predicted=p residual=r;
run;
""",
    "stepwise": """proc varsifter data=d outdesign(fullmodel names)=dz;
  class g1 / param=effect;
  model y = x1 x2 x3 x4 g1 / selection=stepwise(select=sl) details=all
        stats=(aic aicc sbc bic cp adjrsq press ase);
  output out=o predicted=p residual=r;
run;
""",
    "backward": """proc varsifter data=d outdesign(fullmodel names)=dz;
  class g1 / param=ref;
  model y = x1 x2 x3 x4 g1 / selection=backward(select=cp stop=cp) details=all
        stats=(aic aicc sbc bic cp adjrsq press ase);
  output out=o predicted=p residual=r;
run;
""",
    "lasso": """proc varsifter data=d outdesign(fullmodel names)=dz;
  model y = x1 x2 x3 x4 / selection=lasso(stop=none choose=sbc) details=all;
  output out=o predicted=p residual=r;
run;
""",
}
# integer columns (counts, steps, markers) and text are not perturbed
SKIP_COLUMNS = {"Step", "Rank", "DF", "Index", "nEffectsIn", "nParmsIn", "NOBSFITTED",
                "NOBSLEFTOUT", "N", "NObsRead", "NObsUsed", "SumFreqsRead", "SumFreqsUsed",
                "Code", "AICStep", "AICCStep", "SBCStep", "ADJRSQStep", "PRESSStep", "CVStep",
                "BICStep", "CPStep"}


def read_case(name, method):
    """A well-conditioned case: three real effects, a noise column and a 3-level CLASS effect
    of 90 rows, the response far from no fit and far from a perfect one."""
    case = gen.Case(11)
    rng = case.rng
    n = 90
    xs = [rng.normal(size=n) for _ in range(4)]
    for j, x in enumerate(xs):
        case.add("x%d" % (j + 1), x)
    g = [j % 3 for j in range(n)]
    case.add("g1", ["L%d" % v for v in g])
    y = 5 + 1.5 * xs[0] - xs[1] + 0.6 * xs[2] + np.array([0.0, 0.8, -0.5])[g] + 0.7 * rng.normal(size=n)
    case.add("y", y)
    case.effects = [{"name": v, "kind": "cont", "vars": [v]} for v in ("x1", "x2", "x3", "x4")]
    if name != "lasso":
        case.effects.append({"name": "g1", "kind": "class", "vars": ["g1"]})
        case.classes = {"g1": "EFFECT" if name != "backward" else "REF"}
    case.method, case.noint = method, False
    case.foldm = ("SPLIT", 4) if name == "forward" else None
    case.program = READ_PROGRAMS[name]
    return case


def numbers(rec):
    """(kind, path to the cell) for every printed real number of the record's tables."""
    out = []
    for n, path in nodes(rec["steps"][0]["output"]):
        if n.get("kind") == "table":
            names = [c["name"] for c in n["columns"]]
            for i, row in enumerate(n["rows"]):
                for j, v in enumerate(row):
                    if (names[j] not in SKIP_COLUMNS and not names[j].startswith("Opt")
                            and check.real(v) and v != 0 and math.isfinite(v)):
                        out.append(("%s.%s" % (n["name"], re.sub(r"\d+$", "", names[j])),
                                    (id(n), "rows", i, j)))
        elif n.get("kind") == "factoid":
            for i, e in enumerate(n["entries"]):
                if check.real(e["value"]) and e["value"] != 0:
                    out.append(("%s.%s" % (n["name"], e["label"]), (id(n), "entries", i, "value")))
    return out


def perturbed(rec, where, factor):
    """A copy of the record with the cell `where` (numbers' path) times factor."""
    r = copy.deepcopy(rec)
    node = {id(n): m for n, m in zip((n for n, _ in nodes(rec["steps"][0]["output"])),
                                     (m for m, _ in nodes(r["steps"][0]["output"])))}[where[0]]
    cell = node[where[1]][where[2]]
    cell[where[3]] *= factor
    return r


def sample(cells, per_kind):
    """Up to per_kind cells of every kind: the first, the last and ones between."""
    kinds = {}
    for kind, where in cells:
        kinds.setdefault(kind, []).append(where)
    out = []
    for kind, ws in sorted(kinds.items()):
        idx = sorted(set(np.linspace(0, len(ws) - 1, min(per_kind, len(ws))).astype(int)))
        out += [(kind, ws[i]) for i in idx]
    return out


def output_cells(work):
    """OUTPUT's predictions and residuals: (column, row) of three rows each."""
    head, rows = runqrx.read_csv(os.path.join(work, "o.csv"))
    return [("OUTPUT.%s" % c, (head.index(c), i)) for c in ("p", "r") if c in head
            for i in (0, len(rows) // 2, len(rows) - 1)]


def with_output_cell(work, where, factor):
    """o.csv with one statistic times factor; returns the text to put back."""
    path = os.path.join(work, "o.csv")
    text = open(path).read()
    head, rows = runqrx.read_csv(path)
    j, i = where
    rows[i][j] = repr(float(rows[i][j]) * factor)
    with open(path, "w") as fh:
        fh.write(",".join(head) + "\n" + "".join(",".join(r) + "\n" for r in rows))
    return text


def read_every_number(qrx, per_kind=3):
    """Each kind of printed number of four well-conditioned programs (FORWARD by SBC with
    CV details, STEPWISE by significance, BACKWARD by C(p), a LASSO path) changed by 1e-6
    of itself, a few cells of every kind: the oracle must flag each. Returns the number of
    misses and the counts of caught and tried per kind."""
    counts = {}
    bad = 0
    for name, method in (("forward", "FORWARD"), ("stepwise", "STEPWISE"),
                         ("backward", "BACKWARD"), ("lasso", "LASSO")):
        case = read_case(name, method)
        work = tempfile.mkdtemp(prefix="oracle-selftest-")
        try:
            rec, b = sound_record(qrx, work, case, "%s program" % name)
            bad += b
            if rec is None:
                continue
            for kind, where in sample(numbers(rec), per_kind):
                found = check.Checker(case, work, perturbed(rec, where, 1 + 1e-6)).run()
                tally(counts, "%s:%s" % (name, kind), bool(found))
            for kind, where in output_cells(work):
                text = with_output_cell(work, where, 1 + 1e-6)
                found = check.Checker(case, work, rec).run()
                with open(os.path.join(work, "o.csv"), "w") as fh:
                    fh.write(text)
                tally(counts, "%s:%s" % (name, kind), bool(found))
            bad += decision_corruptions(case, work, rec, name)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    for kind, (caught, tried) in sorted(counts.items()):
        if caught < tried:
            print("selftest: %s changed by 1e-6 is caught %d of %d times" % (kind, caught, tried))
            bad += 1
    return bad, counts


def tally(counts, kind, caught):
    c = counts.setdefault(kind, [0, 0])
    c[0] += int(caught)
    c[1] += 1


def summary_node(rec, name="SelectionSummary"):
    for n, _ in nodes(rec["steps"][0]["output"]):
        if n.get("name") == name:
            return n
    return None


def decision_corruptions(case, work, rec, name):
    """A record whose step 1 enters the runner-up in place of the winner (its tables named
    after it), whose note selects the step after the chosen one, and whose summary marks
    another row best: each must be flagged by the family that judges it."""
    bad = 0
    if name in ("forward", "stepwise"):
        r = copy.deepcopy(rec)
        step1 = [(n, p) for n, p in nodes(r["steps"][0]["output"]) if p[1:2] == ("Step1",)]
        cands = [n for n, _ in step1 if n.get("name") == "Candidates"]
        est = [n for n, _ in step1 if n.get("name") == "ParameterEstimates"]
        if cands and est and len(cands[0]["rows"]) > 1:
            win, second = cands[0]["rows"][0][1], cands[0]["rows"][1][1]
            if second.startswith("x") and win.startswith("x"):
                cols = [c["name"] for c in est[0]["columns"]]
                for row in est[0]["rows"]:
                    if row[cols.index("Effect")] == win:
                        row[cols.index("Effect")] = row[cols.index("Parameter")] = second
                found = check.Checker(case, work, r).run()
                if not any(f.family == "decision.entry" for f in found):
                    print("selftest: %s entering %s in place of %s is not flagged (%s)"
                          % (name, second, win, "; ".join(map(str, found[:3]))))
                    bad += 1
            else:
                print("selftest: %s: no two covariates lead step 1's candidates" % name)
                bad += 1
    r = copy.deepcopy(rec)
    shifted = False
    for n, p in nodes(r["steps"][0]["output"]):
        if n.get("kind") == "text" and p[:1] == ("SelectedModel",):
            m = re.search(r"model at step (\d+)", n["text"])
            if m:
                k = int(m.group(1))
                n["text"] = n["text"].replace(m.group(0), "model at step %d" % (k - 1 if k else 1))
                shifted = True
    if shifted:
        found = check.Checker(case, work, r).run()
        if not any(f.family == "decision.choose" for f in found):
            print("selftest: %s with the chosen step shifted is not flagged" % name)
            bad += 1
    r = copy.deepcopy(rec)
    t = summary_node(r)
    cols = [c["name"] for c in t["columns"]]
    if "OptSBC" in cols:
        j = cols.index("OptSBC")
        marks = [row[j] for row in t["rows"]]
        for row, m in zip(t["rows"], marks[1:] + marks[:1]):
            row[j] = m
        found = check.Checker(case, work, r).run()
        if not any(f.family == "summary.opt" for f in found):
            print("selftest: %s with SBC's optimum marked a row off is not flagged" % name)
            bad += 1
    return bad


def levels_removal_check(qrx):
    """BACKWARD by CV's removal of an effect of 218 levels beside a degree-10 spline (seed
    7400142 of the manylevels scenario): the rank rule may take two sets of the spline's
    columns once the levels have left, so the candidate m1 is judged by the columns its step
    took. The sound record passes; its candidate's CV PRESS changed by 1e-4 of itself (its
    allowance is 1.1e-5 of it) is flagged. Returns the number of failures."""
    work = tempfile.mkdtemp(prefix="oracle-selftest-")
    try:
        case = gen.make_case(7400142, "manylevels")
        rec, bad = sound_record(qrx, work, case, "removal of many levels")
        if rec is None:
            return bad
        r = copy.deepcopy(rec)
        for n, p in nodes(r["steps"][0]["output"]):
            if p[1:2] == ("Step1",) and n.get("name") == "Candidates":
                cols = [c["name"] for c in n["columns"]]
                for row in n["rows"]:
                    if row[cols.index("Effect")] == "m1":
                        row[cols.index("CVPRESS")] *= 1 + 1e-4
        found = check.Checker(case, work, r).run()
        if not any(f.family == "candidates.value" and "candidate m1" in f.text for f in found):
            print("selftest: a wrong CV PRESS of the removal of many levels is not flagged (%s)"
                  % "; ".join(map(str, found[:3])))
            bad += 1
        return bad
    finally:
        shutil.rmtree(work, ignore_errors=True)


def fold_allowance_check():
    """A fold of 200 levels whose training rows hold x2 = x1 + 1e-6 noise (its scaled
    condition near 2e6): the allowance of its CV PRESS, from its own rows' conditioning, must
    stay below 1e-4 of the fold's held-out error, so that a sum 1e-3 off its exact refits
    fails; a bound from the square of the condition allows 4e-2 there. Returns the number
    of failures."""
    rng = np.random.default_rng(12)
    levels, per = 200, 10
    n = levels * per
    g = np.repeat(np.arange(levels), per)
    folds = np.arange(n) % 5
    x1 = rng.normal(size=n)
    x2 = x1 + 1e-6 * rng.normal(size=n)
    x2[folds == 2] = x1[folds == 2] + rng.normal(size=int((folds == 2).sum()))
    y = x1 + 0.5 * x2 + rng.normal(size=levels)[g] + rng.normal(size=n)
    X = np.column_stack([x1, x2] + [(g == k).astype(float) for k in range(levels - 1)])
    w = np.ones(n)
    tss = float(np.sum((y - y.mean()) ** 2))
    bad = 0
    for p in ref.fold_parts(X, y, w, w, folds, False, 1e-9 * tss):
        if not (p["high"] - p["part"] < 1e-4 * p["part"] and p["part"] - p["low"] < 1e-4 * p["part"]):
            print("selftest: fold %d of scaled condition %.3g allows %r to %r about %r"
                  % (p["fold"] + 1, p["cond"], p["low"], p["high"], p["part"]))
            bad += 1
    return bad
