"""Every printed number of a model's tables read back. A number computed from other printed
numbers by a fixed formula (a mean square, an F value and its p-value, t and its p-value, a
criterion from the error SS) is held to that formula on the printed inputs within a few
roundings, so that one changed digit shows; the inputs themselves are held to the exact
refit by the least-squares checks (check.py). What no other printed number gives (the
dependent mean, the fold estimates, each fold's CV PRESS) is held to the refit here."""
import math
import re

import numpy as np
from scipy import stats

from . import ref
from .runqrx import factoid, num, read_csv, table_rows

EPS = ref.EPS
# two evaluations of one formula on the same printed doubles agree to a few roundings
SAME = 1e-11


def real(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v)


def differs(got, want, rel=SAME, floor=0.0):
    """Whether a printed value misses its formula's value beyond rel of their size (and an
    absolute floor); a printed value that is not a number differs from a finite one."""
    if want is None:
        return False
    if not real(got):
        return True
    return abs(got - want) > rel * max(abs(got), abs(want)) + floor


def anova_rows(tabs):
    if "ANOVA" not in tabs:
        return {}
    return {r["Source"].split()[0]: r for r in table_rows(tabs["ANOVA"])}


def f_sf(F, df1, df2):
    return float(stats.f.sf(F, df1, df2))


def read_anova(chk, d, where, tabs):
    """Degrees of freedom from the observations, SS split, mean squares, F and Pr > F from
    the printed SS. Returns (model DF, error DF, error SS, total SS) or None."""
    a = anova_rows(tabs)
    m, e = a.get("Model"), a.get("Error")
    tot = [r for k, r in a.items() if k not in ("Model", "Error")]
    if m is None or e is None or not tot:
        return None
    t = tot[0]
    tdf = d.n - (0 if d.noint else 1)
    if t["DF"] != tdf:
        chk.fail("anova.totaldf", where, "total DF %r, observations give %r" % (t["DF"], tdf))
    if e["DF"] != t["DF"] - m["DF"]:
        chk.fail("anova.errordf", where, "error DF %r, total %r less model %r"
                 % (e["DF"], t["DF"], m["DF"]))
    if not (real(t["SS"]) and real(e["SS"])):
        return None
    if differs(m["SS"], t["SS"] - e["SS"], SAME, 4 * EPS * t["SS"]):
        chk.fail("anova.modelss", where, "model SS %r, total less error %r"
                 % (m["SS"], t["SS"] - e["SS"]))
    ms = {}
    for name, r in (("model", m), ("error", e)):
        if r["DF"] and r["DF"] > 0:
            ms[name] = r["SS"] / r["DF"]
            if differs(r["MS"], ms[name]):
                chk.fail("anova.ms", where, "%s mean square %r, SS/DF %r" % (name, r["MS"], ms[name]))
    if "model" in ms and "error" in ms and real(m["MS"]) and real(e["MS"]) and e["MS"] > 0:
        F = m["MS"] / e["MS"]
        if differs(m.get("FValue"), F):
            chk.fail("anova.f", where, "F %r, model MS over error MS %r" % (m.get("FValue"), F))
        elif "ProbF" in m and m["ProbF"] is not None:
            p = f_sf(m["FValue"], m["DF"], e["DF"])
            if differs(m["ProbF"], p, 1e-8, 1e-300):
                chk.fail("anova.probf", where, "Pr > F %r, F(%s, %s) tail of %r: %r"
                         % (m["ProbF"], m["DF"], e["DF"], m["FValue"], p))
    return m["DF"], e["DF"], e["SS"], t["SS"]


def read_fitstats(chk, d, where, tabs, an, sigma2):
    """Each fit statistic by its formula on the printed error SS and degrees of freedom; the
    dependent mean against the rows. sigma2 is the error variance of the full model the
    run's C(p) implies (None when not known)."""
    fs = factoid(tabs["FitStatistics"]) if "FitStatistics" in tabs else {}
    if not fs:
        return
    mean = ref.wmean(d.y, d.wf)
    if "Dependent Mean" in fs and differs(fs["Dependent Mean"], mean, 1e-12,
                                          4 * EPS * float(np.max(np.abs(d.y)))):
        chk.fail("fitstat.mean", where, "dependent mean %r, rows %r" % (fs["Dependent Mean"], mean))
    if an is None:
        return
    mdf, edf, sse, tss = an
    n = d.n
    p = mdf + (0 if d.noint else 1)
    labels = {"AIC": "AIC", "SBC": "SBC", "AICC": "AICC", "RSQUARE": "R-Square",
              "ADJRSQ": "Adj R-Sq", "ASE": "ASE", "CP": "C(p)", "BIC": "BIC"}
    formulas = ref.criteria(sse, p, n, tss, d.noint, sigma2 or None, d.sumw if d.sumw > 0 else None)
    want = {labels[k]: v for k, v in formulas.items() if k in labels}
    if edf > 0:
        want["Root MSE"] = math.sqrt(max(sse, 0) / edf)
    for label, v in want.items():
        if label not in fs or fs[label] is None:
            continue
        # the logs of AIC, AICC, SBC and BIC round at n eps; 1 - sse/tss at eps
        floor = 64 * EPS * (n * (abs(math.log(max(sse, 1e-300) / n)) + 1) + 1)
        if differs(fs[label], v, SAME, floor):
            chk.fail("fitstat." + label.lower().replace(" ", "").replace("(", "").replace(")", "")
                     .replace("-", ""), where, "%s %r, its formula on the printed error SS %r"
                     % (label, fs[label], v))


def implied_sigma2(d, models):
    """The full model's error variance each printed C(p) implies, (SSE / (C(p) - 2p + n)):
    one value for every step. Returns the values with their model labels and the relative
    rounding of each: C(p) - 2p + n loses the digits of its terms, so a printed C(p) near
    2p - n (a step that leaves an error SS near 0) leaves a variance that rounds as much as
    the terms' size over their difference."""
    out = []
    for label, tabs in models:
        fs = factoid(tabs["FitStatistics"]) if "FitStatistics" in tabs else {}
        a = anova_rows(tabs)
        if not real(fs.get("C(p)")) or "Model" not in a or "Error" not in a:
            continue
        p = a["Model"]["DF"] + (0 if d.noint else 1)
        sse = a["Error"]["SS"]
        den = fs["C(p)"] - 2 * p + d.n
        if real(sse) and sse > 0 and den > 0:
            out.append((label, sse / den, 64 * EPS * (abs(fs["C(p)"]) + 2 * p + d.n) / den))
    return out


def read_sigma2(chk, d, models, ref_sigma2, ref_rel):
    """The full model's error variance that C(p) implies is one value for every step and
    that of the refit of the full model. Returns it (None when no C(p) is printed)."""
    got = implied_sigma2(d, models)
    if not got:
        return None
    label0, s0, r0 = got[0]
    for label, s, r in got[1:]:
        if differs(s, s0, 1e-9 + r + r0):
            chk.fail("fitstat.cp", label, "C(p) implies a full-model variance %r, %s's %r"
                     % (s, label0, s0))
    if ref_sigma2 and differs(s0, ref_sigma2, 1e-9 + 2 * ref_rel + r0):
        chk.fail("fitstat.cp", label0, "C(p) implies a full-model variance %r, the full model's "
                 "refit %r" % (s0, ref_sigma2))
    return s0


def read_estimates(chk, d, where, tabs, an):
    """t = Estimate / StdErr, Pr > |t| its F(1, error DF) tail, the standardized estimate
    the estimate times the column's spread over the response's, and a DF 0 row all zeros."""
    if "ParameterEstimates" not in tabs or an is None:
        return
    edf = an[1]
    # spreads about the means, about zero without an intercept
    centre = (lambda v: 0.0) if d.noint else (lambda v: ref.wmean(v, d.wf))
    sy = math.sqrt(max(math.fsum(d.wf * (d.y - centre(d.y)) ** 2), 0))
    for r in table_rows(tabs["ParameterEstimates"]):
        name = " ".join(str(r["Parameter"]).split())
        e, se = r.get("Estimate"), r.get("StdErr")
        if not r.get("DF", 1):
            if real(e) and e != 0 or real(r.get("StandardizedEst")) and r["StandardizedEst"] != 0:
                chk.fail("estimate.df0", where, "%s of DF 0 shows estimate %r" % (name, e))
            continue
        if real(se) and se > 0 and real(e) and "tValue" in r:
            t = e / se
            if differs(r["tValue"], t):
                chk.fail("estimate.t", where, "%s t %r, estimate over standard error %r"
                         % (name, r["tValue"], t))
            elif "Probt" in r and edf > 0:
                pt = f_sf(r["tValue"] ** 2, 1, edf)
                if differs(r["Probt"], pt, 1e-8, 1e-300):
                    chk.fail("estimate.probt", where, "%s Pr > |t| %r, t(%s) tail %r"
                             % (name, r["Probt"], edf, pt))
        stb = r.get("StandardizedEst")
        if "StandardizedEst" in r and real(e) and name != "Intercept" and name in d.col_of and sy > 0:
            x = d.D[:, d.col_of[name]]
            sx = math.sqrt(max(math.fsum(d.wf * (x - centre(x)) ** 2), 0))
            want = e * sx / sy
            # a spread about a mean far from zero is known to the square of the mean's last
            # bits over the spread (x1 near 1.6e9 spread by 0.013: 1.4e-10, seed 5000656)
            far = sum((4 * np.spacing(abs(centre(v))) / s) ** 2 for v, s in
                      ((x, sx / math.sqrt(d.sumw or 1)), (d.y, sy / math.sqrt(d.sumw or 1)))
                      if s > 0)
            if differs(stb, want, 1e-10 + far, 1e-15 * abs(want)):
                chk.fail("estimate.stb", where, "%s standardized estimate %r, estimate x sd(x) / "
                         "sd(y) %r" % (name, stb, want))


def fold_columns(tabs):
    cols = [c["name"] for c in tabs["ParameterEstimates"]["columns"]]
    return [c for c in cols if c.startswith("CVEstimate")]


def read_folds(chk, d, where, tabs, X, cols, folds):
    """Each fold's CV PRESS, row counts and estimates against the refit of the fold's
    training rows, each within its own fold's allowance (ref.fold_parts), and the total row
    the sum of the folds. The CV PRESS of the fit statistics is the sum of the folds' parts
    within the sum of their allowances. Returns nothing; findings under 'cvpress'."""
    fs = factoid(tabs["FitStatistics"]) if "FitStatistics" in tabs else {}
    # random folds are numbered as drawn: a small BY group may draw none of one
    fm = chk.case.foldm
    parts = ref.fold_parts(X, d.y, d.wf, d.freq, folds, d.noint, 1e-9 * d.tss,
                           fm[1] if fm and fm[0] == "RANDOM" else None)
    if "CV PRESS" in fs and real(fs["CV PRESS"]):
        got = fs["CV PRESS"]
        total = math.fsum(p["part"] for p in parts)
        lo = math.fsum(p["low"] for p in parts)
        hi = math.fsum(p["high"] for p in parts)
        # a fold whose training rows leave a column undetermined (a CLASS level none of them
        # holds) predicts its held-out rows arbitrarily: no refit gives that CV PRESS
        if not all(math.isfinite(v) for v in (total, lo, hi)):
            pass
        elif not (lo - 4 * EPS * total <= got <= hi + 4 * EPS * total):
            worst = max(parts, key=lambda p: p["high"] - p["low"])
            chk.fail("cvpress", where, "CV PRESS %r, fold refits %r (allowed %r to %r; the "
                     "widest fold %d of scaled condition %.3g)" % (got, total, lo, hi,
                                                                   worst["fold"] + 1, worst["cond"]))
    if "CVDetails" in tabs:
        rows = table_rows(tabs["CVDetails"])
        by_fold = {p["fold"]: p for p in parts}
        sums = [0.0, 0.0, 0.0]
        cols3 = ("NOBSFITTED", "NOBSLEFTOUT", "CVPRESS")
        for r in rows:
            k = r.get("Index")
            if not isinstance(k, int) or k < 1:
                continue
            for i, col in enumerate(cols3):
                sums[i] += r.get(col) if real(r.get(col)) else 0.0
            if (k - 1) not in by_fold:
                chk.fail("cvdetails.n", where, "fold %d shown, the rows hold %d folds" % (k, len(parts)))
                continue
            p = by_fold[k - 1]
            for col, want in (("NOBSFITTED", p["nfit"]), ("NOBSLEFTOUT", p["nout"])):
                if r.get(col) != want:
                    chk.fail("cvdetails.n", where, "fold %d %s %r, rows %r" % (k, col, r.get(col), want))
            v = r.get("CVPRESS")
            # an undetermined fold (see above) has no refit to judge its part by
            if not all(math.isfinite(p[x]) for x in ("part", "low", "high")):
                continue
            if not real(v) or not (p["low"] - 4 * EPS * p["part"] <= v <= p["high"] + 4 * EPS * p["part"]):
                chk.fail("cvdetails.press", where, "fold %d CV PRESS %r, its refit %r (allowed %r "
                         "to %r, scaled condition %.3g)" % (k, v, p["part"], p["low"], p["high"],
                                                            p["cond"]))
        for r in rows:
            if isinstance(r.get("Index"), int) and r["Index"] >= 1:
                continue
            for i, col in enumerate(cols3):
                if real(r.get(col)) and differs(r[col], sums[i], 1e-12):
                    chk.fail("cvdetails.total", where, "total %s %r, sum of the folds %r"
                             % (col, r[col], sums[i]))
    fc = fold_columns(tabs) if "ParameterEstimates" in tabs else []
    if fc:
        read_fold_estimates(chk, d, where, tabs, cols, parts, fc)


def read_fold_estimates(chk, d, where, tabs, cols, parts, fc):
    """A fold's estimate of a parameter against the refit of its training rows, on the
    standardised scale of the fold's largest coefficient."""
    by_fold = {p["fold"]: p for p in parts}
    sy = math.sqrt(d.tss_c / max(d.sumw, 1e-300)) or 1.0
    at = {c: i for i, c in enumerate(cols)}
    for r in table_rows(tabs["ParameterEstimates"]):
        name = " ".join(str(r["Parameter"]).split())
        c = None if name == "Intercept" else d.col_of.get(name)
        if not r.get("DF") or (c is not None and c not in at):
            continue
        for col in fc:
            k = int(col[len("CVEstimate"):]) - 1
            p = by_fold.get(k)
            v = r.get(col)
            # a fold whose training rows leave columns undetermined (an EFFECT-coded level
            # none of them holds) has no one refit: solved anyway its estimates hold no digit
            # (16 eps kappa past 1), and no fold's estimates can be held to them (seed
            # 8300285: fold 8 of 524 rows at scaled condition 4.5e17, three singular values
            # below 1.1e-16 of the largest, refit estimates near 1e85)
            if p is None or p["fit"] is None or not math.isfinite(p["fit"].cond) or \
                    p["rel"] >= 1.0:
                continue
            f = p["fit"]
            off = 0 if d.noint else 1
            if c is None:
                if d.noint:
                    continue
                want = f.beta[0]
                scale = abs(f.cy) + sy + float(np.sum(np.abs(f.beta[1:] * f.cx)))
            elif d.noint:
                # without an intercept the fold's fit is about the origin: its estimates err
                # by eps kappa of the response's norm over the column's, not of their spreads
                # about the means (a response near 1e5 whose spread is 1.9, seed 9700235)
                want = f.beta[at[c]]
                scale = f.rhs_norm / max(float(f.scale[at[c]]), 1e-300)
            else:
                want = f.beta[at[c] + off]
                x = d.D[p["train"], c]
                scale = sy / max(math.sqrt(ref.wmean((x - ref.wmean(x, d.wf[p["train"]])) ** 2,
                                                     d.wf[p["train"]])), 1e-300)
            tol = p["rel"] * 10
            if not real(v) or abs(v - want) > tol * scale * p["big"]:
                chk.fail("cvdetails.estimate", where, "fold %d estimate of %s %r, its refit %r"
                         % (k + 1, name, v, want))
                break


def read_output_residual(chk, d):
    """OUTPUT's residual is the response less the prediction, on every used row."""
    try:
        head, rows = read_csv(chk.workdir + "/o.csv")
    except OSError:
        return
    if "p" not in head or "r" not in head:
        return
    jp, jr = head.index("p"), head.index("r")
    yall = d.y_all
    for i, row in enumerate(rows):
        p, r = num(row[jp]), num(row[jr])
        if p is None or math.isnan(yall[i]):
            if r is not None and p is None:
                chk.fail("output.resid", "OUTPUT", "row %d has a residual %r and no prediction" % (i + 1, r))
                return
            continue
        want = yall[i] - p
        if r is None or abs(r - want) > 2 * EPS * (abs(yall[i]) + abs(p)):
            chk.fail("output.resid", "OUTPUT", "row %d residual %r, response less prediction %r"
                     % (i + 1, r, want))
            return


def read_header(chk, d, out, whole):
    """The run's header tables: the parameter count is the design's, the effect count at
    least the effects the tables name (each of the case's when all are plain), each CLASS
    variable's level count the levels it lists and those the used rows hold at most, the
    fold count and significance levels those of the program."""
    from .runqrx import nodes
    case = chk.case
    info = [n for n, _ in nodes(whole) if n.get("name") == "ModelInfo"][:1]
    for n in [n for n, _ in nodes(out) if n.get("name") != "ModelInfo"] + info:
        name = n.get("name")
        if name == "Dimensions":
            f = {e["label"]: e["value"] for e in n["entries"]}
            k = f.get("Number of Parameters")
            if k is not None and k != len(d.design_idx):
                chk.fail("header.dims", "Dimensions", "%r parameters, the design has %d columns"
                         % (k, len(d.design_idx)))
            e = f.get("Number of Effects")
            # the path methods take a CLASS effect's levels as effects of their own
            plain = (all(x["kind"] in ("cont", "class", "spline") for x in case.effects)
                     and case.method in ("NONE", "FORWARD", "BACKWARD", "STEPWISE"))
            want = len(case.effects) + (0 if d.noint else 1)
            if e is not None and (not isinstance(e, int) or (plain and e != want)):
                chk.fail("header.dims", "Dimensions", "%r effects, the model names %d" % (e, want))
            after = f.get("Number of Effects after Splits", "none")
            want = effects_after_splits(case, d) if split_classes(case) else "none"
            if want is not None and after != want:
                chk.fail("header.splits", "Dimensions", "%r effects after splits, the design's "
                         "columns make %r" % (after, want))
        elif name == "ParameterNames":
            # a BY group after the first names its parameters with the group's number
            cols = [c["name"] for c in n["columns"]]
            want = chk.group + 1 if case.by and chk.group else None
            got = {r[cols.index("_BY_")] for r in n["rows"]} if "_BY_" in cols else None
            if (got is None) != (want is None) or got not in (None, {want}):
                chk.fail("header.by", "ParameterNames", "_BY_ %r in BY group %d" % (
                    sorted(got) if got else got, chk.group + 1))
        elif name == "ClassLevelInfo":
            split = split_classes(case)
            cols = [c["name"] for c in n["columns"]]
            if ("Split" in cols) != bool(split):
                chk.fail("header.split", "ClassLevelInfo", "a Split column %s where %s CLASS "
                         "variable is split" % ("shown" if "Split" in cols else "missing",
                                                "some" if split else "no"))
            for r in table_rows(n):
                if "Split" in r and r["Split"] != int(str(r["Class"]) in split):
                    chk.fail("header.split", "ClassLevelInfo", "%s split %r, the method %s"
                             % (r["Class"], r["Split"], "splits it" if str(r["Class"]) in split
                                else "keeps it whole"))
                var = str(r["Class"])
                words = str(r["Values"]).split()
                # a long list of values is cut to the column's width and ends in "..."
                cut = bool(words) and words[-1] == "..."
                listed = len(words) - cut
                if (r["Levels"] <= listed) if cut else (r["Levels"] != listed):
                    chk.fail("header.levels", "ClassLevelInfo", "%s has %r levels, lists %d"
                             % (var, r["Levels"], listed))
                elif var in case.columns:
                    used = len(set(np.array(case.columns[var], dtype=object)[d.used].tolist()))
                    if r["Levels"] < used:
                        chk.fail("header.levels", "ClassLevelInfo", "%s has %r levels, the used "
                                 "rows %d" % (var, r["Levels"], used))
        elif name == "ModelInfo":
            f = {e["label"]: e["value"] for e in n["entries"]}
            k = f.get("Number of Folds")
            if k is not None and case.foldm and case.foldm[0] != "INDEX" and k != case.foldm[1]:
                chk.fail("header.folds", "ModelInfo", "%r folds, the program asks %d" % (k, case.foldm[1]))
            # the settings the program gives: SEED= and the folds of external cross validation
            m = re.search(r"\bseed=(\d+)", case.program, re.I)
            if m and "Random Number Seed" in f and f["Random Number Seed"] != int(m.group(1)):
                chk.fail("header.seed", "ModelInfo", "seed %r, the program's %s"
                         % (f["Random Number Seed"], m.group(1)))
            m = re.search(r"cvmethod=\w+\((\d+)\)", case.program, re.I)
            k = f.get("Number of External Folds")
            if m and k is not None and k != int(m.group(1)):
                chk.fail("header.folds", "ModelInfo", "%r external folds, the program asks %s"
                         % (k, m.group(1)))
            for label, opt, default in (("Entry Significance Level (SLE)", "slentry",
                                         {"FORWARD": 0.5, "STEPWISE": 0.15}),
                                        ("Stay Significance Level (SLS)", "slstay",
                                         {"STEPWISE": 0.15})):
                m = re.search(r"\b%s=([0-9.e+-]+)" % opt, case.program, re.I)
                want = float(m.group(1)) if m else default.get(case.method)
                if label in f and want is not None and f[label] != want:
                    chk.fail("header.levels", "ModelInfo", "%s %r, the program's %r" % (label, f[label], want))


# the path methods that take each column of a CLASS effect as an effect of its own (LAR and
# LASSO under LSCOEFFS too: the path is theirs)
SPLITTING = ("lar", "lasso", "elasticnet", "qklasso$")


def split_classes(case):
    """The CLASS variables the run splits: all of them where a splitting method meets a
    model effect that holds one, the variable of CVMETHOD=INDEX among them (it is one of the
    design's CLASS variables though no effect holds it)."""
    m = re.search(r"selection=([\w$]+)", case.program, re.I)
    if not m or m.group(1).lower() not in SPLITTING:
        return set()
    classes = set(case.classes) | set(getattr(case, "opt", {}).get("plainclass", ()))
    fold = re.search(r"cvmethod=index\((\w+)\)", case.program, re.I)
    held = {w for e in case.effects for v in [e["name"]] + list(e.get("vars", ()))
            for w in re.split(r"\W+", v)}
    if not classes & held:
        return set()
    return classes | ({fold.group(1)} if fold else set())


def effects_after_splits(case, d):
    """The number of candidate effects once each split CLASS effect stands as one effect per
    design column (its parameters the group's parameter names list), the intercept counted
    unless NOINT; None where an effect is other than a covariate or a main CLASS effect."""
    if any(e["kind"] not in ("cont", "class") for e in case.effects):
        return None
    count = 0 if d.noint else 1
    for e in case.effects:
        if e["kind"] == "class":
            count += sum(1 for k in d.col_of if k.lower().startswith(
                (e["name"].lower() + " ", e["name"].lower() + "_")))
        else:
            count += 1
    return count


def read_path_intercept(chk, d, where, tabs):
    """A path step's intercept is the response's mean less the columns' means times their
    estimates: the path is fitted on centred columns."""
    if d.noint or "ParameterEstimates" not in tabs:
        return
    rows = table_rows(tabs["ParameterEstimates"])
    b0 = [r["Estimate"] for r in rows if " ".join(str(r["Parameter"]).split()) == "Intercept"]
    if not b0:
        return
    want = ref.wmean(d.y, d.wf)
    size = abs(want)
    for r in rows:
        name = " ".join(str(r["Parameter"]).split())
        if name == "Intercept" or not real(r.get("Estimate")) or name not in d.col_of:
            continue
        t = r["Estimate"] * ref.wmean(d.D[:, d.col_of[name]], d.wf)
        want -= t
        size += abs(t)
    if differs(b0[0], want, 0.0, 1e-12 * size + 1e-300):
        chk.fail("path.intercept", where, "intercept %r, the mean less the columns' means times "
                 "their estimates %r" % (b0[0], want))
