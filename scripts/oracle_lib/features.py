"""Checks of the features featgen.py draws, beside those of check.py: the validation and test
errors of data roles and external data, SCORE's predictions, the CODE file run by Python and
the STORE read back, model averaging over samples that are the whole data, LSCOEFFS and the
solver's fit at L1=0. judge() runs check.Checker on the view of the run it can read (the
training rows of data roles, one key for several BY variables) and then these checks."""
import copy
import json
import math
import os
import re
import shutil
import subprocess

import numpy as np

from . import check, ref, runqrx, tables
from .check import Finding, find, printed_models, real
from .runqrx import factoid, read_csv, table_rows

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LS = check.LS_METHODS
ROLES = {"TR": "TRAIN", "VA": "VALIDATE", "TE": "TEST"}


def view(case, work):
    """The case and work directory as check.Checker reads them: the design without the data
    roles and the BY variables (one combined key stands for them), the training rows alone
    (weight 0 elsewhere), and a CLASS effect that a crossing names judged with the others."""
    feat = getattr(case, "feature", None)
    if feat not in ("partition", "effects"):
        return case, work
    vcase = copy.copy(case)
    vcase.columns = dict(case.columns)
    vcase.effects = [dict(e) for e in case.effects]
    vdir = os.path.join(work, "view")
    os.makedirs(vdir, exist_ok=True)
    for name in os.listdir(work):
        if name.endswith((".csv", ".qrx")):
            shutil.copy(os.path.join(work, name), vdir)
    drop = {"_ROLE_"} | set(case.byvars or [])
    path = os.path.join(vdir, "dz.csv")
    if os.path.exists(path):
        head, rows = read_csv(path)
        keep = [i for i, h in enumerate(head) if h not in drop]
        with open(path, "w") as fh:
            for r in [head] + rows:
                fh.write(",".join(r[i] for i in keep) + "\n")
    if feat == "partition":
        role = roles_of(work)
        if role is not None:
            w = np.array(case.columns[case.weight], float) if case.weight else np.ones(len(role))
            vcase.columns["w_train"] = list(np.where(role == "TRAIN", w, 0.0))
            vcase.weight = "w_train"
    names = [e["name"] for e in case.effects]
    for e in vcase.effects:
        if e["kind"] == "class" and any(e["name"] + "*" in m or "*" + e["name"] in m
                                        or "(" + e["name"] in m for m in names):
            e["kind"] = "other"
    return vcase, vdir


def roles_of(work):
    path = os.path.join(work, "o.csv")
    if not os.path.exists(path):
        return None
    head, rows = read_csv(path)
    if "_ROLE_" not in head:
        return None
    j = head.index("_ROLE_")
    return np.array([r[j] for r in rows])


def judge(case, work, rec, qrx):
    """check.Checker's findings on the view of the run, then the feature's own."""
    vcase, vdir = view(case, work)
    findings = check.Checker(vcase, vdir, rec, qrx).run()
    feat = getattr(case, "feature", None)
    if feat == "partition":
        # the NObs table's "Used" row counts every role; the training rows are judged below
        findings = [f for f in findings if f.family != "nobs"]
    if not feat or any(f.family in ("run.error", "oracle.error") for f in findings):
        return findings
    fc = FeatureChecks(case, work, rec, qrx, vcase, vdir)
    getattr(fc, "check_" + feat, lambda: None)()
    return findings + fc.findings


def tol_of(f):
    """16 eps kappa of a refit, at least 1e-10: the relative error of what it predicts."""
    return check.tolerance(f.cond ** 2, 1e-10)


class FeatureChecks:
    def __init__(self, case, work, rec, qrx, vcase, vdir):
        self.case, self.work, self.rec, self.qrx = case, work, rec, qrx
        self.vcase, self.vdir = vcase, vdir
        self.out = rec["steps"][0]["output"]
        self.findings = []
        self.d = None
        pn = find(self.out, "ParameterNames")
        if pn and os.path.exists(os.path.join(vdir, "dz.csv")):
            self.d = check.Data(vcase, vdir, rec)
            self.d.map_names(pn[-1])

    def fail(self, family, where, text):
        self.findings.append(Finding(family, where, text))

    # ---- helpers ----
    def taken(self, tabs):
        """(name, design column) of a printed model's parameters that have a column and a
        degree of freedom (the Intercept as column None)."""
        out = []
        for r in table_rows(tabs["ParameterEstimates"]):
            name = check.norm_name(r["Parameter"])
            if r.get("DF", 1) in (0, None):
                continue
            if name == "Intercept":
                out.append((name, None, r))
            elif name in self.d.col_of:
                out.append((name, self.d.col_of[name], r))
            else:
                return None
        return out

    def refit(self, ps):
        cols = [c for _, c, _ in ps if c is not None]
        X = self.d.D[:, cols] if cols else np.zeros((len(self.d.y), 0))
        return ref.fit(X, self.d.y, self.d.wf, self.d.noint), cols

    def ext_columns(self, names, cols, n):
        """The columns of parameters named as the tables or the item store name them (x1,
        'g1 L002', 'g1_L002') over rows given as column lists; NaN where a row has no value
        (a missing variable or a level the fit never met); None for a name it cannot build."""
        out = []
        for name in names:
            if name == "Intercept":
                out.append(np.ones(n))
                continue
            if name in cols and name not in self.case.classes:
                out.append(np.array([np.nan if v is None else float(v) for v in cols[name]]))
                continue
            built = None
            for c, coding in self.case.classes.items():
                for sep in (" ", "_"):
                    if name.startswith(c + sep) and c in cols:
                        built = self.level_column(c, coding, name[len(c) + 1:], cols[c])
            if built is None:
                return None
            out.append(built)
        return np.column_stack(out) if out else np.zeros((n, 0))

    def level_column(self, c, coding, level, values):
        known = sorted(set(self.case.columns[c]))
        if coding not in ("GLM", "REF", "EFFECT") or level not in known:
            return None
        last = known[-1]
        col = []
        for v in values:
            if v not in known:
                col.append(np.nan)
            elif coding == "EFFECT" and v == last:
                col.append(-1.0)
            else:
                col.append(1.0 if v == level else 0.0)
        return np.array(col)

    def selected(self):
        for label, tabs in printed_models(self.out):
            if label == "Selected" and "ParameterEstimates" in tabs:
                return tabs
        return None

    def step_models(self):
        return [(int(lb[4:]), t) for lb, t in printed_models(self.out)
                if lb.startswith("Step") and "ParameterEstimates" in t]

    def predictions(self, tabs, X_of):
        """Predictions of a printed model on other rows: the least-squares refit of its taken
        columns for the least-squares methods, its printed estimates for the others; with
        the sizes of the terms summed (for the allowance) and the relative tolerance."""
        ps = self.taken(tabs)
        if ps is None:
            return None
        names = [nm for nm, _, _ in ps]
        Xe = X_of(names)
        if Xe is None:
            return None
        if self.case.method in LS:
            f, _ = self.refit(ps)
            other = [i for i, nm in enumerate(names) if nm != "Intercept"]
            Xn = Xe[:, other]
            k0 = 0 if self.d.noint else 1
            pred = f.predict(Xn)
            mag = np.abs(Xn) @ np.abs(f.beta[k0:]) + (abs(f.beta[0]) if k0 else 0.0)
            return pred, mag, tol_of(f)
        beta = np.array([float(r["Estimate"]) if real(r["Estimate"]) else 0.0 for _, _, r in ps])
        pred = Xe @ beta
        mag = np.abs(Xe) @ np.abs(beta)
        tol = 1e-12
        return pred, mag, tol

    def role_ase(self, where, row, Xe, y, wf, tabs, column):
        """A step's validation or test ASE against the refit's predictions on those rows."""
        v = row.get(column)
        if v is None or not real(v) or len(y) == 0:
            return
        got = self.predictions(tabs, lambda names: self.ext_columns(names, Xe, len(y)))
        if got is None:
            return
        pred, mag, tol = got
        ok = ~np.isnan(pred)
        r = y[ok] - pred[ok]
        sw = math.fsum(wf[ok])
        want = math.fsum(wf[ok] * r * r) / sw
        spread = math.fsum(wf[ok] * (y[ok] - np.average(y[ok], weights=wf[ok])) ** 2) / sw
        slack = 10 * tol * (want + spread) + 1e-12 * (want + spread) + \
            4 * ref.EPS * float(np.max(mag[ok], initial=0)) * math.sqrt(want + 1e-300)
        if abs(v - want) > slack:
            self.fail("role.ase", where, "%s %r, refit's %r (allowed %.2g)" % (column, v, want, slack))

    def chosen_by(self, column):
        """The selected model is the step whose column is least (the first such step)."""
        t = find(self.out, "SelectionSummary")
        sel = self.selected()
        if not t or sel is None:
            return
        rows = [r for r in table_rows(t[0]) if real(r.get(column))]
        if not rows:
            return
        best = min(rows, key=lambda r: r[column])
        steps = dict(self.step_models())
        tabs = steps.get(best["Step"])
        if tabs is None:
            return
        ties = [r for r in rows if abs(r[column] - best[column]) <= 1e-9 * abs(best[column])]
        effs = check.Checker.effects_of(sel)
        if all(check.Checker.effects_of(steps[r["Step"]]) != effs for r in ties if r["Step"] in steps):
            self.fail("choose", "Selected", "the selected model is not step %d of least %s %r"
                      % (best["Step"], column, best[column]))

    # ---- data roles ----
    def check_partition(self):
        case = self.case
        role = roles_of(self.work)
        if role is None or self.d is None:
            self.fail("role", "OUTPUT", "no _ROLE_ in the output data set")
            return
        if case.opt["partition"] == "rolevar":
            want = np.array([ROLES[v] for v in case.columns["role"]])
            if not (role == want).all():
                self.fail("role", "OUTPUT", "%d rows with another role than the role variable "
                          "gives" % int((role != want).sum()))
        w = np.array(case.columns[case.weight], float) if case.weight else np.ones(len(role))
        fr = np.array(case.columns[case.freq], float) if case.freq else np.ones(len(role))
        for r in table_rows(find(self.out, "NObs")[0]):
            for key, name, label in (("Training", "TRAIN", "Training"),
                                     ("Validation", "VALIDATE", "Validation"),
                                     ("Test", "TEST", "Testing")):
                on = (role == name) & (w > 0)
                want = {"NObs" + key: int(on.sum()), "Sum%sFreqs" % key: float(fr[on].sum())}
                if r["Label"].endswith("Used for " + label):
                    want["N"] = int(on.sum())
                for col, v in want.items():
                    if col in r and r[col] != v:
                        self.fail("role.nobs", "NObs", "%s: %s %r, rows of that role %r"
                                  % (r["Label"], col, r[col], v))
        t = find(self.out, "SelectionSummary")
        if not t:
            return
        summary = {r["Step"]: r for r in table_rows(t[0])}
        self.role_fitstats(summary)
        y = np.array(case.columns["y"], float)
        cols = case.columns
        for step, tabs in self.step_models():
            row = summary.get(step)
            if row is None:
                continue
            for column, name in (("ValidationASE", "VALIDATE"), ("TestASE", "TEST")):
                rows = np.flatnonzero((role == name) & (w > 0))
                sub = {c: [cols[c][i] for i in rows] for c in cols}
                self.role_ase("Step%d" % step, row, sub, y[rows], w[rows], tabs, column)
        if "choose=validate" in case.program:
            self.chosen_by("ValidationASE")

    def check_extdata(self):
        cols, full, vrows, trows = self.case.opt["valdata"]
        t = find(self.out, "SelectionSummary")
        if not t or self.d is None:
            return
        summary = {r["Step"]: r for r in table_rows(t[0])}
        self.role_fitstats(summary)
        # without data roles every row the fit uses trains it
        for r in table_rows(find(self.out, "NObs")[0]) if find(self.out, "NObs") else []:
            for key, whole in (("NObsTraining", "NObsUsed"), ("SumTrainingFreqs", "SumFreqsUsed")):
                if key in r and r[key] != r.get(whole):
                    self.fail("role.nobs", "NObs", "%s: %s %r, %s %r" % (
                        r["Label"], key, r[key], whole, r.get(whole)))
        for step, tabs in self.step_models():
            row = summary.get(step)
            if row is None:
                continue
            for column, rows in (("ValidationASE", vrows), ("TestASE", trows)):
                sub = {c: [cols[c][i] for i in rows] for c in full}
                y = np.array(sub["y"], float)
                self.role_ase("Step%d" % step, row, sub, y, np.ones(len(y)), tabs, column)
        self.chosen_by("ValidationASE")

    def role_fitstats(self, summary):
        """Each step's fit statistics of the roles are its summary row's (the selected
        model's the chosen step's), and the best-step table's validation step and value
        the summary's least validation ASE (its first step)."""
        pairs = (("ASE (Train)", "ASE"), ("ASE (Validate)", "ValidationASE"),
                 ("ASE (Test)", "TestASE"))
        models = [(step, tabs) for step, tabs in self.step_models()]
        rows = [r for r in summary.values() if real(r.get("ValidationASE"))]
        i = check.decisions.best_row(rows, "ValidationASE", False)
        least = min((r["ValidationASE"] for r in rows), default=None)
        sel = self.selected()
        note = [t for t in (sel or {}).get("texts", []) if "model at step" in t]
        m = re.search(r"model at step (\d+)", note[0]) if note else None
        if sel is not None and m:
            models.append((int(m.group(1)), sel))
        for step, tabs in models:
            fs = factoid(tabs["FitStatistics"]) if "FitStatistics" in tabs else {}
            row = summary.get(step)
            for label, col in pairs:
                # the two are formed apart: a last-bit difference is seen (partition seed 88)
                if row is not None and label in fs and col in row and (
                        real(row[col]) and check.tables.differs(fs[label], row[col], 1e-12)
                        or not real(row[col]) and fs[label] != row[col]):
                    self.fail("role.fitstats", "Step%d" % step, "%s %r, the summary's %s %r"
                              % (label, fs[label], col, row[col]))
        bs = find(self.out, "BestStep")
        bs = table_rows(bs[0])[0] if bs and bs[0]["rows"] else {}
        # a step is judged where no other comes within 1e-9 of it (no rule of ties)
        if least is not None and "ValidateVal" in bs and (bs["ValidateVal"] != least or (
                i is not None and bs.get("ValidateStep") != rows[i]["Step"])):
            self.fail("role.best", "BestStep", "least validation ASE %r at step %r, the "
                      "summary's %r" % (bs["ValidateVal"], bs.get("ValidateStep"), least))

    # ---- SCORE, CODE and STORE ----
    def check_scoring(self):
        sc, order = self.case.opt["score"]
        n = len(sc["y"])
        sel = self.selected()
        if sel is None or self.d is None:
            return
        head, rows = read_csv(os.path.join(self.work, "so.csv"))
        if "ps" not in head or len(rows) != n:
            self.fail("score", "SCORE", "no predictions ps for the %d scoring rows" % n)
            return
        ps = np.array([np.nan if r[head.index("ps")] in ("", ".") else float(r[head.index("ps")])
                       for r in rows])
        got = self.predictions(sel, lambda names: self.ext_columns(names, sc, n))
        if got is not None:
            pred, mag, tol = got
            self.compare("score", "SCORE", ps, pred, 10 * tol * mag + 1e-12 * np.abs(pred) + 1e-300)
            if "rs" in head:
                rs = np.array([np.nan if r[head.index("rs")] in ("", ".") else
                               float(r[head.index("rs")]) for r in rows])
                y = np.array(sc["y"], float)
                self.compare("score.residual", "SCORE", rs, y - ps,
                             4 * ref.EPS * (np.abs(y) + np.abs(ps)) + 1e-300)
            self.score_info(sc, n, pred, 10 * tol * mag + 1e-12 * np.abs(pred))
        self.check_code("s.csv", ps, "CODE")
        p = self.output_pred()
        self.check_code("d.csv", p, "CODE on the data")
        self.check_store(sel, ps, sc, n)
        self.store_predicts(self.case.columns, p, "STORE on the data")

    def score_info(self, sc, n, pred, slack):
        """ScoreInfo: the scoring rows read, those the model predicts (no needed value
        missing, no level the fit never met), those of them with a response, and the
        weighted SSE of the reference's predictions there (the weight and frequency of the
        scoring rows where they carry those variables)."""
        info = factoid(find(self.out, "ScoreInfo")[0]) if find(self.out, "ScoreInfo") else {}
        y = np.array([np.nan if v is None else float(v) for v in sc["y"]])
        w = np.ones(n)
        for v in (self.case.weight, self.case.freq):
            if v and v in sc:
                w = w * np.array([0.0 if x is None else float(x) for x in sc[v]])
        used = ~np.isnan(pred)
        resp = used & ~np.isnan(y)
        r = np.where(resp, y - pred, 0.0)
        sse = math.fsum(w[resp] * r[resp] ** 2)
        allow = 2 * math.fsum(w[resp] * np.abs(r[resp]) * slack[resp]) + 1e-12 * sse + 1e-300
        want = {"Number of Observations Read": n, "Number of Observations Used": int(used.sum()),
                "Number of Observations Used with a Response": int(resp.sum())}
        for label, v in want.items():
            if label in info and info[label] != v:
                self.fail("score.info", "ScoreInfo", "%s %r, the scoring rows give %r"
                          % (label, info[label], v))
        got = info.get("Weighted SSE")
        if "Weighted SSE" in info and not (real(got) and abs(got - sse) <= allow):
            self.fail("score.info", "ScoreInfo", "Weighted SSE %r, the reference's predictions "
                      "give %r (allowed %.3g)" % (got, sse, allow))

    def compare(self, family, where, got, want, slack):
        miss = np.isnan(got) != np.isnan(want)
        if miss.any():
            i = int(np.argmax(miss))
            self.fail(family, where, "row %d: %r where the reference gives %r" % (i, got[i], want[i]))
            return
        ok = ~np.isnan(want)
        bad = np.abs(got[ok] - want[ok]) > np.broadcast_to(slack, want.shape)[ok]
        if bad.any():
            i = int(np.flatnonzero(ok)[np.argmax(bad)])
            self.fail(family, where, "%d rows differ, e.g. row %d: %r against %r"
                      % (int(bad.sum()), i, got[i], want[i]))

    def check_code(self, data, want, where):
        """The CODE file run by Python over a data set gives the predictions want (SCORE's on
        the scoring rows, OUTPUT's on the fit's own data)."""
        code = os.path.join(self.work, "code.py")
        if not os.path.exists(code):
            self.fail("code", "CODE", "no scoring code written")
            return
        run = subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "scripts", "run_scoring_code.py"),
                              code, os.path.join(self.work, data)],
                             capture_output=True, text=True, timeout=runqrx.HANG_LIMIT,
                             preexec_fn=runqrx.cpu_limited(60))
        n = len(want)
        lines = run.stdout.split("\n")[:n]
        if run.returncode != 0 or len(lines) != n:
            self.fail("code", where, "the scoring code failed: %s" % run.stderr[-300:])
            return
        got = np.array([float(v) if v else np.nan for v in lines])
        self.compare("code", where, got, want, 1e-12 * np.abs(want) + 1e-300 +
                     1e-12 * np.nanmax(np.abs(want), initial=0))

    def output_pred(self):
        """OUTPUT's predictions, one per row of the data (NaN where it predicts nothing)."""
        head, rows = read_csv(os.path.join(self.work, "o.csv"))
        j = head.index("p")
        return np.array([float(r[j]) if r[j] not in ("", ".") else np.nan for r in rows])

    def check_store(self, sel, ps, sc, n):
        path = os.path.join(self.work, "st.json")
        if not os.path.exists(path):
            self.fail("store", "STORE", "no item store written")
            return
        with open(path) as fh:
            store = json.load(fh)
        if store.get("version") != 1:
            self.fail("store.layout", "STORE", "item store version %r, this reading's 1"
                      % store.get("version"))
        g = store["groups"][0]
        printed = {check.norm_name(r["Parameter"]): r for r in table_rows(sel["ParameterEstimates"])}
        names, beta = [], []
        for p in g["parameters"]:
            names.append(p["name"])
            beta.append(p["estimate"])
        key = {check.norm_name(k).replace(" ", "_"): k for k in printed}
        for nm, b in zip(names, beta):
            r = printed.get(key.get(nm.replace(" ", "_"), nm))
            if r is None or not real(r["Estimate"]):
                if b not in (0, None):
                    self.fail("store", "STORE", "%s stored as %r, not printed" % (nm, b))
                continue
            if b != r["Estimate"]:
                self.fail("store", "STORE", "%s stored as %r, printed %r" % (nm, b, r["Estimate"]))
        anova = {r["Source"].split()[0]: r for r in table_rows(sel["ANOVA"])} if "ANOVA" in sel else {}
        err = anova.get("Error")
        if err and self.case.method in LS and real(err.get("MS")):
            if g.get("errorDF") != err["DF"] or abs(g["errorVariance"] - err["MS"]) > 1e-12 * abs(err["MS"]):
                self.fail("store", "STORE", "error variance %r on %r DF, the ANOVA's %r on %r"
                          % (g.get("errorVariance"), g.get("errorDF"), err["MS"], err["DF"]))
        self.store_layout(g)
        self.store_predicts(sc, ps, "STORE")
        self.store_covariance(g, sel, key)

    def store_layout(self, g):
        """The item store's layout: each selected effect listed once, with its column count
        the block its parameters' columns lie in, each CLASS variable's level width its
        longest level's and its coding rows one per level, as wide as its effect's block."""
        names = [e.get("name") for e in g["effects"]]
        twice = sorted({nm for nm in names if names.count(nm) > 1})
        if twice:
            self.fail("store.layout", "STORE", "effects listed more than once: %s" % twice)
        width = {e.get("name"): e.get("columns") for e in g["effects"]}
        classes = {c["name"]: c for c in g["classes"]}
        for e in g["effects"]:
            # a plain effect's block: one column times each CLASS variable's (its levels
            # under GLM, one fewer under the other codings)
            if e.get("constructed") or any(c not in classes for c in e["classes"]):
                continue
            want = 1
            for c in e["classes"]:
                want *= len(classes[c]["levels"]) - (classes[c].get("coding") != "GLM")
            if e.get("columns") != want:
                self.fail("store.layout", "STORE", "effect %s of %r columns, its variables "
                          "make %d" % (e.get("name"), e.get("columns"), want))
        for p in g["parameters"]:
            k = width.get(p["effect"])
            if k is None or not 0 <= p["column"] < k:
                self.fail("store.layout", "STORE", "%s at column %r of its effect's %r"
                          % (p["name"], p["column"], k))
        for c in g["classes"]:
            longest = max((len(lv.encode()) for lv in c["levels"]), default=0)
            rows = c.get("codingRows")
            k = width.get(c["name"])
            if c.get("levelWidth") != longest or rows and (
                    len(rows) != len(c["levels"]) or k is not None and
                    any(len(r) != k for r in rows)):
                self.fail("store.layout", "STORE", "%s: level width %r (longest level %d), "
                          "coding rows %s for %d levels of %r columns" % (
                              c["name"], c.get("levelWidth"), longest,
                              rows and "%dx%d" % (len(rows), len(rows[0])), len(c["levels"]), k))

    def store_predicts(self, cols, want, where):
        """The item store read as a user reads it: each parameter's column made from its
        effect's variables and its CLASS variable's levels and coding rows as the store
        gives them, times the stored estimate, gives the predictions want."""
        with open(os.path.join(self.work, "st.json")) as fh:
            g = json.load(fh)["groups"][0]
        X = store_columns(g, cols, len(want))
        if X is None:
            return
        b = np.array([p["estimate"] or 0.0 for p in g["parameters"]], float)
        pred = X @ b
        mag = np.abs(X) @ np.abs(b)
        self.compare("store.predict", where, pred, want, 64 * ref.EPS * mag + 1e-300)

    def store_covariance(self, g, sel, key):
        """The stored covariance: its diagonal the printed standard errors squared, and under
        least squares the error variance times the inverse cross products of a refit."""
        cov = g.get("covariance")
        if not cov:
            return
        cov = np.array([[np.nan if v is None else v for v in r] for r in cov], float)
        names = [p["name"] for p in g["parameters"]]
        printed = {check.norm_name(r["Parameter"]): r for r in table_rows(sel["ParameterEstimates"])}
        rows = [printed.get(key.get(nm.replace(" ", "_"), nm)) for nm in names]
        for i, r in enumerate(rows):
            se = r.get("StdErr") if r else None
            if real(se) and abs(math.sqrt(max(cov[i, i], 0.0)) - se) > 1e-12 * abs(se) + 1e-300:
                self.fail("store.cov", "STORE", "%s variance %r, printed standard error %r"
                          % (names[i], cov[i, i], se))
                return
        ps = self.taken(sel) if self.case.method in LS else None
        s2 = g.get("errorVariance")
        if ps is None or not real(s2) or [check.norm_name(nm).replace(" ", "_") for nm, _, _ in ps] \
                != [nm.replace(" ", "_") for nm in names]:
            return
        f, _ = self.refit(ps)
        want = s2 * f.cov
        sd = np.sqrt(np.abs(np.diag(want)))
        slack = 10 * tol_of(f) * np.outer(sd, sd) + 1e-300
        if (np.abs(cov - want) > slack).any():
            i, j = np.unravel_index(int(np.argmax(np.abs(cov - want) - slack)), cov.shape)
            self.fail("store.cov", "STORE", "covariance of %s and %s %r, least squares %r"
                      % (names[i], names[j], cov[i, j], want[i, j]))

    # ---- model averaging ----
    def check_modelavg(self):
        t = find(self.out, "AvgParmEst")
        freq = find(self.out, "ModelSelectFreq")
        if not t or not freq or self.d is None:
            self.fail("modelavg", "run", "no average estimates")
            return
        est = {check.norm_name(r["Parameter"]): r for r in table_rows(t[0])}
        models = table_rows(freq[0])
        pct = find(self.out, "EffectSelectPct")
        if pct:
            for r in table_rows(pct[0]):
                want = math.fsum(m["SelectionPct"] for m in models
                                 if r["Effect"] in m["EffectsInModel"].split())
                if abs(r["SelectionPct"] - want) > 1e-9 * 100:
                    self.fail("modelavg.pct", r["Effect"], "selection percentage %r, models' %r"
                              % (r["SelectionPct"], want))
        self.modelavg_counts(models, est)
        if self.case.opt["modelavg"] != "whole":
            return
        for nm, r in est.items():
            # every sample the same fit: its estimates' quantiles are their mean (a sum of
            # equal terms divided by their count, to its rounding)
            if any(check.tables.differs(r.get(c), r["Mean"], 1e-13) for c in (
                    "Median", "LowerQuantile", "UpperQuantile") if c in r) and r["NumberNonzero"]:
                self.fail("modelavg.whole", nm, "quantiles %r of samples that all give %r" % (
                    [r.get(c) for c in ("Median", "LowerQuantile", "UpperQuantile")], r["Mean"]))
        if len(models) != 1 or abs(models[0]["SelectionPct"] - 100) > 1e-9:
            self.fail("modelavg.whole", "ModelSelectFreq", "samples of the whole data chose %d "
                      "models" % len(models))
            return
        names = [nm for nm in est if nm != "Intercept"]
        cols = [self.d.col_of.get(nm) for nm in names]
        if any(c is None for c in cols):
            return
        d = self.d
        keep = [j for j, nm in enumerate(names) if est[nm]["NumberNonzero"]]
        f = ref.fit(d.D[:, [cols[j] for j in keep]], d.y, d.wf, d.noint)
        tol = tol_of(f)
        sy = math.sqrt(d.tss_c / max(d.sumw, 1e-300)) or 1.0
        k0 = 0 if d.noint else 1
        want = {names[j]: f.beta[k0 + i] for i, j in enumerate(keep)}
        if not d.noint:
            want["Intercept"] = f.beta[0]
        for nm, r in est.items():
            b = want.get(nm, 0.0)
            x = np.ones(len(d.y)) if nm == "Intercept" else d.D[:, d.col_of[nm]]
            sx = math.sqrt(max(ref.wmean((x - ref.wmean(x, d.wf)) ** 2, d.wf), 0)) or 1.0
            if abs(r["Mean"] - b) * sx / sy > 10 * tol * (1 + abs(b) * sx / sy) + 1e-12 * abs(b) \
                    or abs(r["StdDev"] or 0) > 1e-12 * abs(b) + 1e-300:
                self.fail("modelavg.whole", nm, "mean estimate %r (sd %r) over samples of the whole "
                          "data, least squares %r" % (r["Mean"], r["StdDev"], b))
        head, rows = read_csv(os.path.join(self.work, "o.csv"))
        j = head.index("p")
        p = np.array([float(r[j]) if r[j] else np.nan for r in rows])[d.used]
        xb = np.full(len(d.y), est["Intercept"]["Mean"] if "Intercept" in est else 0.0)
        mag = np.abs(xb)
        for nm in names:
            xb = xb + est[nm]["Mean"] * d.D[:, d.col_of[nm]]
            mag = mag + np.abs(est[nm]["Mean"] * d.D[:, d.col_of[nm]])
        self.compare("modelavg.pred", "OUTPUT", p, xb, 64 * ref.EPS * mag + 1e-300)

    def modelavg_counts(self, models, est):
        """The samples' counts: the information's sample count and percentage those of
        MODELAVERAGE, each model's count of samples summing to them and its percentage,
        effect count and effect marks its effects', and each parameter's count of nonzero
        samples the samples of the models holding its effect (its percentage of them)."""
        prog = self.case.program.lower()
        m = re.search(r"nsamples=(\d+)", prog)
        if not m:
            return
        ns = int(m.group(1))
        info = factoid(find(self.out, "ModelAverageInfo")[0]) if find(
            self.out, "ModelAverageInfo") else {}
        pc = re.search(r"percent=([0-9.]+)", prog)
        want = {"Number of Samples": ns}
        if pc:
            want["Sample Percentage"] = float(pc.group(1))
        for label, v in want.items():
            if label in info and info[label] != v:
                self.fail("modelavg.counts", "ModelAverageInfo", "%s %r, MODELAVERAGE's %r"
                          % (label, info[label], v))
        if sum(r["TimesSelected"] for r in models) != ns:
            self.fail("modelavg.counts", "ModelSelectFreq", "models selected %r times in all, "
                      "%d samples" % ([r["TimesSelected"] for r in models], ns))
        for r in models:
            effs = r["EffectsInModel"].split()
            marks = {k: v for k, v in r.items() if k not in (
                "TimesSelected", "SelectionPct", "NEffectsInModel", "FreqScore",
                "EffectsInModel", "Control")}
            bad = [k for k, v in marks.items() if v != (1 if k in effs else 0)]
            if bad or r["NEffectsInModel"] != len(effs) or abs(
                    r["SelectionPct"] - 100 * r["TimesSelected"] / ns) > 1e-12 * 100:
                self.fail("modelavg.counts", "ModelSelectFreq", "model %r: %r effects, %r%% of "
                          "the samples, marks %r" % (r["EffectsInModel"], r["NEffectsInModel"],
                                                     r["SelectionPct"], bad))
        self.freq_scores(models, ns)
        for nm, r in est.items():
            eff = r.get("Effect")
            if eff is None or "NumberNonzero" not in r:
                continue
            times = sum(m["TimesSelected"] for m in models if eff in m["EffectsInModel"].split())
            # a parameter of a selected effect may still be 0 (an aliased level): at most
            if r["NumberNonzero"] > times or abs(
                    r["NonZeroPct"] - 100 * r["NumberNonzero"] / ns) > 1e-12 * 100:
                self.fail("modelavg.counts", nm, "nonzero in %r samples (%r%%), its effect in "
                          "%d of %d" % (r["NumberNonzero"], r["NonZeroPct"], times, ns))

    def freq_scores(self, models, ns):
        """Each model's frequency score: its count of samples plus the mean over its effects
        of the share of the samples that selected each, recounted from the models' rows
        (where they hold every sample)."""
        if sum(r["TimesSelected"] for r in models) != ns:
            return
        count = {}
        for r in models:
            for e in r["EffectsInModel"].split():
                count[e] = count.get(e, 0) + r["TimesSelected"]
        for r in models:
            effs = r["EffectsInModel"].split()
            if "FreqScore" not in r or not effs:
                continue
            want = r["TimesSelected"] + sum(count[e] for e in effs) / (len(effs) * ns)
            if tables.differs(r["FreqScore"], want, 1e-13):
                self.fail("modelavg.score", "ModelSelectFreq", "model %r: frequency score %r, "
                          "its samples and its effects' selection shares give %r"
                          % (r["EffectsInModel"], r["FreqScore"], want))

    # ---- penalized options ----
    def check_penalized(self):
        what = self.case.opt["penalized"]
        if self.d is None:
            return
        if what == "lscoeffs":
            for step, tabs in self.step_models():
                self.ls_estimates("Step%d" % step, tabs, nonzero=True)
        if what == "screen" and self.case.opt["screen"] == "sasvi":
            self.unscreened()
        if what == "cvex":
            self.cvex()
        if what == "l2search":
            self.l2search()
        if what == "qk" and self.case.opt.get("l1") == 0.0:
            # the solver's one fit, printed after its step 0
            top = [n for n in self.out if n.get("name") == "ParameterEstimates"]
            if top:
                self.min_sse("ParameterEstimates", {"ParameterEstimates": top[-1]})

    def cvex(self):
        """External cross validation: each step's printed value is the summary's, and the
        summary's is the folds' held-out errors along their own paths, averaged on the merged
        grid of their knots and read at the step's path value."""
        t = find(self.out, "SelectionSummary")
        if not t:
            return
        rows = table_rows(t[0])
        summary = {r["Step"]: r.get("CVEXPRESS") for r in rows}
        chosen = [r["Step"] for r in rows if r.get("OptCVEXPRESS") == 1]
        for step, tabs in self.step_models() + [(chosen[0] if chosen else None,
                                                  self.selected() or {})]:
            fs = factoid(tabs["FitStatistics"]) if "FitStatistics" in tabs else {}
            # a printed missing where the summary has the step's value is a wrong number too
            v = fs.get("External CV PRESS")
            if ("External CV PRESS" in fs and summary.get(step) is not None
                    and v != summary[step]):
                where = "Step%d" % step if tabs is not self.selected() else "Selected"
                self.fail("cvex.step", where, "External CV PRESS %r, the summary's %r"
                          % (v, summary[step]))
        m = re.search(r"cvmethod=(split|block|random)\((\d+)\)", self.case.program)
        d = self.d
        if not m or d.noint:
            return
        fcase = copy.copy(self.case)
        fcase.foldm = (m.group(1).upper(), int(m.group(2)))
        folds = check.fold_groups(fcase)[0][d.used]
        cols = sorted({c for nm, c in d.col_of.items() if nm != "Intercept"})
        X = d.D[:, cols]
        lar = "selection=lar" in self.case.program
        # each fold's path stands on its own rows, whatever the whole data's path printed
        self.cvex_folds(X, folds, fcase.foldm[1], lar)
        knots, _ = ref.lasso_knots(X, d.y, d.wf, np.ones(len(d.y), bool), lar)
        got = np.array([r.get("CVEXPRESS") for r in rows], float)
        if len(knots) != len(got) or np.isnan(got).any():
            return
        if self.case.opt.get("trend"):
            # long paths into a near-perfect fit: the folds' knots are judged one by one
            return
        want, grid, curve = ref.cvex_errors(X, d.y, d.wf, folds, fcase.foldm[1], knots, lar)
        slack = 1e-9 * float(np.max(curve))
        self.cvex_curve(grid, curve, slack)
        bad = np.flatnonzero(np.abs(got - want) > slack)
        if len(bad):
            i = int(bad[0])
            self.fail("cvex.press", "Step%d" % rows[i]["Step"], "External CV PRESS %r, the "
                      "folds' paths give %r (%d steps differ)" % (got[i], want[i], len(bad)))

    def cvex_curve(self, grid, curve, slack):
        """The drawn curve of external cross validation (the CVExternal table of L1, the
        path value's log10, -6 for any below 1e-6, and ASEValidate): each drawn path value a
        knot of the folds' paths, and its error theirs averaged on the merged grid of their
        knots."""
        for t in find(self.out, "CVExternal"):
            names = [c["name"] for c in t["columns"]]
            if names != ["L1", "ASEValidate"]:
                continue
            for r in table_rows(t):
                if not real(r["ASEValidate"]):
                    continue
                if r["L1"] == -6:
                    # the axis's floor: a knot below 1e-6 (the least-squares end at 0 too)
                    low = curve[grid < 1e-6]
                    if len(low) and np.min(np.abs(low - r["ASEValidate"])) > slack:
                        self.fail("cvex.curve", "L1 -6", "ASEValidate %r, the folds' paths "
                                  "give %r below 1e-6" % (r["ASEValidate"], low.tolist()))
                        return
                    continue
                g = 10.0 ** r["L1"]
                if not grid[-1] <= g <= 1:
                    continue
                v = float(np.interp(-g, -grid, curve))
                near = float(np.min(np.abs(grid - g)))
                if near > 1e-9 * g + 16 * ref.EPS:
                    self.fail("cvex.curve", "L1 %r" % r["L1"], "path value %r is no fold's knot "
                              "(the nearest %r off)" % (g, near))
                    return
                if abs(r["ASEValidate"] - v) > slack:
                    self.fail("cvex.curve", "L1 %r" % r["L1"], "ASEValidate %r, the folds' "
                              "paths give %r" % (r["ASEValidate"], v))
                    return

    def cvex_folds(self, X, folds, k, lar):
        """Each fold's path as SHOWCVEX$ prints it (the CVExternal table): at every knot of
        the path fitted without the fold, against the path of exact cross products of the
        fold's training rows with the engine's rules for ties and for a step that does not
        move (FoldPath), up to where the rounding the allowances grant could turn one of
        those decisions; the count of knots where none could."""
        t = find(self.out, "CVExternal")
        if not t or "L1Norm" not in [c["name"] for c in t[0]["columns"]]:
            return
        d = self.d
        rows = table_rows(t[0])
        for f in range(k):
            got = [r for r in rows if r["Fold"] == f]
            train, held = folds != f, folds == f
            if not got or not held.any():
                continue
            unit = math.sqrt(math.fsum(d.wf[train]) / (math.fsum(d.freq[train]) - 1))
            path = ref.lar_exact(X, d.y, d.wf, train, not lar, unit=unit)
            if path is None:
                continue
            tol = check.tolerance(path.kappa, 1e-9)
            if not math.isfinite(tol) or tol > 1e-3:
                continue
            fold = FoldPath(X, d, train, held, path, tol, unit)
            judged, counts = fold.decided(got)
            if judged == len(fold.knots) and (
                    len(got) not in counts if counts is not None else len(got) < judged):
                self.fail("cvex.fold", "Fold%d" % f, "%d knots printed, the fold's path has %d"
                          % (len(got), judged))
                return
            for i, r in enumerate(got[:judged]):
                bad = fold.misses(r, i)
                if bad:
                    self.fail("cvex.fold", "Fold%d Step%d" % (f, r["Step"]), bad)
                    return

    def l2search(self):
        """Each trial of the elastic net's L2 search (SHOWL2SEARCH$'s table): its criterion is
        the least over the steps it took of the elastic-net path at its L2, and the search
        keeps the trial of the least criterion."""
        t = find(self.out, "ElasticNetTuneL2")
        if not t:
            return
        rows = table_rows(t[0])
        self.l2search_replay(rows, t[1:])
        d = self.d
        if d.noint or any(e["kind"] != "cont" for e in self.case.effects):
            return
        crit = re.search(r"choose=(\w+)", self.case.program).group(1).upper()
        cols = [d.col_of[e["name"]] for e in self.case.effects if e["name"] in d.col_of]
        f = ref.fit(d.D[:, cols], d.y, d.wf, False)
        Z, _ = ref.standardised(d.D[:, cols], d.wf, d.n)
        yc = d.y - ref.wmean(d.y, d.wf)
        para = find(self.out, "ElasticNetParaSummary")
        first = float(np.max(np.abs(Z.T @ (d.wf * yc)), initial=0.0))
        got = factoid(para[0]).get("Largest Path Correlation") if para else None
        if got is not None and not (real(got) and abs(got - first) <= 1e-10 * first):
            self.fail("l2search.info", "ElasticNetParaSummary", "Largest Path Correlation %r, "
                      "the standardised columns' largest %r" % (got, first))
        for r in rows:
            b = ref.enet_knots(Z, yc, d.wf, (d.n - 1) * r["L2"])[:, :int(r["nSteps"])]
            vals = [ref.criteria(math.fsum(d.wf * (yc - Z @ b[:, k]) ** 2),
                                 1 + int((b[:, k] != 0).sum()), d.n, d.tss, False).get(crit)
                    for k in range(b.shape[1])]
            if None in vals or not vals:
                return
            want = min(vals)
            slack = 10 * check.tolerance(f.cond ** 2) * d.n + 1e-9 * abs(want)
            if abs(r["CriterionValue"] - want) > slack:
                self.fail("l2search.crit", "ElasticNetTuneL2", "trial %d at L2 %r: %s %r, the "
                          "elastic-net path's least %r" % (r["Step"], r["L2"], crit,
                                                          r["CriterionValue"], want))
            self.l2search_step(r, Z, yc, b, 10 * check.tolerance(f.cond ** 2, 1e-10))
            if r["OptCriterion"] == 1:
                self.l2search_stop(r, Z, yc, crit, slack)
        best = min(r["CriterionValue"] for r in rows)
        opt = [r["Step"] for r in rows if r["OptCriterion"] == 1]
        if [r["Step"] for r in rows if r["CriterionValue"] == best][:1] != opt:
            self.fail("l2search.choose", "ElasticNetTuneL2", "trial %s marked optimal, the least "
                      "criterion %r" % (opt, best))
        para = find(self.out, "ElasticNetParaSummary")
        chosen = factoid(para[0]).get("Chosen L2") if para else None
        if opt and chosen != [r["L2"] for r in rows if r["Step"] == opt[0]][0]:
            self.fail("l2search.choose", "ElasticNetParaSummary", "Chosen L2 %r, trial %d's L2 %r"
                      % (chosen, opt[0], [r["L2"] for r in rows if r["Step"] == opt[0]][0]))

    def l2search_stop(self, r, Z, yc, crit, slack):
        """The Stop Details of the kept trial's path: the effect that enters at the knot after
        its last step, with the criterion of that knot, compared with the last step's."""
        st = find(self.out, "StopDetails")
        rows = table_rows(st[0]) if st else []
        d, k = self.d, int(r["nSteps"])
        b = ref.enet_knots(Z, yc, d.wf, (d.n - 1) * r["L2"])
        if len(rows) != 1 or b.shape[1] <= k or rows[0].get("CandidateFor") != "Entry":
            return
        names = [e["name"] for e in self.case.effects]
        new = [names[j] for j in np.flatnonzero((b[:, k] != 0) & (b[:, k - 1] == 0))]
        vals = [ref.criteria(math.fsum(d.wf * (yc - Z @ b[:, j]) ** 2),
                             1 + int((b[:, j] != 0).sum()), d.n, d.tss, False).get(crit)
                for j in (k, k - 1)]
        got = rows[0]
        for col, j, want in zip(("Criterion", "CompareCriterion"), (k, k - 1), vals):
            if want is not None and not (real(got.get(col)) and abs(got[col] - want) <= slack):
                self.fail("l2search.stop", "StopDetails", "%s %s %r, the elastic-net path's "
                          "knot %d at the kept L2 gives %r" % (got.get("Effect"), col,
                                                                got.get(col), j, want))
        if len(new) == 1 and norm_effect(got.get("Effect")) != new[0].lower():
            self.fail("l2search.stop", "StopDetails", "%s named to enter, the path's next knot "
                      "enters %s" % (got.get("Effect"), new[0]))

    def l2search_step(self, r, Z, yc, b, tol):
        """A trial's evaluated step (its last, nSteps - 1, of the knots b on the standardised
        columns Z): its parameter count with the intercept, the L1 and L2 norms of its
        coefficients, and its path value, the largest gradient of the ridge-augmented loss
        as a share of the first."""
        k = b.shape[1] - 1
        g = b[:, k]
        ridge = (self.d.n - 1) * r["L2"]
        grad = Z.T @ (self.d.wf * (yc - Z @ g)) - ridge * g
        first = float(np.max(np.abs(Z.T @ (self.d.wf * yc)), initial=0.0))
        want = {"nVar": 1 + int((g != 0).sum()), "L1Norm": float(np.abs(g).sum()),
                "L2Norm": float(np.sqrt(g @ g)),
                "L1Ratio": float(np.max(np.abs(grad), initial=0.0)) / first if first else None}
        for col, v in want.items():
            if v is None or col not in r:
                continue
            allow = tol * (1 if col == "L1Ratio" else abs(v)) + 1e-12 * abs(v)
            if r[col] != v if col == "nVar" else not (real(r[col]) and abs(r[col] - v) <= allow):
                self.fail("l2search.step", "ElasticNetTuneL2", "trial %d at L2 %r: %s %r, its "
                          "step %d of the path gives %r" % (r["Step"], r["L2"], col, r[col],
                                                            k, v))

    def l2search_replay(self, rows, others):
        """The search's decisions replayed from its printed criteria (ref.l2_search): each
        trial's L2 is the one the rule tries after the trials before it, there are as many
        trials as the rule makes, the trials at the L2 it keeps are marked and it is the
        Chosen L2, the summary echoes the program's settings and the kept trial, the graph's
        copy of the table is the table (LogL2 its L2's log10, -8 below 1e-8), and the final
        fit's least criterion is the kept trial's."""
        prog = self.case.program.lower()
        m = re.search(r"l2search=(grid|golden) l2low=(\S+) l2high=(\S+) l2steps=(\d+)", prog)
        if not m or not rows:
            return
        method, lo, hi, steps = m.group(1).upper(), float(m.group(2)), float(m.group(3)), \
            int(m.group(4))
        xs, best = ref.l2_search(method, lo, hi, steps, [r["CriterionValue"] for r in rows])
        for r, x in zip(rows, xs):
            if abs(r["L2"] - x) > 1e-12 * abs(x):
                self.fail("l2search.trial", "ElasticNetTuneL2", "trial %d at L2 %r, the %s "
                          "search tries %r after the trials before it" % (r["Step"], r["L2"],
                                                                          method, x))
                return
        if len(xs) != len(rows) or [r["Step"] for r in rows] != list(range(1, len(rows) + 1)):
            self.fail("l2search.trial", "ElasticNetTuneL2", "%d trials shown, the %s search "
                      "makes %d" % (len(rows), method, len(xs)))
            return
        kept = [r for r in rows if r["L2"] == best]
        marked = [r["Step"] for r in rows if r["OptCriterion"] == 1]
        if marked != [r["Step"] for r in kept]:
            self.fail("l2search.choose", "ElasticNetTuneL2", "trials %s marked optimal, the "
                      "search keeps L2 %r" % (marked, best))
        para = find(self.out, "ElasticNetParaSummary")
        info = factoid(para[0]) if para else {}
        crit = re.search(r"choose=(\w+)", prog).group(1).upper()
        want = {"L2 Search Method": {"GRID": "Logarithmic Grid", "GOLDEN": "Golden Section"}[
                    method], "L2 Lower Bound": lo, "L2 Upper Bound": hi,
                "Number of L2 Values": steps, "Search Criterion": crit, "Chosen L2": best}
        if kept:
            want["L1 Ratio of the Selected Step"] = kept[0]["L1Ratio"]
            want["Effects in the Selected Model"] = kept[0]["nVar"]
        for label, v in want.items():
            if label in info and info[label] != v:
                self.fail("l2search.info", "ElasticNetParaSummary", "%s %r, the search's %r"
                          % (label, info[label], v))
        for t in others:
            for r, o in zip(rows, table_rows(t)):
                same = {k: o.get("L1" if k == "L1Ratio" else k) for k in r}
                # the log axis ends at -8, where an L2 of 0 is drawn
                log = math.log10(r["L2"]) if r["L2"] >= 1e-8 else -8.0
                if same != r or not real(o["LogL2"]) or abs(o["LogL2"] - log) > 1e-13 * abs(log):
                    self.fail("l2search.graph", "ElasticNetTuneL2", "the graph's trial %d %r, "
                              "the table's %r" % (r["Step"], o, r))
                    break
        s = find(self.out, "SelectionSummary")
        vals = [r.get(crit) for r in table_rows(s[0])] if s and kept else []
        vals = [v for v in vals if real(v)]
        if vals and check.tables.differs(min(vals), kept[0]["CriterionValue"], 1e-12, 1e-300):
            self.fail("l2search.final", "SelectionSummary", "the final fit's least %s %r, the "
                      "kept trial's %r" % (crit, min(vals), kept[0]["CriterionValue"]))

    def unscreened(self):
        """Safe screening drops only effects the step's optimum leaves out: the path is the
        path without it."""
        from . import relations
        prog = self.case.program.replace("screen=sasvi ", "")
        other, _, _ = relations.rerun(relations.transformed(self.case, program=prog), self.work,
                                      "unscreened", self.qrx)
        if other is None:
            self.fail("screen", "run", "the path without screening did not run")
            return
        for f in relations.Compare("screen", self.case, other, self.rec, tol=1e-9,
                                   work=self.work).run():
            self.findings.append(f)

    # ---- effects ----
    def check_effects(self):
        """Under HIERARCHY=SINGLE no step holds a crossing or nesting without the model's
        effects it is made of."""
        if not re.search(r"hierarchy=single(?!class)", self.case.program):
            return
        names = {e["name"].lower() for e in self.case.effects}
        for label, tabs in printed_models(self.out):
            if "ParameterEstimates" not in tabs:
                continue
            now = {check.norm_name(r["Effect"]).lower() for r in table_rows(tabs["ParameterEstimates"])}
            for e in now:
                parts = [p for p in e.replace("(", "*").replace(")", "").split("*") if p]
                missing = [p for p in parts if p != e and p in names and p not in now]
                if len(parts) > 1 and missing:
                    self.fail("hierarchy", label, "%s in the model without %s" % (e, " ".join(missing)))
                    return

    def ls_estimates(self, where, tabs, nonzero):
        d = self.d
        ps = [(nm, c, r) for nm, c, r in (self.taken(tabs) or [])
              if not nonzero or (real(r["Estimate"]) and r["Estimate"] != 0)]
        if not ps:
            return
        f, cols = self.refit(ps)
        tol = tol_of(f)
        if tol > 1e-4:
            return
        sy = math.sqrt(d.tss_c / max(d.sumw, 1e-300)) or 1.0
        k0 = 0 if d.noint else 1
        i = 0
        for nm, c, r in ps:
            if c is None:
                b, sx = f.beta[0], 1.0
            else:
                b = f.beta[k0 + i]
                x = d.D[:, c]
                sx = math.sqrt(max(ref.wmean((x - ref.wmean(x, d.wf)) ** 2, d.wf), 0))
                i += 1
                if abs(r["Estimate"] - b) * sx / sy > 10 * tol * max(1.0, abs(b) * sx / sy):
                    self.fail("lscoeffs", where, "%s estimate %r, least squares of the step's "
                              "columns %r" % (nm, r["Estimate"], b))
                    return

    def min_sse(self, where, tabs):
        """At L1=0 the solver's fit is least squares over every column."""
        d = self.d
        cols = [c for nm, c in d.col_of.items() if nm != "Intercept"]
        X = d.D[:, sorted(set(cols))]
        lo = ref.min_sse(X, d.y, d.wf, d.noint)
        pred = np.zeros(len(d.y))
        for r in table_rows(tabs["ParameterEstimates"]):
            nm = check.norm_name(r["Parameter"])
            e = float(r["Estimate"]) if real(r["Estimate"]) else 0.0
            pred += e if nm == "Intercept" else e * d.D[:, d.col_of[nm]]
        sse = math.fsum(d.wf * (d.y - pred) ** 2)
        # the solver stops at TOL=1e-6 of its gradient: its SSE may lie above the least by
        # about that share of the total
        if sse > lo + 1e-6 * d.tss:
            self.fail("qk.l1zero", where, "SSE of the estimates at L1=0 %r, least squares %r "
                      "(total %r)" % (sse, lo, d.tss))

    # ---- NOINT beside a far response ----
    def check_nointfar(self):
        """Without an intercept a response near 1e9 leaves an uncorrected total near n 1e18,
        against which check.py's allowances say little: each step's error SS must be the SSE
        of its own printed estimates (summed in extended precision) within 1e-7 of it, and a
        stop for a perfect fit needs a model whose least-squares SSE is nil beside the
        response's own spread."""
        d = self.d
        if d is None:
            return
        yl = d.y.astype(np.longdouble)
        for label, tabs in printed_models(self.out):
            err = anova_of(tabs).get("Error")
            if err is None or "ParameterEstimates" not in tabs:
                continue
            pred = np.zeros(len(d.y), np.longdouble)
            for r in table_rows(tabs["ParameterEstimates"]):
                nm = check.norm_name(r["Parameter"])
                if real(r["Estimate"]) and nm in d.col_of:
                    pred += np.longdouble(r["Estimate"]) * d.D[:, d.col_of[nm]].astype(np.longdouble)
            sse = float(np.sum(d.wf.astype(np.longdouble) * (yl - pred) ** 2))
            slack = 1e-7 * sse + 1e-9 * d.tss_c
            if not real(err["SS"]) or abs(err["SS"] - sse) > slack:
                self.fail("noint.sse", label, "error SS %r, SSE of the printed estimates %r "
                          "(corrected total %r)" % (err["SS"], sse, d.tss_c))
        stop = find(self.out, "StopReason")
        sel = self.selected()
        if stop and sel is not None and "perfectly" in table_rows(stop[0])[0]["Reason"]:
            ps = self.taken(sel)
            if ps is not None:
                f, _ = self.refit(ps)
                if f.sse > 1e-6 * d.tss_c:
                    self.fail("noint.perfect", "Selected", "stopped for a perfect fit where least "
                              "squares leave %r (corrected total %r)" % (f.sse, d.tss_c))


class FoldPath:
    """One external CV fold's exact path (ref.lar_exact on its training rows) as SHOWCVEX$
    prints it (the CVExternal table), knot by knot: its path value (lambda over the fold's
    largest), that value in lambda's own units (L1Value), its count of variables, the norms
    of its coefficients, the fold's held-out error and that error's curvature along the
    segment that ends at the knot (Interpolation).

    With tol the project's rule for the condition kappa of the fold's scaled cross products
    (1e-9 below 1e6, 16 eps kappa above) and near = 16 eps sqrt(kappa) the rounding of the
    correlations (eps of the largest, 1 in path values, times the scaled columns'
    condition): the path value is allowed tol of itself, near, and what the active
    correlations' spread moves the joining column's correlation by (solved_changes), each
    over the rate at which that correlation closes on lambda there (the knot solves for where
    they meet); each coefficient tol of itself, what the path value's allowance moves it and
    what the spread moves it (drift); each coefficient's rate of change along the segment
    tol of itself and what the spread over lambda moves it (swing); and the norms, the
    held-out error and its curvature what coefficients and rates so far off move them. The
    fold's largest correlation is judged on its own too: it is formed once, from the
    training rows' sums, so every printed L1Value over its L1Ratio is allowed only tol of
    itself. The path keeps the engine's rules for ties and its end (ref.lar_exact with the
    fold's unit): the knots are judged up to where those allowances could turn a tie, and
    the count of knots where none could and no end is in doubt (decided)."""

    def __init__(self, X, d, train, held, path, tol, unit):
        self.knots, self.kappa, self.band, self.syy = path.knots, path.kappa, path.band, path.syy
        xc, sd, self.yc = path.centre
        self.lam0 = lam0 = path.lam0
        self.tol = tol
        self.wh = d.wf[held]
        self.sw = math.fsum(self.wh)
        self.yh = d.y[held]
        self.part = (X[held] - xc) / sd
        # the printed norms are of the coefficients of columns scaled by their sample
        # standard deviations (divisor: the training rows less one, unit = sqrt(W / (N -
        # 1)) of the path's), and lambda is such a column's inner product with the
        # response: lam0 of a unit-variance column over unit
        self.unit = unit
        self.lmax = lam0 / unit
        self.near = 16 * ref.EPS * math.sqrt(self.kappa)
        self.swing, self.spread, self.drift = self.solved_changes()

    def wmean(self, v):
        return math.fsum(self.wh * v) / self.sw

    def solved_changes(self, got=()):
        """For each knot, what the segment that ends there may have its change of the
        coefficients off by (swing, per unit of the path value), how far the active
        correlations may lie off their common one there (spread, in units of lam0), and what
        the coefficients there may be off by beyond their own rounding (drift). Where a
        column joins, the engine takes its correlation for the common one: it is off by the
        rate at which they close times how far the knot lies from this path's (the printed
        path value's distance where got has it, else the knot's allowance), and by near
        (near alone for the first column); the path carries that offset on as a fixed
        fraction of lambda (each active correlation falls in proportion to itself), so at
        path value g a column is off the common one by its offset times g over the path
        value where it joined. The coefficients solve the active set's cross products for
        those correlations (drift: the segment's reach, lam0 |G_A^-1|, times that spread),
        and the change solves them for the correlations over lambda (swing: the reach times
        each offset over the path value where it joined)."""
        p = len(self.knots[0].coef)
        joined, offset, met = np.ones(p), np.full(p, self.near), self.near
        swings, spreads = [], []
        for i, kn in enumerate(self.knots):
            on = kn.change != 0
            if i:
                prev = self.knots[i - 1]
                new = on & (prev.change == 0)
                joined = np.where(new, prev.value, np.where(on, joined, 1.0))
                offset = np.where(new, met, np.where(on, offset, self.near))
            swings.append(kn.reach @ (offset / joined))
            spreads.append(np.where(on, offset * kn.value / joined, 0.0))
            # what a column joining at this knot is off the common correlation by
            g = got[i].get("L1Ratio") if i < len(got) else None
            if i and real(g) and kn.value > 0:
                met = self.near + abs(g - kn.value) * kn.rate
            else:
                met = self.tol * kn.value + self.near + kn.meet @ spreads[-1]
        return swings, spreads, [kn.reach @ sp for kn, sp in zip(self.knots, spreads)]

    def shift(self, i):
        """The allowance of knot i's path value (0 at the end)."""
        kn = self.knots[i]
        if kn.value <= 0:
            return 0.0
        # the knot solves for where the joining correlation meets lambda: tol of itself, the
        # correlations' rounding and what the active correlations' spread moves the joining
        # one by, each over the rate at which they close
        return (self.tol * kn.value + self.near + kn.meet @ self.spread[i]) / kn.rate

    def decided(self, got):
        """(n, counts) for the printed rows got: the engine's path must share the first n
        knots with this one, up to the first knot where a column's gap below the most
        correlated one, at the path value printed there, lies within the correlations'
        rounding and what the spread moves it by of the band of ties, or on the other side
        of it from this path's; and where it shares them all, the counts of knots it may
        print (None: any from this path's on). The path ends after the first knot whose
        error SS is within 1e-8 of the total (the perfect-fit stop) or before a step that
        lowers lambda by no more than the band of ties (one that does not move): besides
        this path's count, one that ends after a knot whose error SS lies within its
        allowance of that bound, or before a step whose fall of lambda lies within the
        knots' allowances of the band."""
        self.swing, self.spread, self.drift = self.solved_changes(got)
        counts = {len(self.knots)}
        for i, kn in enumerate(self.knots):
            g = got[i].get("L1Ratio") if i < len(got) else None
            g = g if real(g) else kn.value
            for k, (a, e) in kn.pool.items():
                gap, exact = g - abs(a + g * e), kn.value - abs(a + kn.value * e)
                sure = self.near + kn.pulls[k] @ self.spread[i]
                if abs(gap - self.band) <= sure or (gap < self.band) != (exact < self.band):
                    return i + 1, set()
            if i + 1 < len(self.knots) and self.knots[i + 1].drop <= self.band + self.shift(
                    i) + self.shift(i + 1):
                counts.add(i + 1)
            if i and abs(kn.sse - 1e-8) <= self.sse_slack(i):
                counts.add(i + 1)
        last = self.knots[-1]
        ended = last.value > 0 and last.sse >= 1e-8
        unsure = last.sse < 1e-8 and abs(last.sse - 1e-8) <= self.sse_slack(len(self.knots) - 1)
        return len(self.knots), None if ended or unsure else counts

    def coef_slack(self, i):
        """What knot i's coefficients may be off by."""
        kn = self.knots[i]
        return self.tol * np.abs(kn.coef) + self.shift(i) * np.abs(kn.change) + self.drift[i]

    def sse_slack(self, i):
        """What knot i's error SS over the total may be off by: tol of the total (the sums
        it is formed from) and what coefficients so far off move it (2 lambda each, the
        correlations' size, over the total)."""
        lam = self.knots[i].value * self.lam0
        return self.tol + 2 * lam * math.fsum(self.coef_slack(i)) / self.syy

    def expected(self, i):
        """{printed column: (the exact path's value, its allowance)} at knot i."""
        kn = self.knots[i]
        g, b, dv = kn.value, kn.coef, kn.change
        tol, part, lmax = self.tol, self.part, self.lmax
        res = self.yh - self.yc - part @ b
        ase = self.wmean(res * res)
        dg = self.shift(i)
        db = self.coef_slack(i)
        move = np.abs(part) @ db
        # along the segment the coefficients change by dv per unit of the path value, so the
        # held-out predictions by part @ dv, and the held-out error is a quadratic in lambda
        # (the path value times lmax) whose leading coefficient is their mean square over
        # lmax squared
        rate = part @ dv
        turn = np.abs(part) @ (tol * np.abs(dv) + self.swing[i])
        q = self.wmean(rate * rate) / lmax ** 2
        dq = self.wmean((2 * np.abs(rate) + turn) * turn) / lmax ** 2 + 2 * tol * q
        return {"L1Ratio": (g, dg),
                "ASEValidate": (ase, tol * ase + self.wmean((2 * np.abs(res) + move) * move)),
                "L1Norm": (self.unit * math.fsum(np.abs(b)), self.unit * math.fsum(db)),
                "L2Norm": (self.unit * math.sqrt(math.fsum(b * b)), self.unit * math.fsum(db)),
                "L1Value": (g * lmax, (dg + tol * g) * lmax),
                "Interpolation": (q, dq)}

    def misses(self, r, i):
        """What of the printed row r misses knot i, or None."""
        want = self.expected(i)
        for col, (v, slack) in want.items():
            if col in r and (not real(r[col]) or abs(r[col] - v) > slack):
                return ("%s %r, the fold's path %r (allowed %.2g; scaled condition %.3g); "
                        "held-out ASE %r, the path's %r" % (
                            col, r[col], v, slack, math.sqrt(self.kappa),
                            r.get("ASEValidate"), want["ASEValidate"][0]))
        ratio, value = r.get("L1Ratio"), r.get("L1Value")
        if real(ratio) and real(value) and ratio > 0 and abs(
                value - ratio * self.lmax) > self.tol * abs(value):
            return ("L1Value %r over L1Ratio %r gives the fold's largest correlation %r, its "
                    "training rows' %r" % (value, ratio, value / ratio, self.lmax))
        if r.get("nVar") is not None and r["nVar"] != self.knots[i].active + 1:
            return "%r variables, the fold's path %d" % (r["nVar"], self.knots[i].active + 1)
        return None


def store_columns(g, cols, n):
    """The design columns of an item store group's parameters over rows given as column
    lists, from the store's own description (NaN where a row has no value or a level the
    store does not know); None for a constructed or crossed CLASS effect."""
    effects = {e["name"]: e for e in g["effects"]}
    classes = {c["name"]: c for c in g["classes"]}
    out = []
    for p in g["parameters"]:
        e = effects.get(p["effect"])
        if e is None or e["constructed"] or len(e["classes"]) > 1:
            return None
        col = np.ones(n)
        for v in e["continuous"]:
            col = col * np.array([np.nan if x is None else float(x) for x in cols[v]])
        for c in e["classes"]:
            info = classes[c]
            rows = info.get("codingRows")
            levels = {lv: i for i, lv in enumerate(info["levels"])}
            code = []
            if rows and not all(0 <= p["column"] < len(r) for r in rows):
                return None     # store_layout names the column out of its block
            for x in cols[c]:
                i = levels.get(x)
                code.append(np.nan if i is None else
                            float(rows[i][p["column"]]) if rows else float(i == p["column"]))
            col = col * np.array(code)
        out.append(col)
    return np.column_stack(out) if out else np.zeros((n, 0))


def norm_effect(name):
    return " ".join(str(name).split()).lower()


def anova_of(tabs):
    return {r["Source"].split()[0]: r for r in table_rows(tabs["ANOVA"])} if "ANOVA" in tabs else {}
