"""Relations between runs of one program on transformed data or options, which need no
reference: the response scaled by 2^k (every sum of squares by 4^k, estimates by 2^k, the
same selection, to the bit), the response shifted by a constant under an intercept (the same
selection and error SS), the rows permuted, FREQ=2 against each row written twice, CVDETAILS=
on and off (the same CV PRESS), BUILDSSCP=FULL against INCREMENTAL, the many-level road
against the packed one (HIERARCHY=SINGLE over main effects only, main_effects_only, takes the
packed road and selects alike) and one thread against eight (every printed number and the
output data to the bit). Each case runs every relation that applies to it."""
import copy
import math
import os
import re

import numpy as np

from . import check, features, ref, runqrx
from .check import Finding, by_groups, find, printed_models, real
from .runqrx import factoid, table_rows

# Tables whose numbers depend on the machine or the run, not the data.
NOT_COMPARED = ("Timing", "PerfInfo", "Performance")


# ---- which relations apply ----
def has_cv(case):
    return "cvmethod=" in case.program


def order_free(case):
    """Whether the rows' order means nothing to the program: no folds dealt or drawn from
    it, no roles or samples drawn, no lagged periods."""
    p = case.program
    if has_cv(case) and "cvmethod=index" not in p:
        return False
    return not any(s in p for s in ("fraction(", "modelaverage", "lag(", "cvex"))


# The packed road's entry of an effect of k levels costs k^3 / 2: past this many levels its
# run takes minutes, and those designs are judged by the other relations and the refits.
ROAD_LEVELS = 700


def levels(case):
    return max([len(set(case.columns[c])) for c in case.classes] or [0])


def main_effects_only(case):
    """Whether no effect of the model contains another by HIERARCHY=SINGLE's rule, so that
    forcing the packed road by it holds no candidate back: a polynomial's terms contain its
    lower ones (v1^2 waits for v1, seed 6000198), and crossings, nestings and the constructed
    effects of several variables may contain the variables' own effects."""
    return all(e["kind"] in ("cont", "class", "spline") for e in case.effects)


def applicable(case):
    p = case.program
    ls = case.method in check.LS_METHODS
    out = ["scale", "threads"]
    if not case.noint:
        out.append("shift")
    if order_free(case):
        out.append("permute")
        if "press" not in p.lower() and "index(" not in p and "choose=validate" not in p:
            out.append("freq2")
    if has_cv(case) and "cvex" not in p:
        out.append("cvdetails")
    if ls and "modelaverage" not in p:
        out.append("buildsscp")
    if ls and "manylevels" in case.tags and "hierarchy=" not in p and not case.by \
            and levels(case) <= ROAD_LEVELS and main_effects_only(case):
        out.append("road")
    return out


def run(case, work, rec, qrx, names=None):
    findings = []
    for name in names or applicable(case):
        try:
            findings += RELATIONS[name](case, work, rec, qrx)
        except Exception as e:      # a transform the case cannot take is a fault of the oracle
            import traceback
            findings.append(Finding("oracle.error", "relation " + name,
                                    traceback.format_exc()[-500:] or repr(e)))
    return findings


# ---- running a transformed case ----
def rerun(case, work, name, qrx, cpucount=1):
    sub = os.path.join(work, "rel-" + name)
    os.makedirs(sub, exist_ok=True)
    status, rec, err = runqrx.run_program(qrx, sub, case, cpucount=cpucount)
    return rec, sub, err


def transformed(case, column_map=None, program=None, rows=None):
    """A copy of the case with columns replaced (name -> values), the program replaced and
    the rows taken in the order (or with the repeats) of `rows`; the extra data sets take
    the same change of the response."""
    t = copy.copy(case)
    t.columns = {k: list(v) for k, v in case.columns.items()}
    t.order = list(case.order)
    t.extra = dict(getattr(case, "extra", {}))
    for k, v in (column_map or {}).items():
        if k not in t.columns:
            t.order.append(k)
        t.columns[k] = list(v)
    if rows is not None:
        t.columns = {k: [v[i] for i in rows] for k, v in t.columns.items()}
    if program is not None:
        t.program = program
    return t


def ycol(case):
    return np.array([np.nan if v is None else v for v in case.columns["y"]], float)


def with_y(values):
    return [None if (isinstance(v, float) and math.isnan(v)) else float(v) for v in values]


def map_extra_y(case, fn):
    """The extra data sets (validation, test, scoring) with their response transformed."""
    out = {}
    for name, text in getattr(case, "extra", {}).items():
        lines = text.rstrip("\n").split("\n")
        head = lines[0].split(",")
        j = head.index("y") if "y" in head else None
        rows = [lines[0]]
        for line in lines[1:]:
            r = line.split(",")
            if j is not None and r[j] not in ("", "."):
                r[j] = repr(fn(float(r[j])))
            rows.append(",".join(r))
        out[name] = "\n".join(rows) + "\n"
    return out


# ---- reading a record ----
def segments(case, rec):
    out = rec["steps"][0]["output"]
    return by_groups(out) if case.by else [out]


def errors(rec):
    return [l.get("text", "") for s in rec.get("steps", []) for l in s["log"]
            if l.get("severity") == "ERROR"]


def summary_rows(seg):
    t = find(seg, "SelectionSummary")
    return table_rows(t[0]) if t else []


def anova(tabs):
    return {r["Source"].split()[0]: r for r in table_rows(tabs["ANOVA"])} if "ANOVA" in tabs else {}


def estimates(tabs):
    if "ParameterEstimates" not in tabs:
        return {}
    return {check.norm_name(r["Parameter"]): r for r in table_rows(tabs["ParameterEstimates"])}


def refused(tabs):
    """The parameters a printed model refused (DF 0)."""
    return {nm for nm, r in estimates(tabs).items() if r.get("DF") == 0}


def step_key(r):
    return (r.get("EffectEntered") or "", r.get("EffectRemoved") or "")


# ---- comparing two runs ----
class Compare:
    """Two runs of one program that must select alike and whose numbers map one to the
    other: sums of squares times ss, estimates times est (the intercept also plus shift)."""

    def __init__(self, rel, case, a, b, ss=1.0, est=1.0, shift=0.0, exact=False, tol=1e-9,
                 work=None, other=None):
        self.rel, self.case, self.a, self.b = rel, case, a, b
        # (case, work directory, qrx) of the second run, which is judged by itself against the
        # exact refits where its models refused other columns than the first run's
        self.other, self.spans = other, False
        self.ss, self.est, self.shift, self.exact, self.tol = ss, est, shift, exact, tol
        self.findings = []
        # the run of the case itself, whose design gives a model's conditioning
        self.work, self.data, self.group = work, None, 0
        # the group LASSO problem of the design read (edge_groups)
        self.problem = None
        # a solver's estimates are known to its stop tolerance only
        self.solver = case.method == "GROUPLASSO" or "qk" in case.program

    def design(self, tabs):
        """The case's own design read for the printed model's BY group (kept for the group),
        and the model's columns; None where the design cannot be read."""
        if self.work is None:
            return None
        if self.data is None:
            vcase, vdir = features.view(self.case, self.work)
            segs = segments(self.case, self.a)
            seg = segs[self.group]
            rows = None
            if self.case.by:
                values = list(dict.fromkeys(self.case.columns[self.case.by]))
                rows = np.array(self.case.columns[self.case.by]) == values[self.group]
            d = check.Data(vcase, vdir, self.a, rows)
            d.map_names(find(seg, "ParameterNames")[-1])
            self.data, self.view = d, (vcase, vdir)
        d = self.data
        cols = []
        for nm, r in estimates(tabs).items():
            if nm != "Intercept" and r.get("DF", 1) not in (0, None):
                cols.append(d.col_of[nm])
        return d, cols

    def conditioning(self, tabs):
        """kappa (squared condition of the centred, scaled columns) of a printed model, its
        PRESS (None where a row lies on the leverage cut), largest leverage and total from the
        case's own design, or None where the design cannot be read."""
        try:
            got = self.design(tabs)
            if got is None:
                return None
            d, cols = got
            if self.case.method not in check.LS_METHODS:
                # a path's every step hangs on every column's correlations (and the adaptive
                # weights on the fit of them all)
                cols = sorted({c for nm, c in d.col_of.items() if nm != "Intercept"})
                f = ref.fit(d.D[:, cols], d.y, d.wf, d.noint)
                return f.cond ** 2, None, 0.0, d.tss
            X = d.D[:, cols] if cols else np.zeros((len(d.y), 0))
            f = ref.fit(X, d.y, d.wf, d.noint)
            pr, hmax, kap, near = ref.press_sum(X, d.y, d.wf, d.freq, d.noint)
            # a row on the leverage cut adds to one run's PRESS and not the other's
            return max(f.cond ** 2, kap), (None if near else pr), hmax, d.tss
        except (KeyError, ValueError, IndexError, np.linalg.LinAlgError):
            return None

    def fold_width(self, tabs, cache):
        """How far apart two runs' CV PRESS of a least-squares step may lie when each is
        within its folds' own allowances (ref.fold_parts, as the direct check holds them):
        the width of the range the fold refits allow, in the first run's units; infinite
        where a fold's refit leaves its held-out rows undetermined, None where the folds or
        the design cannot be read."""
        if "folds" not in cache:
            cache["folds"] = None
            try:
                got = self.design(tabs) if self.case.method in check.LS_METHODS else None
                folds = check.row_folds(*self.view, got[0]) if got else None
            except (KeyError, ValueError, IndexError, OSError, np.linalg.LinAlgError):
                got, folds = None, None
            if got is not None and folds is not None:
                d, cols = got
                X = d.D[:, cols] if cols else np.zeros((len(d.y), 0))
                fm = self.case.foldm
                parts = ref.fold_parts(X, d.y, d.wf, d.freq, folds, d.noint, 1e-9 * d.tss,
                                       fm[1] if fm and fm[0] == "RANDOM" else None)
                lo = math.fsum(p["low"] for p in parts)
                hi = math.fsum(p["high"] for p in parts)
                total = math.fsum(p["part"] for p in parts)
                cache["folds"] = hi - lo + 8 * check.EPS * abs(total) \
                    if all(math.isfinite(v) for v in (lo, hi, total)) else math.inf
        return cache["folds"]

    def allowed(self, tabs, cache):
        """The relative allowance of a model's numbers: the case's own, or where the model's
        columns are ill-conditioned 20 times 16 eps kappa (each run errs by up to 10 times
        that, as check.py allows each against the reference)."""
        if "tol" not in cache:
            c = self.conditioning(tabs)
            cache["tol"] = None if c is None else max(self.tol, 20 * check.tolerance(c[0], 1e-10))
            cache["press"] = None if c is None or c[1] is None else \
                cache["tol"] / max(1 - c[2], 1e-300) + 4 * cache["tol"] * c[3] / max(c[1], 1e-300)
        return cache["tol"], cache["press"]

    def fail(self, family, where, text):
        if len(self.findings) < 3:
            self.findings.append(Finding("rel.%s.%s" % (self.rel, family), where, text))

    def run(self):
        ea, eb = errors(self.a), errors(self.b)
        if bool(ea) != bool(eb):
            self.fail("run", "run", "errors %r against %r" % (ea[:1], eb[:1]))
            return self.findings
        if ea:
            return self.findings
        sa, sb = segments(self.case, self.a), segments(self.case, self.b)
        if len(sa) != len(sb):
            self.fail("run", "run", "%d BY groups against %d" % (len(sa), len(sb)))
            return self.findings
        for g, (x, y) in enumerate(zip(sa, sb)):
            self.group, self.data = g, None
            self.segment("BY group %d, " % (g + 1) if self.case.by else "", x, y)
        if self.spans and self.other:
            case, work, qrx = self.other
            for f in features.judge(case, work, self.b, qrx)[:3]:
                self.findings.append(Finding("rel.%s.direct.%s" % (self.rel, f.family), f.where,
                                             f.text))
        return self.findings

    def segment(self, where, x, y):
        ma, mb = dict(printed_models(x)), dict(printed_models(y))
        ra, rb = summary_rows(x), summary_rows(y)
        tss = self.total(ma)
        upto = None
        for r1, r2 in zip(ra, rb):
            if step_key(r1) != step_key(r2):
                if self.tie(ma, mb, r1, r2, tss):
                    upto = r1["Step"]
                    break
                self.fail("select", where + "Step%s" % r1["Step"], "%r enters or leaves against %r"
                          % (step_key(r1), step_key(r2)))
                return
        if upto is None and len(ra) != len(rb):
            # a step that ties with the stop, or a stop after the paths parted in the band
            # (an earlier step refused other columns of an effect): either run may go on
            n = min(len(ra), len(rb))
            longer = ma if len(ra) > len(rb) else mb
            # the step the longer run takes beyond the other's, by its number (without an
            # intercept the summary starts at step 1, and a forced effect adds a row at step 0)
            extra = (ra if len(ra) > len(rb) else rb)[n]["Step"]
            if self.other and (self.step_free(longer, extra) or self.full_parted(ma, mb)):
                # the step one run takes and the other refuses judges a column either
                # choice of whose rank is sound; or the full models' variances, which C(p)
                # and BIC stop by, part (seed 9700683: a degree-58 spline's column at its
                # rule's rounding bound taken in one order of the rows only)
                self.spans = True
            elif not self.idle_step(longer, extra) and not self.parted(ma, mb, extra):
                self.fail("select", where + "summary", "%d steps against %d" % (len(ra), len(rb)))
                return
            upto = min(len(ra), len(rb))
        for label, tabs in ma.items():
            if label not in mb or (upto is not None and (label == "Selected" or int(label[4:]) >= upto)):
                continue
            self.model(where + label, tabs, mb[label], tss)

    def total(self, models):
        for tabs in models.values():
            for k, r in anova(tabs).items():
                if k not in ("Model", "Error") and real(r.get("SS")):
                    return r["SS"]
        return None

    def tie(self, ma, mb, r1, r2, tss):
        """Two different entries are a tie where their steps' error SS (or the criterion the
        summary gives) agree within 1e-7: either is a sound choice."""
        s = "Step%d" % r1["Step"]
        e1 = anova(ma.get(s, {})).get("Error", {}).get("SS")
        e2 = anova(mb.get(s, {})).get("Error", {}).get("SS")
        lim = 1e-4 if self.solver else 1e-7
        if real(e1) and real(e2) and tss and abs(e1 * self.ss - e2) <= lim * tss * self.ss:
            return True
        for c in ("CVPRESS", "ValidationASE", "PRESS"):
            v1, v2 = r1.get(c), r2.get(c)
            if real(v1) and real(v2) and abs(v1 * self.ss - v2) <= lim * abs(v2):
                return True
        if self.case.method == "GROUPLASSO" and self.edge_groups(ma, mb, r1["Step"]):
            return True
        if self.undetermined_cv(ma, mb, r1["Step"]):
            self.spans = bool(self.other)
            return True
        if self.other and (self.full_parted(ma, mb) or self.step_free(ma, r1["Step"]) or
                           self.step_free(mb, r2["Step"])):
            self.spans = True
            return True
        # a step that moves an effect the others span (seed 9501639: x2 beside x2(g1) left
        # at an AIC 1.2e-13 below its step's, by rounding alone) ties with not moving at all
        if self.idle_step(ma, r1["Step"]) or self.idle_step(mb, r2["Step"]):
            return True
        return self.parted(ma, mb, r1["Step"])

    def undetermined_cv(self, ma, mb, step):
        """Whether the step selects by a CV PRESS that the folds leave undetermined in either
        run's model: a fold's refit whose held-out rows its training rows do not determine
        (fold_width infinite) may give any value the rank rule's sound choices give, and the
        candidates' order with it (seed 590078: removing m1 leaves a fold whose column S1_17
        has an exact pivot of 1.24e-9 of its diagonal, in the band; refused, the fold adds
        5.97e8 to the CV PRESS, taken, 4.81e11, and the two roads removed m1 and S1). The
        second run is then judged by itself."""
        if "select=cv" not in self.case.program.lower():
            return False
        s = "Step%d" % step
        return any(s in m and "ParameterEstimates" in m[s] and
                   self.fold_width(m[s], {}) == math.inf for m in (ma, mb))

    def edge_groups(self, ma, mb, step):
        """Whether the two runs' group LASSO steps differ only in effects that sit at their
        bound to the solver's tolerance: each effect in one run's step and not the other's
        has, where it is out, a gradient within the allowance of ref.group_slack of its
        bound, so that the solver's stop may leave it out or let it in (seed 1213223: v1^11
        of a degree-12 polynomial's powers, out at step 90 of the run on Y x 2^15 with its
        gradient 4.3e-5 below its bound of 2.5e-3, where the stop allows 6.6e-5, and in at
        that step of the first run)."""
        s = "Step%d" % step
        ta, tb = ma.get(s, {}), mb.get(s, {})
        if "ParameterEstimates" not in ta or "ParameterEstimates" not in tb:
            return False
        got = self.design(ta)
        if got is None or got[0].noint:
            return False
        d = got[0]
        if self.problem is None or self.problem[0] is not d:
            self.problem = (d, check.GroupProblem(self.case, d))
        gp = self.problem[1]
        runs = []
        # the second run's coefficients in the first run's units; its stop's floor of 1 in
        # its own units is 1 / |est| in the first's
        for tabs, unit, floor in ((ta, 1.0, 1.0), (tb, self.est, 1.0 / abs(self.est))):
            b = np.zeros(len(gp.cols))
            for nm, r in estimates(tabs).items():
                c = d.col_of.get(nm)
                if c in gp.at and real(r.get("Estimate")):
                    b[gp.at[c]] = r["Estimate"] / unit * gp.sd[gp.at[c]]
            runs.append(gp.slack(b, step, floor))
        apart = [nm for nm, _ in gp.named if (runs[0][nm] is None) != (runs[1][nm] is None)]
        return bool(apart) and all(abs(run[nm]) <= 1 for nm in apart for run in runs
                                   if run[nm] is not None)

    def full_parted(self, ma, mb):
        """Whether the two runs' full models, which no step prints, have other error variances:
        step 0's error SS alike and its C(p) or BIC apart. Their ranks may part where a column
        lies in the band (seed 8500065: a degree-52 spline on 44 rows, a score of whose exact
        pivots lie between 1e-9 and 1e-7 of their diagonals; the full model took rank 42, and
        43 with the rows permuted, variances 1.73e-18 and 4.62e-19), and a selection by C(p)
        or BIC then parts too; the second run is judged by itself."""
        ta, tb = ma.get("Step0"), mb.get("Step0")
        if not ta or not tb or "FitStatistics" not in ta or "FitStatistics" not in tb:
            return False
        ea = anova(ta).get("Error", {}).get("SS")
        eb = anova(tb).get("Error", {}).get("SS")
        if not (real(ea) and real(eb)) or abs(ea * self.ss - eb) > 1e-9 * abs(eb):
            return False
        fa, fb = factoid(ta["FitStatistics"]), factoid(tb["FitStatistics"])
        return any(real(fa.get(k)) and real(fb.get(k)) and
                   abs(fa[k] - fb[k]) > 1e-6 * max(abs(fa[k]), abs(fb[k]), 1.0)
                   for k in ("C(p)", "BIC"))

    def step_free(self, models, k):
        """Whether step k of a run judges a column whose rank either choice decides soundly on
        the model of the step before: its exact pivot there in the band, or one the cross
        products summed in double do not hold within 1e-3 (check.held_above): an entered
        effect's columns after the model's, or after a removal every column of the model in
        the design's order, as a fit of the remaining effects takes them. A trial then takes that column in one order
        of the rows and refuses it in another, and its criterion moves with it (seed
        8300118: a degree-58 spline's column whose swept pivot sits 1% from its rows' pivot
        entered the spline first in one order, x1 in the other; 1031946: removing x1 retook
        two of a degree-52 spline's columns in one order, and in the other its trial kept x1
        and the run stopped; 9603250: a degree-57 spline's trial saturated 18 rows in one
        order, PRESS 1.7e-11, and not in the other, which stopped a step earlier); the second
        run is judged by itself."""
        before, now = models.get("Step%d" % (k - 1)), models.get("Step%d" % k)
        # without an intercept no step 0 is printed: step 1 enters on the empty model
        if not now or "ParameterEstimates" not in now or not (before or k == 1):
            return False
        try:
            d, prev = self.design(before or now)
            have = {d.col_of[nm] for nm in estimates(now) if nm in d.col_of}
            # a removal's model is the one a fit of the remaining effects takes, each column
            # judged against those before it in the design; an entry judges the entered
            # effect's columns after the model's
            if any(c not in have for c in prev) or not before:
                prev, old = [], set()
            else:
                old = set(estimates(before))
            params = [(nm, d.col_of[nm], row) for nm, row in estimates(now).items()
                      if nm in d.col_of and nm != "Intercept" and nm not in old]
        except (KeyError, ValueError, IndexError, TypeError):
            return False
        return bool(params) and self.column_free(d, prev, params)

    def column_free(self, d, prev, params):
        """Whether a column of `params` ((name, column, row) triples of one effect, in design
        order) entered after the columns `prev` is one whose rank either choice decides
        soundly, each judged at its turn against the columns the step took before it: the
        columns it refused (DF 0) are left out of the later pivots, as its rule left them.
        Swept in, a column refused at 3e-13 of its diagonal left every later pivot of a
        degree-50 spline below 1e-9, where the step's own were up to 1e-4 (seed 9710148: its
        column S1 14, at 1.07e-7 of its diagonal and 0.85 of the rule's rounding bound, taken
        by the rows' second look in one order of the rows and refused in the other)."""
        cols = prev + sorted(c for _, c, _ in params)
        if d.D.shape[0] * len(cols) ** 2 > check.EXACT_LIMIT:
            return False
        params = sorted(params, key=lambda p: p[1])
        X = d.D[:, cols]
        order = list(range(len(cols)))
        skip = {len(prev) + i for i, (_, _, row) in enumerate(params) if row.get("DF") == 0}
        ratios, _, _ = ref.pivot_ratios(ref.exact_gram(X, d.wf, d.noint), order, skip=skip)
        judged = order[len(prev):]
        raw = {len(prev) + i for i in check.unshifted_columns(self.case, params)}
        held = check.held_above(X, d, order, judged, skip, raw, ratios, False)
        return any(ratios[j] >= check.REFUSE and j not in held for j in judged)

    def parted(self, ma, mb, upto):
        """Whether a step before step `upto` refused other columns of an effect in the two
        runs (columns in the band where either choice is sound, which model() judges): the
        paths may part from there, in what enters and in where they stop (a wide spline on
        22 rows, seed 4000945: rows permuted took 11 of its columns against 13, and C(p)
        stopped one run a step before the other)."""
        for k in range(upto):
            t1, t2 = ma.get("Step%d" % k), mb.get("Step%d" % k)
            if t1 and t2 and "ParameterEstimates" in t1 and "ParameterEstimates" in t2 \
                    and refused(t1) != refused(t2):
                return True
        return False

    def idle_step(self, models, k):
        """Whether step k of the longer run leaves the error SS of step k - 1 within 1e-7 of
        the total (an effect that the others span removed, or one that adds nothing): the
        criterion then ties with the stop, and either run may take or refuse the step."""
        e0 = anova(models.get("Step%d" % (k - 1), {})).get("Error", {}).get("SS")
        e1 = anova(models.get("Step%d" % k, {})).get("Error", {}).get("SS")
        tss = self.total(models)
        return bool(real(e0) and real(e1) and tss and abs(e1 - e0) <= 1e-7 * tss)

    def close(self, va, vb, scale):
        if not (real(va) and real(vb)):
            return va == vb or (va is None) == (vb is None)
        if self.exact:
            return va * self.ss == vb if scale == "ss" else va * self.est == vb
        return None

    def model(self, where, ta, tb, tss):
        cache = {}
        aa, ab = anova(ta), anova(tb)
        if self.other and refused(ta) != refused(tb):
            # Other columns refused, as the rank rule may where their pivots lie in the band:
            # fits of other spans, whose sums of squares need not map (seed 8300136: the
            # many-level road refused levels L183 and L184 at exact pivots of 1.1e-8 and
            # 4.1e-8 of their diagonals, the packed road L183 and L185, a level of weight
            # 4e-8 beside z, which is nearly the levels' numbers; the exact error SS of the
            # two models are 884.208868 and 884.206771, as each printed it). The second run
            # is judged by itself instead.
            self.spans = True
            return
        for src, r in aa.items():
            o = ab.get(src)
            if o is None or not real(r.get("SS")) or not real(o.get("SS")):
                continue
            if r["DF"] != o["DF"]:
                tol, _ = self.allowed(ta, cache)
                # a column in the band where either choice is sound may go either way
                if tol is not None and tol < 1e-6 and not self.solver:
                    self.fail("df", where, "%s DF %r against %r" % (src, r["DF"], o["DF"]))
                return
            want = r["SS"] * self.ss
            if self.exact:
                if want != o["SS"]:
                    self.fail("bits", where, "%s SS %r x %r = %r against %r"
                              % (src, r["SS"], self.ss, want, o["SS"]))
            elif tss and abs(want - o["SS"]) > self.tol * tss * self.ss:
                tol, _ = self.allowed(ta, cache)
                if self.solver:
                    tol = max(tol or 0, 1e-4)
                if tol is not None and abs(want - o["SS"]) > tol * tss * self.ss:
                    self.fail("ss", where, "%s SS %r (mapped %r) against %r (total %r, allowed "
                              "%.2g of it)" % (src, r["SS"], want, o["SS"], tss, tol))
        if not self.solver:
            self.estimates(where, ta, tb, cache)
        self.stats(where, ta, tb, cache, tss)

    def estimates(self, where, ta, tb, cache):
        pa, pb = estimates(ta), estimates(tb)
        if refused(ta) != refused(tb):
            return      # other columns of an aliased set refused: another basis of one span
        for nm, r in pa.items():
            o = pb.get(nm)
            if o is None or not real(r.get("Estimate")) or not real(o.get("Estimate")):
                continue
            want = r["Estimate"] * self.est + (self.shift if nm == "Intercept" else 0.0)
            if self.exact and not self.shift:
                if want != o["Estimate"]:
                    self.fail("bits", where, "%s estimate %r x %r = %r against %r"
                              % (nm, r["Estimate"], self.est, want, o["Estimate"]))
                continue
            if nm == "Intercept" and self.shift:
                continue        # it carries the shift's rounding at the shift's magnitude
            se = abs(r.get("StdErr") or 0.0) * abs(self.est)
            diff = abs(want - o["Estimate"])
            if diff > 1e3 * self.tol * (abs(want) + se):
                tol, _ = self.allowed(ta, cache)
                if tol is not None and diff > 1e3 * tol * (abs(want) + se):
                    self.fail("estimate", where, "%s estimate %r (mapped %r) against %r"
                              % (nm, r["Estimate"], want, o["Estimate"]))

    def ase_floor(self, ta, tb, fa, fb, tss):
        """The ASE of the corrected total, tss / n in the second run's units, n from either
        run's error SS over its ASE: a fit near perfect holds its ASE to the total's as the
        error SS is held to the total (0 where n cannot be read)."""
        for tabs, fs in ((ta, fa), (tb, fb)):
            err = anova(tabs).get("Error", {}).get("SS")
            ase = fs.get("ASE")
            if real(err) and real(ase) and err > 0 and ase > 0 and tss:
                return tss * self.ss * ase / err
        return 0.0

    def stats(self, where, ta, tb, cache, tss=None):
        fa = factoid(ta["FitStatistics"]) if "FitStatistics" in ta else {}
        fb = factoid(tb["FitStatistics"]) if "FitStatistics" in tb else {}
        for label in ("CV PRESS", "ASE", "PRESS"):
            va, vb = fa.get(label), fb.get(label)
            if not (real(va) and real(vb)):
                continue
            want = va * self.ss
            if self.exact:
                if want != vb:
                    self.fail("bits", where, "%s %r x %r against %r" % (label, va, self.ss, vb))
                continue
            diff = abs(want - vb)
            scale = max(abs(want), abs(vb))
            if label == "ASE":
                scale = max(scale, self.ase_floor(ta, tb, fa, fb, tss))
            if diff <= self.tol * scale:
                continue
            tol, ptol = self.allowed(ta, cache)
            if self.rel == "cvdetails" and label == "CV PRESS":
                tol = self.tol      # one computation, whether its details are shown or not
            elif label == "CV PRESS":
                # each run within its own folds' allowance: apart by at most its width
                width = self.fold_width(ta, cache)
                if width is not None:
                    if diff > width * self.ss:
                        self.fail("stat", where, "%s %r (mapped %r) against %r (the folds "
                                  "allow %.3g apart)" % (label, va, want, vb, width * self.ss))
                    continue
            elif label == "PRESS":
                tol = ptol
            if tol is not None and diff > tol * scale:
                self.fail("stat", where, "%s %r (mapped %r) against %r (allowed %.2g)"
                          % (label, va, want, vb, tol))


# ---- the relations ----
def scaled_l1(program, f):
    """The program with an L1 target in the response's units (L1CHOICE=NORM: the norm of
    the coefficients on standardised columns; VALUE: the penalty) multiplied by f, so that
    the scaled run stops where the first does; a RATIO target is free of the units."""
    def scale(m):
        return "l1=%r l1choice=%s" % (float(m.group(1)) * f, m.group(2))
    return re.sub(r"l1=([-+0-9.eE]+) l1choice=(norm|value)", scale, program)


def rel_scale(case, work, rec, qrx):
    rng = np.random.default_rng([case.seed, 37])
    k = int(rng.integers(1, 21)) * (1 if rng.random() < 0.5 else -1)
    f = 2.0 ** k
    t = transformed(case, {"y": with_y(ycol(case) * f)}, program=scaled_l1(case.program, f))
    t.extra = map_extra_y(case, lambda v: v * f)
    other, _, _ = rerun(t, work, "scale", qrx)
    if other is None:
        return [Finding("rel.scale.run", "run", "no record")]
    exact = case.method in check.LS_METHODS
    return Compare("scale", case, rec, other, ss=f * f, est=f, exact=exact, tol=1e-9, work=work).run()


def rel_shift(case, work, rec, qrx):
    y = ycol(case)
    rng = np.random.default_rng([case.seed, 41])
    sd = float(np.nanstd(y)) or 1.0
    c = float(np.float32(sd * 10.0 ** rng.uniform(0, 2) * (1 if rng.random() < 0.5 else -1)))
    t = transformed(case, {"y": with_y(y + c)})
    t.extra = map_extra_y(case, lambda v: v + c)
    other, _, _ = rerun(t, work, "shift", qrx)
    if other is None:
        return [Finding("rel.shift.run", "run", "no record")]
    # centring y + c loses about eps (|c| + |y|) of each value: relative to the spread that
    # is eps (|c| + |y|) / sd, squared into the sums of squares
    far = (abs(c) + float(np.nanmax(np.abs(y)))) / sd
    return Compare("shift", case, rec, other, shift=c, tol=max(1e-9, 1e3 * check.EPS * far), work=work).run()


def group_blocks(case):
    """The row indices of each BY group in data order (one block without BY)."""
    n = len(case.columns["y"])
    if not case.by:
        return [list(range(n))]
    blocks, last = [], object()
    for i, v in enumerate(case.columns[case.by]):
        if v != last:
            blocks.append([])
            last = v
        blocks[-1].append(i)
    return blocks


def rel_permute(case, work, rec, qrx):
    rng = np.random.default_rng([case.seed, 43])
    rows = [i for b in group_blocks(case) for i in rng.permutation(b)]
    t = transformed(case, rows=[int(i) for i in rows])
    other, sub, _ = rerun(t, work, "permute", qrx)
    if other is None:
        return [Finding("rel.permute.run", "run", "no record")]
    return Compare("permute", case, rec, other, tol=tol_of_case(case), work=work,
                   other=(t, sub, qrx)).run()


def tol_of_case(case):
    """The allowance below which two runs need not be judged by their conditioning."""
    return 1e-9


def rel_freq2(case, work, rec, qrx):
    n = len(case.columns["y"])
    f = np.floor(np.array(case.columns[case.freq], float)) if case.freq else np.ones(n)
    prog = case.program
    if not case.freq:
        prog = prog.replace("  model y", "  freq f2;\n  model y", 1)
    else:
        prog = re.sub(r"freq %s;" % case.freq, "freq f2;", prog)
    twice = transformed(case, {"f2": list(2 * f)}, program=prog)
    dup = transformed(case, {"f2": list(f)}, program=prog, rows=[i for i in range(n) for _ in (0, 1)])
    a, _, _ = rerun(twice, work, "freq2", qrx)
    b, _, _ = rerun(dup, work, "rows2", qrx)
    if a is None or b is None:
        return [Finding("rel.freq2.run", "run", "no record")]
    return Compare("freq2", case, a, b, tol=tol_of_case(case), work=work).run()


def rel_cvdetails(case, work, rec, qrx):
    p = case.program
    if "cvdetails=" in p:
        prog = re.sub(r"\s*cvdetails=\w+", "", p)
    else:
        prog = p.replace("cvmethod=", "cvdetails=all cvmethod=", 1)
    other, _, _ = rerun(transformed(case, program=prog), work, "cvdetails", qrx)
    if other is None:
        return [Finding("rel.cvdetails.run", "run", "no record")]
    return Compare("cvdetails", case, rec, other, tol=1e-9, work=work).run()


def rel_buildsscp(case, work, rec, qrx):
    p = case.program
    if "buildsscp=incremental" in p:
        prog = p.replace("buildsscp=incremental", "buildsscp=full")
    else:
        prog = p.replace("  output out=o", "  performance buildsscp=incremental;\n  output out=o", 1)
    t = transformed(case, program=prog)
    other, sub, _ = rerun(t, work, "buildsscp", qrx)
    if other is None:
        return [Finding("rel.buildsscp.run", "run", "no record")]
    return Compare("buildsscp", case, rec, other, tol=tol_of_case(case), work=work,
                   other=(t, sub, qrx)).run()


def rel_road(case, work, rec, qrx):
    """HIERARCHY=SINGLE over main effects alone changes no selection, and the many-level
    road serves no hierarchy: the run takes the packed road."""
    prog = case.program.replace(" details=all", " details=all hierarchy=single", 1)
    t = transformed(case, program=prog)
    other, sub, _ = rerun(t, work, "road", qrx)
    if other is None:
        return [Finding("rel.road.run", "run", "no record")]
    return Compare("road", case, rec, other, tol=tol_of_case(case), work=work,
                   other=(t, sub, qrx)).run()


def rel_threads(case, work, rec, qrx):
    other, sub, err = rerun(case, work, "threads", qrx, cpucount=8)
    if other is None:
        return [Finding("rel.threads.run", "run", "no record: %s" % err[-200:])]
    found = table_bits(rec, other)
    if found:
        return found
    for name in ("o.csv", "so.csv", "st.json", "code.py"):
        pa, pb = os.path.join(work, name), os.path.join(sub, name)
        if os.path.exists(pa) and os.path.exists(pb):
            with open(pa, "rb") as fa, open(pb, "rb") as fb:
                if fa.read() != fb.read():
                    return [Finding("rel.threads.bits", name, "one and eight threads write "
                                    "other files")]
    return []


def table_bits(rec, other):
    """Where two records print other tables or other bits in any cell (timings aside)."""
    ta = [(p, n) for n, p in runqrx.nodes(rec["steps"][0]["output"])
          if n.get("kind") in ("table", "factoid")]
    tb = [(p, n) for n, p in runqrx.nodes(other["steps"][0]["output"])
          if n.get("kind") in ("table", "factoid")]
    if [n["name"] for _, n in ta] != [n["name"] for _, n in tb]:
        return [Finding("rel.threads.tables", "run", "other tables on eight threads")]
    for (p, x), (_, y) in zip(ta, tb):
        if any(s in x["name"] for s in NOT_COMPARED):
            continue
        if x.get("rows") != y.get("rows") or x.get("entries") != y.get("entries"):
            return [Finding("rel.threads.bits", "/".join(p + (x["name"],)),
                            "one and eight threads print other numbers: %s" % first_diff(x, y))]
    return []


def first_diff(x, y):
    for ra, rb in zip(x.get("rows") or x.get("entries") or [], y.get("rows") or y.get("entries") or []):
        if ra != rb:
            return "%r against %r" % (ra, rb)
    return "row counts differ"


RELATIONS = {"scale": rel_scale, "shift": rel_shift, "permute": rel_permute, "freq2": rel_freq2,
             "cvdetails": rel_cvdetails, "buildsscp": rel_buildsscp, "road": rel_road,
             "threads": rel_threads}
