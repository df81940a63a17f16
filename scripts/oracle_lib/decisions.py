"""The selection read back: the summary's every column against its step's tables, every
Candidates and Stop Details value against the exact refit of that candidate model, which
effect enters or leaves at each step against a greedy search on exact criteria, the stop
step and the chosen step. A decision is judged only where the exact values of the two
best choices differ by more than their allowances and 1e-9 of their size."""
import math
import re

import numpy as np
from scipy import stats

from . import ref, tables
from .runqrx import factoid, table_rows

EPS = ref.EPS
CLASSIC = ("FORWARD", "BACKWARD", "STEPWISE")
BIGGER = ("ADJRSQ", "RSQUARE")
# the summary's column and the fit statistic of each criterion
COLUMN = {"AIC": ("AIC", "AIC"), "AICC": ("AICC", "AICC"), "SBC": ("SBC", "SBC"),
          "ADJRSQ": ("AdjRSq", "Adj R-Sq"), "RSQUARE": ("RSquare", "R-Square"),
          "CP": ("CP", "C(p)"), "BIC": ("BIC", "BIC"), "PRESS": ("PRESS", "PRESS"),
          "CV": ("CVPRESS", "CV PRESS"), "ASE": ("ASE", "ASE")}
# candidate models past this many rows x columns^2 are not searched (the relations judge them)
SEARCH_LIMIT = 6_000_000
ACCEPT, REFUSE = 1e-7, 1e-9
# a CLASS effect of more columns enters the candidate models through its levels' means
BIG = 50
# the exact pivots of an entry's columns past this many rows x columns^2 cost too much
EXACT_LIMIT = 4_000_000


def same_tol(case):
    """How far two prints of one model's number may differ: 1e-12, but 1e-9 under competitive
    stepwise, whose steps are compared by their candidates' trial fits while each step prints
    its own refit, and whose chosen model is restored from a snapshot of either."""
    return 1e-9 if "drop=competitive" in case.program.lower() else 1e-12


def norm(s):
    return " ".join(str(s).split()).lower()


# the criteria as the model information names them
NAMED = {"Significance Level": "SL", "AIC": "AIC", "AICC": "AICC", "SBC": "SBC", "BIC": "BIC",
         "C(p)": "CP", "Adjusted R-Square": "ADJRSQ", "R-Square": "RSQUARE", "PRESS": "PRESS",
         "Cross Validation PRESS": "CV", "None": "NONE"}


def criteria_shown(out, program=""):
    """The select, stop and choose criteria the model information shows (None where it
    shows none or one this reading does not know). STOP=NONE lets every step stand,
    whatever the model information calls the stop criterion."""
    info = {e["label"]: e["value"] for n, _ in nodes_named(out, "ModelInfo") for e in n["entries"]}
    select = NAMED.get(info.get("Select Criterion"))
    stop = info.get("Stop Criterion")
    stop = select if stop == "Same as the Select Criterion" else NAMED.get(stop)
    if re.search(r"\bstop\s*=\s*none\b", program, re.I):
        stop = "NONE"
    return select, stop, NAMED.get(info.get("Choose Criterion"))


class Step:
    """A printed step: its effects, the columns it took and refused, its error SS."""

    def __init__(self, d, label, tabs):
        self.label, self.tabs = label, tabs
        self.number = int(label[4:])
        rows = table_rows(tabs["ParameterEstimates"])
        self.effects = {norm(r["Effect"]) for r in rows} - {"intercept"}
        named = [r for r in rows if tables_name(r) in d.col_of and tables_name(r) != "Intercept"]
        self.taken = [d.col_of[tables_name(r)] for r in named if real_nz(r)]
        self.refused = [d.col_of[tables_name(r)] for r in named if not real_nz(r)]
        self.printed = [d.col_of[tables_name(r)] for r in named]
        a = tables.anova_rows(tabs)
        self.sse = a["Error"]["SS"] if "Error" in a else None
        self.fs = factoid(tabs["FitStatistics"]) if "FitStatistics" in tabs else {}


def real_nz(r):
    """A parameter the step holds: DF 1, or on a path without DF a non-zero estimate."""
    if "DF" in r:
        return r["DF"] > 0
    return tables.real(r.get("Estimate")) and r["Estimate"] != 0


def tables_name(r):
    return " ".join(str(r["Parameter"]).split())


class Judge:
    """The exact criteria of candidate models of one BY group."""

    def __init__(self, chk, d, models):
        self.chk, self.d = chk, d
        case = chk.case
        self.case = case
        self.select, self.stop, self.choose = criteria_shown(chk.whole, chk.case.program)
        self.sigma2, self.sigma_rel = self.full_variance(chk, d, models)
        self.models = models
        self.steps = {}
        for label, tabs in models:
            if label.startswith("Step") and "ParameterEstimates" in tabs:
                self.steps[int(label[4:])] = Step(d, label, tabs)
        self.effect_cols = self.effect_map(models)
        self.folds = chk.folds(d) if case.foldm else None
        m = re.search(r"hierarchy=(single|singleclass)\b", case.program.lower())
        self.hierarchy = m.group(1) if m else None
        # competitive stepwise weighs the best entry against the best removal at every step
        self.competitive = "drop=competitive" in case.program.lower()
        self.cache = {}
        self.big = self.many_levels()

    @staticmethod
    def full_variance(chk, d, models):
        """The full model's error variance of C(p) and BIC and its relative error: the one
        the printed C(p) of a step implies, SSE / (C(p) - 2p + n), from the step where that
        divisor is largest (the relation holds every step to it, and the full model's refit
        holds it where the full model's rank is not in doubt); else the refit's."""
        best = None
        for label, tabs in models:
            fs = factoid(tabs["FitStatistics"]) if "FitStatistics" in tabs else {}
            a = tables.anova_rows(tabs)
            if not tables.real(fs.get("C(p)")) or "Model" not in a or "Error" not in a:
                continue
            sse, p = a["Error"]["SS"], a["Model"]["DF"] + (0 if d.noint else 1)
            den = fs["C(p)"] - 2 * p + d.n
            if tables.real(sse) and sse > 0 and den > 0 and (best is None or den > best[0]):
                best = (den, sse / den, 4 * EPS * (abs(fs["C(p)"]) + 2 * p + d.n) / den)
        if best is None:
            return chk.full_sigma2, getattr(chk, "full_rel", 0.0)
        return best[1], best[2] + 4 * EPS

    def effect_map(self, models):
        names = set()
        for label, tabs in models:
            if "ParameterEstimates" in tabs:
                names |= {norm(r["Effect"]) for r in table_rows(tabs["ParameterEstimates"])}
            if "Candidates" in tabs:
                names |= {norm(r["Effect"]) for r in table_rows(tabs["Candidates"])}
        out = {}
        for e in names - {"intercept"}:
            cols = sorted(c for k, c in self.d.col_of.items()
                          if k.lower() == e or k.lower().startswith(e + " "))
            if cols:
                out[e] = cols
        return out

    # ---- a candidate model ----
    def columns(self, base, effect, adding):
        """The columns of the base step with the effect's added by the rank rule, or with
        them removed and the columns the base refused tried again (a removal may let an
        aliased column back in); None where a column lies in the band where either choice
        is sound."""
        own = set(self.effect_cols.get(effect, ()))
        if adding:
            return self.extend([c for c in base.taken], [c for c in self.effect_cols[effect]
                                                         if c not in base.taken])
        back = [c for c in base.refused if c not in own]
        cols = self.extend([c for c in base.taken if c not in own], back)
        if back and cols is not None:
            # A column taken back is judged by the fit of the remaining effects, each column
            # against those before it: where that order takes another set (or meets a pivot in
            # the band), which columns the data determine hangs on the order, not the data.
            fresh = self.extend([], self.sweep_order(base, [c for c in base.printed
                                                            if c not in own]))
            if fresh is None or sorted(fresh) != sorted(cols):
                return None
        return cols

    def sweep_order(self, base, cols):
        """The columns cols in the order a fit of the base's effects sweeps them again from
        X'X: by the step at which each one's effect last entered, then in design order (as
        check.rank_bands orders a step's columns)."""
        entered = {norm(e): s for e, s in self.chk.entry_order(self.models, base.number).items()}
        of = {c: e for e, cs in self.effect_cols.items() for c in cs}
        return sorted(cols, key=lambda c: (entered.get(of.get(c), 0), c))

    def extend(self, cols, new):
        d = self.d
        s = np.sqrt(d.wf)
        def centred(c):
            x = d.D[:, c]
            return (x if d.noint else x - ref.wmean(x, d.wf)) * s
        Q = None
        if cols:
            A = np.column_stack([centred(c) for c in cols])
            nrm = np.sqrt((A * A).sum(axis=0))
            if (nrm == 0).any():
                return None
            Q, R = np.linalg.qr(A / nrm)
            if np.linalg.cond(R) > 1e6:
                return None
        for c in new:
            a = centred(c)
            an = float(a @ a)
            if an == 0:
                continue
            r = a.copy()
            for _ in range(2):
                if Q is not None:
                    r -= Q @ (Q.T @ r)
            ratio = float(r @ r) / an
            if REFUSE <= ratio < ACCEPT:
                return None
            if ratio >= ACCEPT:
                cols.append(c)
                q = r / math.sqrt(float(r @ r))
                Q = q[:, None] if Q is None else np.column_stack([Q, q])
        return cols

    # ---- models with a CLASS effect of many levels, through its groups ----
    def many_levels(self):
        """The CLASS effects of more than BIG columns (GLM, REF or EFFECT coding beside an
        intercept: with it their columns span the indicators of their levels), each with
        the level of every used row."""
        out = {}
        if self.d.noint:
            return out
        names = {c.lower(): c for c in self.case.classes}
        for e, cols in self.effect_cols.items():
            c = names.get(e)
            if c and len(cols) > BIG and self.case.classes[c] in ("GLM", "REF", "EFFECT"):
                out[e] = np.unique(np.array(self.case.columns[c], dtype=object)[self.d.used],
                                   return_inverse=True)[1]
        return out

    def grouped_fit(self, effects, given, trial=()):
        """(error SS, scaled condition, parameters, least share of a given column left within
        the levels, the columns taken) of the least-squares model of the effects where one of them has many
        levels: the response and the other columns less their weighted means within its
        levels (the model's fit is the fit of those within the levels). The columns given
        (the ones a printed step took) are taken; the trial columns, which come after them,
        are taken or refused by the rank rule on what is left of each. None where a trial
        column falls in the band where either is sound or two effects have many levels."""
        key = ("grouped", tuple(sorted(effects)), tuple(given), tuple(trial))
        if key not in self.cache:
            self.cache[key] = self._grouped_fit(effects, given, trial)
        return self.cache[key]

    def _grouped_fit(self, effects, given, trial):
        d = self.d
        big = [e for e in effects if e in self.big]
        if len(big) > 1:
            return None
        # without the effect of many levels its one level is the intercept
        g = self.big[big[0]] if big else np.zeros(len(d.y), int)
        wsum = np.bincount(g, d.wf)
        within = lambda v: v - (np.bincount(g, d.wf * v) / np.where(wsum > 0, wsum, 1))[g]
        s = np.sqrt(d.wf)
        kept, cols, Q, least = [], [], np.zeros((len(d.y), 0)), 1.0
        for k, c in enumerate(list(given) + list(trial)):
            x = d.D[:, c]
            r = within(x) * s
            whole = float(np.sum(d.wf * (x - ref.wmean(x, d.wf)) ** 2))
            for _ in range(2):
                r = r - Q @ (Q.T @ r)
            ratio = float(r @ r) / whole if whole > 0 else 0.0
            if k >= len(given):
                if REFUSE <= ratio < ACCEPT:
                    return None
                if ratio < REFUSE:
                    continue
            least = min(least, ratio)
            kept.append(within(x))
            cols.append(c)
            if ratio > 0:
                Q = np.column_stack([Q, r / math.sqrt(float(r @ r))])
        X = np.column_stack(kept) if kept else np.zeros((len(d.y), 0))
        f = ref.fit(X, within(d.y), d.wf, True)
        # a column nearly a function of the levels conditions the whole design by the share
        # of it left within them
        cond = max(f.cond if kept else 1.0, 1 / math.sqrt(max(least, 1e-300)))
        return f.sse, cond, int((wsum > 0).sum()) + len(kept), least, cols

    def grouped_value(self, code, base, effect, adding):
        """A candidate's criterion through grouped_fit: the base's columns less a removed
        effect's, and an entering effect's columns or the base's refused ones tried after
        them; "norank" for an entry that adds no column; None where it cannot be judged.
        CV and PRESS come from the rows' residuals and leverages within the levels
        (grouped_loo)."""
        own = {c for e in self.big for c in self.effect_cols[e]}
        if own & set(base.refused):
            return None     # a base that refused a level's column is not the levels' model
        small = lambda cols: [c for c in cols if c not in own]
        mine = set(self.effect_cols.get(effect, ()))
        if adding:
            after = base.effects | {effect}
            given, trial = small(base.taken), small(c for c in self.effect_cols[effect]
                                                    if c not in base.taken)
        else:
            after = base.effects - {effect}
            given = small(c for c in base.taken if c not in mine)
            trial = small(c for c in base.refused if c not in mine)
        got, was = self.grouped_fit(after, given, trial), self.grouped_fit(
            base.effects, small(base.taken))
        if got is None or (code == "SL" and was is None):
            return None
        if not adding and effect in self.big and trial:
            # Once the effect of many levels has left, a column it kept out that comes back
            # has the columns that stay swept again from X'X in their order, each judged
            # against those before it (as columns() judges a removal): the base's columns
            # with its refused ones tried after them may be another set. Where that order
            # takes another set or meets a pivot in the band, the model the removal leaves
            # hangs on the rank rule's choice (seed 7400142: S1_10 at 1.1e-8 of its diagonal
            # taken, S1_14's exact 1.15e-5 then under its rounding bound 7.5e-5, and a CV
            # PRESS of 56453; S1_10 refused, S1_14 taken and 4.58e8;
            # scripts/check_levels_removal_cv.py).
            fresh = self.grouped_fit(after, [], self.sweep_order(
                base, small(c for c in base.printed if c not in mine)))
            if fresh is None or sorted(fresh[4]) != sorted(got[4]):
                return None
        # the levels' columns enter after those already in: where one of those is nearly a
        # function of the levels, the effect refuses a column of its own instead
        if adding and effect in self.big and got[3] < ACCEPT:
            return None
        rank, sse, cond = got[2], got[0], got[1]
        if adding and effect in self.big:
            # a level the rows barely part from the levels after it (a reference level whose
            # rows weigh 1e-8) has a pivot of that weight: refused below the band, unjudged in it
            refused = self.levels_refused(effect, given)
            if refused is None:
                return None
            short, kept = refused
            rank -= short
            if short and code not in ("CV", "PRESS"):
                # the refused levels' rows are left to the other columns, not to their means:
                # the error SS is the fit of the columns the rule takes (seed 7400210: three
                # levels held by rows of weight 1e-9 add 1.9e-8, 2.8e-11 of the total)
                f = ref.fit(self.d.D[:, got[4] + kept], self.d.y, self.d.wf, False)
                if not math.isfinite(f.cond):
                    return None
                sse, cond = f.sse, max(cond, f.cond)
        if adding and was is not None and rank == was[2]:
            return "norank"
        if code in ("CV", "PRESS"):
            # a level the rank rule refuses leaves a model other than the levels' means
            return None if rank != got[2] else self.grouped_loo(code, after, got[4], got[1])
        return self.formula_value(code, sse, cond, rank, was and was[:2], was and was[2])

    def step_value(self, code, now):
        """(value, allowance) of the CV PRESS or PRESS of the model a step holds, from the
        columns it took: the winning removal is the move its step made, so where the rank
        rule leaves the candidate's own columns open it is judged by those its step took
        (which check.rank_bands judges sound). None for the criteria of the error SS, whose
        allowance here (1e-12 of the total) is tighter than the step's own, and where no
        exact value is formed."""
        if code not in ("CV", "PRESS") or self.too_big(now):
            return None
        if not now.effects & set(self.big):
            return self.value(code, list(now.taken))
        own = {c for e in self.big for c in self.effect_cols[e]}
        if own & set(now.refused):
            return None
        got = self.grouped_fit(now.effects, [c for c in now.taken if c not in own])
        return None if got is None else self.grouped_loo(code, now.effects, got[4], got[1])

    def grouped_loo(self, code, effects, cols, cond):
        """(value, allowance) of PRESS or CV PRESS of the model of the effects where one has
        many levels, from the within-level fit of the columns taken: a row's leverage is its
        weight's share of its level's plus its leverage within the levels, and each fold's
        refit takes the levels' means of its training rows. None where no exact value is
        affordable or its allowance would pass an error of 1e-4 of the value."""
        d = self.d
        big = [e for e in effects if e in self.big]
        g = self.big[big[0]] if big else np.zeros(len(d.y), int)
        X = d.D[:, cols] if cols else np.zeros((len(d.y), 0))
        if code == "PRESS":
            got = ref.grouped_press(g, X, d.y, d.wf, d.freq, cond)
            if got is None:
                return None
            pr, hmax = got
            dsse = max(1e-9, 16 * EPS * cond ** 2) * d.tss
            allow = 10 * max(1e-9, 16 * EPS * cond ** 2) / (1 - hmax) * pr + 4 * dsse
        else:
            if self.folds is None:
                return None
            codes = None
            if big:
                codes = np.zeros((int(g.max()) + 1, len(self.effect_cols[big[0]])))
                codes[g] = d.D[:, self.effect_cols[big[0]]]
            parts = ref.grouped_fold_parts(g, X, d.y, d.wf, self.folds, 1e-9 * d.tss, codes)
            if parts is None:
                return None
            pr = math.fsum(q["part"] for q in parts)
            lo, hi = math.fsum(q["low"] for q in parts), math.fsum(q["high"] for q in parts)
            allow = max(pr - lo, hi - pr) + 4 * EPS * pr
        return None if allow > 1e-4 * pr else (pr, allow)

    def levels_refused(self, effect, given):
        """How many dimensions of the levels' span the rank rule leaves out when the
        many-level effect's columns enter, in their own order, after the intercept and the
        given columns: each column is taken above the band and refused below it, on its pivot
        against the columns taken before it. That count and the columns taken; None where a
        pivot lies in the band."""
        key = ("levels", effect, tuple(given))
        if key not in self.cache:
            self.cache[key] = self._levels_refused(effect, given)
        return self.cache[key]

    def _levels_refused(self, effect, given):
        d = self.d
        g, cols = self.big[effect], self.effect_cols[effect]
        nlev = int(g.max()) + 1
        # the effect's columns are a function of the level: L holds each level's row
        L = np.zeros((nlev, len(cols)))
        L[g] = d.D[:, cols]
        wlev = np.bincount(g, d.wf, minlength=nlev)
        s = np.sqrt(d.wf)
        Z = [s] + [(d.D[:, c] - ref.wmean(d.D[:, c], d.wf)) * s for c in given]
        Q, R = np.linalg.qr(np.column_stack(Z) / np.sqrt(
            [float(z @ z) or 1.0 for z in Z]))
        if np.linalg.cond(R) > 1e6:
            return None
        # each level's sum of its rows' sqrt(w) q: the columns' parts in the span of Z
        P = np.column_stack([np.bincount(g, s * Q[:, a], minlength=nlev)
                             for a in range(Q.shape[1])])
        G = L.T @ (wlev[:, None] * L)
        PL = P.T @ L
        M = G - PL.T @ PL
        tot = float(np.sum(d.wf))
        judged = np.diag(G) - (wlev @ L) ** 2 / tot
        # the columns in their order, each taken or refused by its pivot on those taken before
        # it (a refused one leaves the later ones their own pivots); the elimination in double
        # errs by some eps of the largest sums, which a level of tiny weight cannot tell from
        # its pivot (an aliased GLM column of weight 3e-6 beside 1e3 came out 1.1e-7 of its
        # diagonal, seed 7310013 of the many levels): such a pivot is not judged
        taken = []
        noise = 64 * EPS * max(tot, float(np.max(np.diag(G), initial=0.0)))
        for j in range(len(cols)):
            piv = M[j, j]
            ratio = piv / judged[j] if judged[j] > 0 else 0.0
            err = noise / judged[j] if judged[j] > 0 else 0.0
            if ratio + err < REFUSE:
                continue
            if ratio - err < ACCEPT:
                return None
            c = M[j + 1:, j]
            M[j + 1:, j + 1:] -= np.outer(c, c) / piv
            taken.append(cols[j])
        # with the intercept the columns span the indicators of the levels with rows
        return int((wlev > 0).sum()) - 1 - len(taken), taken

    def value(self, code, cols, base_sse=None, base_p=None):
        """base_sse: the base step's error SS and condition (SL only)."""
        """(exact value, allowance) of criterion `code` for the model of columns `cols`;
        None where it cannot be formed (no variance of the full model, a perfect fit)."""
        key = (code, tuple(sorted(cols)), base_sse, base_p)
        if key in self.cache:
            return self.cache[key]
        self.cache[key] = out = self._value(code, cols, base_sse, base_p)
        return out

    def _value(self, code, cols, base, base_p):
        d = self.d
        X = d.D[:, cols] if cols else np.zeros((len(d.y), 0))
        f = ref.fit(X, d.y, d.wf, d.noint)
        if not math.isfinite(f.cond):
            return None
        p = len(cols) + (0 if d.noint else 1)
        dsse = max(1e-9, 16 * EPS * f.cond ** 2) * d.tss
        if code == "CV":
            if self.folds is None:
                return None
            parts = ref.fold_parts(X, d.y, d.wf, d.freq, self.folds, d.noint, 1e-9 * d.tss)
            v = math.fsum(q["part"] for q in parts)
            lo, hi = math.fsum(q["low"] for q in parts), math.fsum(q["high"] for q in parts)
            return v, max(v - lo, hi - v) + 4 * EPS * v
        if code == "PRESS":
            pr, hmax, kap, near = ref.press_sum(X, d.y, d.wf, d.freq, d.noint)
            if near:
                return None
            return pr, 10 * max(1e-9, 16 * EPS * kap) / (1 - hmax) * pr + 4 * dsse
        return self.formula_value(code, f.sse, f.cond, p, base, base_p)

    def formula_value(self, code, sse, cond, p, base, base_p):
        """(value, allowance) of a criterion formed from a model's error SS (its columns'
        scaled condition cond, p parameters) and, for SL, the base's error SS and condition."""
        d = self.d
        n, tss = d.n, d.tss
        # a sweep of sums about the means errs by far less than 16 eps kappa of the total
        # where the columns are well conditioned (no step of the sampled runs came within
        # 1e-2 of this bound at 1e-12); the floor keeps an allowance for the sums' rounding
        dsse = max(1e-12, 16 * EPS * cond ** 2) * tss
        base_sse, base_cond = base if base else (None, 1.0)
        if code == "SL":
            # the change of the error SS is found from the candidate's own sums: it errs by
            # its conditioning relative to itself and the total, not by 1e-9 of the total
            if base_sse is None:
                return None
            v = log_p(base_sse, sse, base_p, p, n)
            if v is None:
                return None
            u = max(1e-11, 16 * EPS * max(cond, base_cond) ** 2)
            diff = abs(base_sse - sse)
            rel = (max(1e-9 * diff, u * tss) / max(diff, 1e-300)
                   + u * tss / max(min(base_sse, sse), 1e-300))
            if rel >= 0.5:
                return None
            s0, s1 = (base_sse, sse) if p > base_p else (sse, base_sse)
            spread = [log_p(s1 + (s0 - s1) * (1 + a), s1, 0, 1, n, p_fix=(base_p, p))
                      for a in (-rel, rel)]
            if any(x is None for x in spread):
                return None
            # the engine's F tail and scipy's agree to 1e-8 of the p-value
            return v, max(abs(x - v) for x in spread) + 1e-8
        fn = lambda s: criterion(code, s, p, n, tss, d.noint, self.sigma2)
        v = fn(sse)
        if v is None or sse - dsse <= 0:
            return None
        spread = [fn(sse - dsse), fn(sse + dsse)]
        allow = max(abs(s - v) for s in spread)
        if code in ("CP", "BIC"):
            allow += abs(v) * 2 * self.sigma_rel + 1e-9 * abs(v)
        return v, allow

    # ---- the steps ----
    def run(self):
        case = self.case
        if case.method not in CLASSIC or self.select is None or not self.steps:
            return
        if (self.competitive and self.select == "SL") or (
                self.hierarchy and any("polynomial(" in e.get("decl", "") for e in case.effects)):
            return
        numbers = sorted(self.steps)
        for k in numbers:
            if k - 1 not in self.steps:
                continue
            base, now = self.steps[k - 1], self.steps[k]
            added = now.effects - base.effects
            removed = base.effects - now.effects
            if len(added) + len(removed) != 1:
                continue
            adding = bool(added)
            effect = (added or removed).pop()
            self.judge_step(base, now, effect, adding)
        self.judge_stop_details()

    def too_big(self, base):
        """Whether the refits of a step's candidates cost too much; the columns of an effect
        of many levels count nothing, as grouped_fit takes them through their levels."""
        own = {c for e in self.big for c in self.effect_cols[e]}
        k = len([c for c in base.taken if c not in own]) + max(
            (len(v) for e, v in self.effect_cols.items() if e not in self.big), default=0)
        return len(self.d.y) * k * k > SEARCH_LIMIT

    def eligible(self, base, adding):
        """The candidates of a step: under HIERARCHY= an effect enters only after every
        effect it contains, and leaves only while no effect in the model contains it."""
        forced = self.forced()
        inside = lambda e, o: o != e and self.contains(e, o)
        if adding:
            return [e for e in self.effect_cols if e not in base.effects
                    and all(o in base.effects for o in self.effect_cols if inside(e, o))]
        return [e for e in base.effects if e in self.effect_cols and e not in forced
                and not any(inside(o, e) for o in base.effects if o in self.effect_cols)]

    def direction(self, base, effect, adding):
        """Whether the candidate enters: under competitive stepwise every effect out of the
        base is a candidate entry and every one in it a candidate removal."""
        return effect not in base.effects if self.competitive else adding

    def contains(self, a, b):
        """Whether effect a contains effect b by HIERARCHY='s rule: b's CLASS variables,
        continuous variables and constructed effects each a part (as multisets) of a's, one
        of them a strict part; under SINGLECLASS effects without a CLASS variable contain
        none and lie in none. Always false without HIERARCHY=."""
        if not self.hierarchy:
            return False
        pa, pb = self.parts(a), self.parts(b)
        if self.hierarchy == "singleclass" and not pa[0] and not pb[0]:
            return False
        sub = [all(x.count(v) <= y.count(v) for v in x) for x, y in zip(pb, pa)]
        return all(sub) and any(len(x) < len(y) for x, y in zip(pb, pa))

    def parts(self, effect):
        names = effect.replace("(", "*").replace(")", "").split("*")
        classes = {c.lower() for c in self.case.classes} | {
            c.lower() for c in self.case.opt.get("plainclass", ())} if hasattr(
            self.case, "opt") else {c.lower() for c in self.case.classes}
        cont = {c.lower() for c in self.case.columns} - classes
        return (sorted(v for v in names if v in classes), sorted(v for v in names if v in cont),
                sorted(v for v in names if v not in classes and v not in cont))

    def forced(self):
        m = re.search(r"include=(\d+)", self.case.program.lower())
        k = int(m.group(1)) if m else 0
        names = [norm(e["name"]) for e in self.case.effects][:k]
        return set(names)

    def candidate_value(self, base, effect, adding, code):
        if self.big and (base.effects | {effect}) & set(self.big):
            return self.grouped_value(code, base, effect, adding)
        cols = self.columns(base, effect, adding)
        if cols is None:
            return None
        if adding and len(cols) == len(base.taken):
            return "norank"
        if code == "SL":
            bp = len(base.taken) + (0 if self.d.noint else 1)
            return self.value(code, cols, self.base_sse(base), bp)
        return self.value(code, cols)

    def reduction_value(self, code, base, effect, after):
        """The (value, allowance) pairs a criterion of an entry into an ill-conditioned base
        (a wide spline) may take, where 16 eps kappa says nothing: the base step's printed
        error SS less the reduction the entry makes, the difference of two refits. A
        least-squares residual by Householder QR errs by some eps cond |b| (first order in the
        condition), and so does that difference; the sweep that both the base's and the
        entry's numbers come from shares the base's rounding. The entry's columns are the
        next step's taken ones where it won, else those the rank rule takes (entry_columns,
        one set or two). Empty where no set is known or the criterion is not formed from the
        error SS alone."""
        d = self.d
        if code not in ("AIC", "AICC", "SBC", "RSQUARE", "ADJRSQ", "CP", "BIC") or not \
                tables.real(base.sse) or effect not in self.effect_cols or self.big:
            return []
        if after is not None:
            choices = [list(after.taken)] if set(base.taken) <= set(after.taken) else []
        else:
            choices = self.entry_columns(base, [c for c in self.effect_cols[effect]
                                                if c not in base.taken])
        fb = ref.fit(d.D[:, base.taken] if base.taken else np.zeros((len(d.y), 0)), d.y, d.wf,
                     d.noint)
        out = []
        for cols in choices:
            fc = ref.fit(d.D[:, cols], d.y, d.wf, d.noint)
            if not (math.isfinite(fb.cond) and math.isfinite(fc.cond)):
                return []
            sse = base.sse - (fb.sse - fc.sse)
            dsse = sum(32 * EPS * f.cond * f.rhs_norm * math.sqrt(max(f.sse, 0.0))
                       for f in (fb, fc)) + 1e-12 * d.tss
            p = len(cols) + (0 if d.noint else 1)
            fn = lambda v: criterion(code, v, p, d.n, d.tss, d.noint, self.sigma2)
            v = fn(sse)
            if v is None or sse - dsse <= 0:
                return []
            allow = max(abs(fn(sse - dsse) - v), abs(fn(sse + dsse) - v))
            if code in ("CP", "BIC"):
                allow += abs(v) * 2 * self.sigma_rel + 1e-9 * abs(v)
            out.append((v, allow))
        return out

    def entry_columns(self, base, new):
        """The column sets an entry of the columns new into the base may take by the rank
        rule: a lone column where its share left off the base's span (a QR residual) is
        clearly above the band; several by their pivots after the base's columns, each
        taken where its exact pivot is at least twice the band's top and every pivot of sums
        in double holds it (check.held_pivots), refused below half the band's foot, and one
        between taken in one set and refused in the other. Empty where two lie between, a
        column the base took lies near the band, or the exact pivots cost too much."""
        from .check import held_pivots     # check.py imports this module
        d = self.d
        if len(new) == 1:
            x = d.D[:, new[0]]
            xc = x if d.noint else x - ref.wmean(x, d.wf)
            whole = math.fsum(d.wf * xc * xc)
            left = ref.fit(d.D[:, base.taken] if base.taken else np.zeros((len(d.y), 0)), x,
                           d.wf, d.noint).sse
            return [base.taken + new] if whole > 0 and left / whole >= 1e-4 else []
        cols = base.taken + new
        if not new or len(d.y) * len(cols) ** 2 > EXACT_LIMIT:
            return []
        X = d.D[:, cols]
        G = ref.exact_gram(X, d.wf, d.noint)
        order = list(range(len(cols)))
        at = range(len(base.taken), len(cols))
        # a B-spline of more than 10 columns is summed as it stands (check.unshifted_columns)
        spline = len(new) > 10 and any(e["kind"] == "spline" and "basis=tpf" not in
                                       e.get("opts", "") for e in self.case.effects)
        raw = set(at) if spline else ()
        out, open_ = [], []
        # the band's columns refused, then taken
        for least in (2 * ACCEPT, REFUSE / 2):
            ratios, _, _ = ref.pivot_ratios(G, order, keep_min=least)
            if any(ratios[i] < 2 * ACCEPT for i in range(len(base.taken))):
                return []
            skip = {i for i in order if ratios[i] < least}
            dbls = held_pivots(X, d, order, (), skip, raw)
            held = {i for i in at if ratios[i] >= 2 * ACCEPT and all(
                abs(p[i] - ratios[i]) <= 1e-3 * ratios[i] for p in dbls)}
            open_.append([i for i in at if i not in held and ratios[i] >= REFUSE / 2])
            out.append(base.taken + [cols[i] for i in at if i not in skip])
        if not open_[0]:
            return out[:1]
        return out if len(open_[0]) == 1 and open_[0] == open_[1] else []

    def base_sse(self, base):
        """The base step's error SS and scaled condition."""
        X = self.d.D[:, base.taken] if base.taken else np.zeros((len(self.d.y), 0))
        f = ref.fit(X, self.d.y, self.d.wf, self.d.noint)
        return f.sse, f.cond

    def judge_step(self, base, now, effect, adding):
        code = self.select
        if self.too_big(base) or effect not in self.effect_cols:
            return
        where = now.label
        cands = table_rows(now.tabs["Candidates"]) if "Candidates" in now.tabs else []
        printed = {}
        for r in cands:
            e = norm(r["Effect"])
            v = r.get("LogPValue") if code == "SL" else candidate_cell(r, code)
            printed[e] = v
            if e not in self.effect_cols or not tables.real(v):
                continue
            got = self.candidate_value(base, e, self.direction(base, e, adding), code)
            if got is None and adding and not self.competitive:
                # of a choice the rank rule leaves open, the one nearest the printed value
                got = min(self.reduction_value(code, base, e, now if e == effect else None),
                          key=lambda va: abs(va[0] - v), default=None)
            if got is None and e == effect and not adding:
                got = self.step_value(code, now)
            if got is None or got == "norank":
                continue
            want, allow = got
            if abs(v - want) > allow + 1e-9 * abs(want) + 1e-12:
                self.chk.fail("candidates.value", where, "candidate %s %s %r, exact refit %r "
                              "(allowed %.3g)" % (e, code, v, want, allow))
            if code == "SL" and tables.real(r.get("ProbF")):
                pf = math.exp(v) if v >= -708.3964185 else 0.0
                if tables.differs(r["ProbF"], pf, 1e-12, 1e-300):
                    self.chk.fail("candidates.probf", where, "candidate %s Pr > F %r, exp of its "
                                  "log p-value %r" % (e, r["ProbF"], pf))
        self.entry_value(base, now, effect, adding, printed, where)
        self.greedy(base, effect, adding, where)

    def entry_value(self, base, now, effect, adding, printed, where):
        """The winner's Candidates value is what its step prints for the criterion."""
        code = self.select
        v = printed.get(effect)
        if not tables.real(v):
            return
        if code == "SL":
            row = self.summary_row(now.number)
            if row is None or not tables.real(row.get("ProbF")):
                return
            step_v = row["ProbF"]
            v = math.exp(v) if v >= -708.3964185 else 0.0
        else:
            step_v = now.fs.get(COLUMN[code][1]) if code in COLUMN else None
        if now.effects & set(self.big):
            own = {c for e in self.big for c in self.effect_cols[e]}
            got = self.grouped_fit(now.effects, [c for c in now.taken if c not in own])
            cond = got[1] if got else math.inf
        else:
            X = self.d.D[:, now.taken] if now.taken else np.zeros((len(self.d.y), 0))
            cond = ref.fit(X, self.d.y, self.d.wf, self.d.noint).cond
        # a criterion near 0 (R-square of the empty model) is known to 1e-12 absolute
        floor = 1e-12 if code in BIGGER else 1e-300
        if tables.real(step_v) and cond < 1e6 and tables.differs(v, step_v, 1e-9, floor):
            self.chk.fail("candidates.entry", where, "%s's candidate %s %r, its step's %r"
                          % (effect, code, v, step_v))

    def greedy(self, base, effect, adding, where):
        code = self.select
        vals = {}
        eligible = self.eligible(base, adding)
        if self.hierarchy and effect not in eligible:
            self.chk.fail("decision.hierarchy", where, "%s %s against HIERARCHY=%s" % (
                "entered" if adding else "removed", effect, self.hierarchy.upper()))
            return
        if self.competitive:
            eligible = self.eligible(base, True) + self.eligible(base, False)
        for e in eligible:
            got = self.candidate_value(base, e, self.direction(base, e, adding), code)
            if got is None:
                return      # a candidate no exact value judges: the step is not judged
            if got != "norank":
                vals[e] = got
        if effect not in vals or len(vals) < 2:
            return
        # SL: an entry takes the least p-value, a removal the largest
        big = code in BIGGER or (code == "SL" and not adding)
        best = max(vals, key=lambda e: vals[e][0]) if big else min(vals, key=lambda e: vals[e][0])
        if best == effect:
            return
        (vb, ab), (vw, aw) = vals[best], vals[effect]
        gap = abs(vb - vw)
        if gap > ab + aw + 1e-9 * max(abs(vb), abs(vw)):
            self.chk.fail("decision.entry", where, "%s %s with exact %s %r, where %s gives %r"
                          % ("entered" if adding else "removed", effect, code, vw, best, vb))

    def summary_row(self, step):
        t = [n for n, _ in nodes_named(self.chk.out, "SelectionSummary")]
        if not t:
            return None
        rows = [r for r in table_rows(t[0]) if r["Step"] == step]
        return rows[-1] if rows else None

    def judge_stop_details(self):
        """Stop Details: each row's criterion the exact refit of the last step's model with
        the effect added or removed, the comparison value the last step's own, and the entry
        candidate the best addition there."""
        t = [n for n, _ in nodes_named(self.chk.out, "StopDetails")]
        if not t or not self.steps:
            return
        code = self.stop
        if code is None or code not in COLUMN and code != "SL":
            return
        last = self.steps[max(self.steps)]
        if self.too_big(last):
            return
        for r in table_rows(t[0]):
            e = norm(r.get("Effect", ""))
            adding = "entry" in str(r.get("CandidateFor", "")).lower()
            if e not in self.effect_cols:
                continue
            got = self.candidate_value(last, e, adding, code)
            v = r.get("Criterion")
            if got not in (None, "norank") and tables.real(v):
                want, allow = got
                if code == "SL":
                    want, allow = math.exp(want), math.exp(want) * (math.expm1(allow) + 1e-9)
                if abs(v - want) > allow + 1e-9 * abs(want) + 1e-300:
                    self.chk.fail("stopdetails.value", "Stop Details", "%s %s %r, exact refit %r "
                                  "(allowed %.3g)" % (e, code, v, want, allow))
                self.stop_sound(e, adding, code, want, allow, r.get("CompareCriterion"))
            if code == "SL":
                info = {e["label"]: e["value"] for n, _ in nodes_named(self.chk.whole, "ModelInfo")
                        for e in n["entries"]}
                lv = info.get("Entry Significance Level (SLE)" if adding
                              else "Stay Significance Level (SLS)")
                if lv is not None and r.get("CompareCriterion") != lv:
                    self.chk.fail("stopdetails.compare", "Stop Details", "compared with %r, the "
                                  "level %r" % (r.get("CompareCriterion"), lv))
            else:
                cur = last.fs.get(COLUMN[code][1])
                if tables.real(cur) and tables.differs(r.get("CompareCriterion"), cur,
                                                       same_tol(self.case)):
                    self.chk.fail("stopdetails.compare", "Stop Details", "compared with %r, the "
                                  "last step's %s %r" % (r.get("CompareCriterion"), code, cur))
            if adding and code == self.select:
                self.greedy(last, e, True, "Stop Details")


    def stop_sound(self, effect, adding, code, want, allow, compare):
        """The refused change must not improve the stop criterion by its exact value: an
        entry's p-value not below SLE (a removal's not above SLS), another criterion's
        value no better than the last step's."""
        if not tables.real(compare):
            return
        if code == "SL":
            wrong = want < compare - allow if adding else want > compare + allow
        else:
            gap = compare - want if code not in BIGGER else want - compare
            wrong = gap > allow + 1e-9 * max(abs(want), abs(compare))
        if wrong:
            self.chk.fail("decision.stop", "Stop Details", "the %s of %s is refused with exact "
                          "%s %r against %r" % ("entry" if adding else "removal", effect, code,
                                                want, compare))


def read_stop_steps(chk, rows):
    """With a stop criterion, each step the selection kept improves it: an addition by
    more than 1e-9 of its size, a removal by no less than that worse."""
    case = chk.case
    _, stop, _ = criteria_shown(chk.whole, chk.case.program)
    if case.method not in CLASSIC or stop not in COLUMN or "steps=" in case.program.lower():
        return
    col = COLUMN[stop][0]
    prev = None
    for r in rows:
        v = infinite(r.get(col))
        if prev is not None and v is not None and r["Step"] == prev[0] + 1:
            adding = bool(str(r.get("EffectEntered") or "").strip())
            gap = (v - prev[1]) if stop in BIGGER else (prev[1] - v)
            size = 1e-9 * max(abs(v), abs(prev[1])) if math.isfinite(v) and math.isfinite(prev[1]) else 0
            if (adding and gap < -size) or (not adding and gap < -size - 1e-9):
                chk.fail("decision.stop", "Summary step %d" % r["Step"], "%s goes from %r to "
                         "%r, yet the step stands" % (col, prev[1], v))
        prev = (r["Step"], v) if v is not None else None


def candidate_cell(r, code):
    col = {"RSQUARE": "RSquare", "ADJRSQ": "AdjRSq", "CV": "CVPRESS",
           "VALIDATE": "ValidateASE"}.get(code, code)
    return r.get(col)


def nodes_named(out, name):
    from .runqrx import nodes
    return [(n, p) for n, p in nodes(out) if n.get("name") == name]


def criterion(code, sse, p, n, tss, noint, sigma2):
    c = ref.criteria(sse, p, n, tss, noint, sigma2)
    return c.get({"RSQUARE": "RSQUARE"}.get(code, code))


def log_p(sse0, sse1, p0, p1, n, p_fix=None):
    """The log p-value of the F test of the change from p0 to p1 parameters (p_fix: the
    pair of parameter counts when sse0 and sse1 are given as larger and smaller SS)."""
    if p_fix is not None:
        big, small = sse0, sse1
        p0, p1 = p_fix
        sse0, sse1 = (big, small) if p1 > p0 else (small, big)
    if p1 > p0:
        diff, df1, df2, den = sse0 - sse1, p1 - p0, n - p1, sse1
    else:
        diff, df1, df2, den = sse1 - sse0, p0 - p1, n - p0, sse0
    if df1 <= 0 or df2 <= 0 or den <= 0:
        return None
    F = max(diff, 0.0) * df2 / (den * df1)
    v = float(stats.f.logsf(F, df1, df2))
    return v if math.isfinite(v) else None


# ---- the summary against the steps ----
def read_summary(chk, d, models):
    """Each summary row's every criterion is the number its step prints; its parameter and
    effect counts those of the step; F and Pr > F the test between the row and the one
    before on the steps' printed error SS; the effect entered or removed the one the steps
    differ by; each Opt marker on the best row; the selected model the chosen step's."""
    t = [n for n, _ in nodes_named(chk.out, "SelectionSummary")]
    if not t:
        return
    steps = {int(lb[4:]): tabs for lb, tabs in models
             if lb.startswith("Step") and "ParameterEstimates" in tabs}
    rows = table_rows(t[0])
    numbers = [r["Step"] for r in rows]
    prev = None
    for r in rows:
        if numbers.count(r["Step"]) > 1 and r is not [x for x in rows if x["Step"] == r["Step"]][-1]:
            continue
        tabs = steps.get(r["Step"])
        where = "Summary step %d" % r["Step"]
        if tabs is None:
            prev = None
            continue
        s = Step(d, "Step%d" % r["Step"], tabs)
        for code, (col, label) in COLUMN.items():
            if col in r and r[col] is not None and label in s.fs and tables.real(s.fs[label]):
                if tables.differs(r[col], s.fs[label], 1e-12):
                    chk.fail("summary." + code.lower(), where, "%s %r, its step's %r"
                             % (col, r[col], s.fs[label]))
        if tables.real(r.get("ASE")) and tables.real(s.sse) and d.sumw > 0 and tables.differs(
                r["ASE"], s.sse / d.sumw, 1e-12):
            chk.fail("summary.ase", where, "ASE %r, its step's error SS over the weights %r"
                     % (r["ASE"], s.sse / d.sumw))
        model_df = tables.anova_rows(tabs).get("Model", {}).get("DF")
        if prev is None and r is rows[0] and chk.case.method != "BACKWARD" and model_df == 0:
            # the first row enters the intercept: no change of the error SS, F 0 and Pr > F 1
            if r.get("FValue") != 0 or r.get("ProbF") != 1:
                chk.fail("summary.f", where, "the intercept's entry shows F %r, Pr > F %r"
                         % (r.get("FValue"), r.get("ProbF")))
        a = tables.anova_rows(tabs)
        if "Model" in a and r.get("nParmsIn") != a["Model"]["DF"] + (0 if d.noint else 1):
            chk.fail("summary.nparms", where, "%r parameters, its step's model DF %r"
                     % (r.get("nParmsIn"), a["Model"]["DF"]))
        if r.get("nEffectsIn") != len(s.effects) + (0 if d.noint else 1) and chk.case.method in CLASSIC:
            chk.fail("summary.neffects", where, "%r effects, its step holds %d"
                     % (r.get("nEffectsIn"), len(s.effects) + (0 if d.noint else 1)))
        if prev is not None and r["Step"] == prev[0].number + 1:
            read_change(chk, d, where, r, prev, s)
        elif r is rows[0] and d.noint and chk.case.method in ("FORWARD", "STEPWISE"):
            # without an intercept the first step enters its effect into the empty model,
            # whose error SS is the uncorrected total
            tot = [v for k, v in a.items() if k not in ("Model", "Error")]
            if tot and "Error" in a and "Model" in a and a["Model"]["DF"] == r.get("nParmsIn"):
                read_f(chk, d, where, r, tot[0]["SS"], a["Error"]["SS"], 0, r.get("nParmsIn"),
                       8 * EPS)
        prev = (s, r)
    read_opt(chk, rows)
    read_stop_steps(chk, rows)
    read_chosen(chk, d, rows, steps, models)


def read_change(chk, d, where, r, prev, s):
    p0s, r0 = prev
    if chk.case.method in CLASSIC:
        ent = {norm(x) for x in str(r.get("EffectEntered") or "").split()}
        rem = {norm(x) for x in str(r.get("EffectRemoved") or "").split()}
        for col, said, did in (("entered", ent, s.effects - p0s.effects),
                               ("removed", rem, p0s.effects - s.effects)):
            if said != did:
                chk.fail("summary." + col, where, "%s %s, its step's effects differ by %s"
                         % (col, sorted(said), sorted(did)))
    sse0, sse1 = p0s.sse, s.sse
    k0, k1 = r0.get("nParmsIn"), r.get("nParmsIn")
    # the steps print the error SS the summary's F is formed from; a path's steps print the
    # SSE of their estimates, which the path's own SSE meets to its columns' conditioning
    rel = 8 * EPS
    if chk.case.method not in CLASSIC + ("NONE",) and tables.real(sse0) and tables.real(
            sse1) and k0 != k1:
        X = d.D[:, s.taken] if s.taken else np.zeros((len(d.y), 0))
        rel = max(1e-11, 16 * EPS * ref.fit(X, d.y, d.wf, d.noint).cond ** 2) * d.tss / max(
            sse0, sse1, 1e-300)
    read_f(chk, d, where, r, sse0, sse1, k0, k1, rel)


def read_f(chk, d, where, r, sse0, sse1, k0, k1, rel):
    """A summary row's F and Pr > F: the test of the change from k0 parameters and error SS
    sse0 to k1 and sse1, the error SS known to rel of itself."""
    if not (tables.real(sse0) and tables.real(sse1)) or k0 is None or k1 is None or k0 == k1:
        return
    sse0, sse1 = max(sse0, 0.0), max(sse1, 0.0)
    n = d.n
    if k1 > k0:
        diff, df1, df2, den = sse0 - sse1, k1 - k0, n - k1, sse1
    else:
        diff, df1, df2, den = sse1 - sse0, k0 - k1, n - k0, sse0
    if sse0 > 0 and diff / sse0 < 1.110223024625157e-14:
        diff = 0.0
    if den <= 0 or df2 <= 0 or diff < 0:
        return
    F = diff * df2 / (den * df1)
    fv = r.get("FValue")
    floor = rel * max(sse0, sse1) * df2 / (den * df1)
    if tables.differs(fv, F, 1e-10, floor):
        chk.fail("summary.f", where, "F %r, the change's test on the steps' error SS %r" % (fv, F))
    elif tables.real(r.get("ProbF")):
        pf = float(stats.f.sf(fv, df1, df2))
        if tables.differs(r["ProbF"], pf, 1e-8, 1e-300):
            chk.fail("summary.probf", where, "Pr > F %r, F(%s, %s) tail of %r: %r"
                     % (r["ProbF"], df1, df2, fv, pf))


def best_row(rows, col, bigger):
    """The index of the best row by column col (the first of equals), or None where the
    best two differ by less than 1e-9 of their size (no rule of ties judged)."""
    vals = [(i, v) for i, r in enumerate(rows) for v in [infinite(r.get(col))] if v is not None]
    if not vals:
        return None
    order = sorted(vals, key=lambda iv: -iv[1] if bigger else iv[1])
    if len(order) > 1 and (order[0][1] == order[1][1] or abs(order[0][1] - order[1][1])
                           <= 1e-9 * max(abs(order[0][1]), abs(order[1][1]))):
        return None
    return order[0][0]


def infinite(v):
    """A criterion as a number: a perfect fit's infinite AIC is written as text."""
    if v in ("-Infinity", "Infinity"):
        return -math.inf if v[0] == "-" else math.inf
    return v if tables.real(v) else None


def choosable(case, rows):
    """The summary rows CHOOSE= may take: the intercept and the effects INCLUDE= forces in
    print rows of step 0 before its model is whole, of which only the last is a model the
    selection holds (BACKWARD's step 0 rows all hold the full model's numbers)."""
    if "selection=backward" in case.program.lower():
        return list(range(len(rows)))
    return [j for j in range(len(rows)) if j + 1 == len(rows) or rows[j + 1]["Step"] != rows[j]["Step"]]


def read_opt(chk, rows):
    """Each Opt marker on the best row, and the best-step table's step and value that row's."""
    best_tab = [n for n, _ in nodes_named(chk.out, "BestStep")]
    best = table_rows(best_tab[0])[0] if best_tab and best_tab[0]["rows"] else {}
    choose = criteria_shown(chk.whole, chk.case.program)[2]
    for code, (col, _) in COLUMN.items():
        # the CHOOSE= criterion's mark is on the model chosen; the others' on the best row
        among = choosable(chk.case, rows) if code == choose else list(range(len(rows)))
        i = best_row([rows[j] for j in among], col, code in BIGGER)
        i = None if i is None else among[i]
        read_best_value(chk, rows, best, code, col, code != choose)
        if i is not None and code + "Val" in best:
            v, step = best[code + "Val"], best.get(code + "Step")
            if step != rows[i]["Step"]:
                chk.fail("summary.best", "Summary", "best %s %r at step %r, the summary's best "
                         "%r at step %r" % (code, v, step, rows[i][col], rows[i]["Step"]))
        opt = "Opt" + col
        if i is None and code != choose:
            # near ties: the row the tie rule picks, where its step is printed once
            i = fuzzy_best(rows, col, code in BIGGER, fuzz_of(chk.case.program))
            if i is not None and [r["Step"] for r in rows].count(rows[i]["Step"]) > 1:
                i = None
        if i is None or not any(opt in r for r in rows):
            continue
        marked = [j for j, r in enumerate(rows) if r.get(opt) == 1]
        if marked != [i]:
            chk.fail("summary.opt", "Summary", "%s marks rows %s, the best %s is row %d (step %s)"
                     % (opt, marked, col, i, rows[i]["Step"]))


def read_best_value(chk, rows, best, code, col, by_rule):
    """The best-step table's value of a criterion is the summary's at the step it names,
    and (but for the CHOOSE= criterion, whose step is the chosen model's) that step is the
    one the tie rule picks (fuzzy_best)."""
    if code + "Val" not in best:
        return
    step, v = best.get(code + "Step"), best[code + "Val"]
    # the rows INCLUDE= prints before step 0's model is whole all bear step 0
    at = [r[col] for r in rows if r["Step"] == step and tables.real(r.get(col))]
    if at and all(tables.differs(v, x, 1e-12) for x in at):
        chk.fail("summary.best", "BestStep", "best %s %r at step %r, the summary's %s there"
                 % (code, v, step, " or ".join(map(repr, at))))
    i = fuzzy_best(rows, col, code in BIGGER, fuzz_of(chk.case.program)) if by_rule else None
    if i is not None and step != rows[i]["Step"]:
        chk.fail("summary.best", "BestStep", "best %s at step %r, the tie rule picks step %r "
                 "of the summary" % (code, step, rows[i]["Step"]))


def fuzz_of(program):
    m = re.search(r"\bfuzz=([0-9.e+-]+)", program, re.I)
    return float(m.group(1)) if m else 1e-12


def fuzzy_best(rows, col, bigger, fuzz):
    """The row of the best step by a criterion with ties: every row within fuzz (relative)
    of the best value ties with it, and of those the row of fewest effects, then of fewest
    parameters, the last of them, is the best. None where a value lies near the edge of a
    tie (between half and twice the fuzz from the best) or is not a finite number."""
    vals = [r.get(col) for r in rows]
    if not vals or not all(tables.real(v) for v in vals):
        return None
    if any(r.get("nEffectsIn") is None or r.get("nParmsIn") is None for r in rows):
        return None
    b = max(vals) if bigger else min(vals)
    ties = []
    for i, v in enumerate(vals):
        gap, room = abs(v / 1000 - b / 1000), abs(v / 1000) * fuzz
        if room / 2 < gap <= 2 * room and gap > 0:
            return None
        if gap <= room:
            ties.append(i)
    least = min((rows[i].get("nEffectsIn"), rows[i].get("nParmsIn")) for i in ties)
    return [i for i in ties if (rows[i].get("nEffectsIn"), rows[i].get("nParmsIn")) == least][-1]


def read_chosen(chk, d, rows, steps, models):
    """The selected model is the step the choose criterion finds best (the last step
    without CHOOSE=), and its tables are that step's."""
    case = chk.case
    texts = dict(models).get("Selected", {}).get("texts", [])
    said = [int(m.group(1)) for t in texts for m in [re.search(r"model at step (\d+)", t)] if m]
    if not said:
        return
    info = {e["label"]: e["value"] for n, _ in nodes_named(chk.whole, "ModelInfo")
            for e in n["entries"]}
    _, _, choose = criteria_shown(chk.whole, chk.case.program)
    if "Choose Criterion" in info and choose not in COLUMN:
        return      # a choice this reading does not repeat
    if choose:
        col = COLUMN[choose][0]
        among = choosable(case, rows)
        i = best_row([rows[j] for j in among], col, choose in BIGGER)
        want = rows[among[i]]["Step"] if i is not None else None
    elif choose:
        return
    else:
        want = rows[-1]["Step"]
        reason = [n for n, _ in nodes_named(chk.out, "StopReason")]
        if not reason:
            return
    if want is not None and said[0] != want:
        chk.fail("decision.choose", "Selected", "the model at step %d is selected, the %s "
                 "step is %d" % (said[0], "best " + choose if choose else "last", want))
        return
    sel = dict(models).get("Selected")
    tabs = steps.get(said[0])
    if sel and tabs and "ANOVA" in sel and "ANOVA" in tabs:
        a, b = tables.anova_rows(sel), tables.anova_rows(tabs)
        if "Error" in a and "Error" in b and tables.differs(a["Error"]["SS"], b["Error"]["SS"],
                                                           same_tol(chk.case)):
            chk.fail("decision.choose", "Selected", "error SS %r, step %d's %r"
                     % (a["Error"]["SS"], said[0], b["Error"]["SS"]))
