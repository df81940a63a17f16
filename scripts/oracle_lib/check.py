"""Checks of one run against the reference. Every finding carries a check family (a short
name such as 'anova.sse') and the situation tags of the case, which the list of pending
faults (pending.py) matches."""
import math
import os
import re

import numpy as np
from scipy import stats

from . import decisions, ref, tables
from .runqrx import factoid, nodes, num, read_csv, table_rows

EPS = ref.EPS
LS_METHODS = ("NONE", "FORWARD", "BACKWARD", "STEPWISE")
# Exact pivots are formed for designs up to this size (rows x columns^2).
EXACT_LIMIT = 4_000_000
ACCEPT, REFUSE = 1e-7, 1e-9
TINY_PIVOT = 1.4916681462400413e-154
# Past this many design columns only the selected model is refitted.
WIDE = 300


class Finding:
    def __init__(self, family, where, text):
        self.family, self.where, self.text = family, where, text

    def __str__(self):
        return "[%s] %s: %s" % (self.family, self.where, self.text)


def real(v):
    """Whether a table's value is a number: JSON writes a double of integral value (an
    estimate of 8.7e16, say) without a decimal point, which reads back as an int."""
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def nothing_enters(case, errors, workdir=None, qrx=None):
    """Whether the run's errors are each the sound refusal of an empty model: a selection by
    significance without an intercept (no INCLUDE= or SLENTRY=) whose every effect alone
    falls short of the entry level (0.5 for FORWARD, 0.15 for STEPWISE) in the data, or in
    the BY group the error names. Continuous effects are their variables; the columns of
    the others come from the design qrx writes for the program without selection."""
    if (not errors or any("No effect could be estimated" not in e.get("text", "") for e in errors)
            or not case.noint or case.method not in ("FORWARD", "STEPWISE")
            or "select=SL" not in case.program or "include=" in case.program
            or "slentry" in case.program):
        return False
    if all(e["kind"] == "cont" for e in case.effects) and not case.by:
        return len(errors) == 1 and none_enters(case, continuous_blocks(case))
    record = design_run(case, workdir, qrx) if workdir and qrx else None
    return record is not None and all(
        none_enters(case, design_blocks(case, e, workdir, record)) for e in errors)


def entry_pvalue(X, y, wf, n, tss, keep_min):
    """The F test's p-value without an intercept of the columns of X that exact pivots in
    column order keep (each at least keep_min of its diagonal, as the rank rule takes them),
    fitted on the columns scaled to unit length; None when none is kept or no error is left."""
    if not X.size:
        return None
    _, _, kept = ref.pivot_ratios(ref.exact_gram(X, wf, True), list(range(X.shape[1])),
                                  keep_min=keep_min)
    rank = len(kept)
    if rank == 0:
        return None
    s = np.sqrt(wf)
    A = X[:, kept] * s[:, None]
    A = A / np.maximum(np.sqrt((A * A).sum(axis=0)), 1e-300)
    r = y * s - A @ ref.robust_lstsq(A, y * s)
    sse, dfe = float(r @ r), n - rank
    if dfe <= 0 or sse <= 0:
        return 0.0
    return stats.f.sf((tss - sse) / rank / (sse / dfe), rank, dfe)


def none_enters(case, blocks):
    """Whether no block of columns alone reaches the entry level, by its F test without an
    intercept: blocks as continuous_blocks gives them, or None (no judgement). A block's
    columns are those the rank rule must take; one whose exact pivot lies in the band where
    it may go either way is tried both ways, and the block counts as entering only when it
    reaches the level both ways."""
    if blocks is None:
        return False
    Xs, y, wf, n = blocks
    tss = math.fsum(wf * y * y)
    sle = 0.5 if case.method == "FORWARD" else 0.15
    for X in Xs:
        ps = [entry_pvalue(X, y, wf, n, tss, keep) for keep in (REFUSE, ACCEPT)]
        if all(p is not None and p < sle for p in ps):
            return False
    return True


def continuous_blocks(case):
    """Each continuous effect's column over the rows the fit uses, the response, the
    weights times the frequencies and the number of observations."""
    cols = [e["vars"][0] for e in case.effects]
    n = len(case.columns["y"])
    w = np.array(case.columns[case.weight], float) if case.weight else np.ones(n)
    f = np.floor(np.array(case.columns[case.freq], float)) if case.freq else np.ones(n)
    X = np.array([[np.nan if v is None else v for v in case.columns[c]] for c in cols], float).T
    y = np.array([np.nan if v is None else v for v in case.columns["y"]], float)
    ok = ~np.isnan(y) & ~np.isnan(X).any(axis=1) & (w > 0) & (f >= 1)
    return ([X[ok][:, [j]] for j in range(X.shape[1])], y[ok], (w * f)[ok],
            float(np.sum(f[ok])))


def design_run(case, workdir, qrx):
    """The record of the program run again without selection, so that OUTDESIGN writes the
    design the refused selection worked on (the run that refused wrote none); None when it
    wrote none either."""
    from . import runqrx
    program = re.sub(r"selection=\w+(\([^)]*\))?", "selection=none", case.program)
    program = re.sub(r"\s+(details=all|stats=\([^)]*\))", "", program)
    program = re.sub(r"\n\s*output [^;]*;", "", program)
    with open(os.path.join(workdir, "design.qrx"), "w") as fh:
        fh.write(program)
    _, record, _ = runqrx.run(qrx, workdir, program="design.qrx", cpucount=1)
    return record if record and os.path.exists(os.path.join(workdir, "dz.csv")) else None


def named_group(error, values):
    """The indices among the BY group values of those the error's BY group names."""
    said = [v for v in error.get("values", []) if "BY group" in v]
    if not said:
        return []
    value = said[0].split("=", 1)[1].strip()
    return [i for i, v in enumerate(values) if num(value) == v or str(v) == value]


def design_blocks(case, error, workdir, record):
    """The blocks of continuous_blocks for any effects, in the BY group the error names:
    each effect's columns are those its parameter names hold in OUTDESIGN's data set."""
    out = record["steps"][0]["output"]
    rows = None
    if case.by:
        values = []
        for v in case.columns[case.by]:
            if v not in values:
                values.append(v)
        g = named_group(error, values)
        segments = by_groups(out)
        if len(g) != 1 or len(segments) != len(values):
            return None
        out = segments[g[0]]
        rows = np.array(case.columns[case.by]) == values[g[0]]
    pn = find(out, "ParameterNames")
    if not pn:
        return None
    d = Data(case, workdir, record, rows)
    d.map_names(pn[-1])
    return [d.D[:, idx] for idx in effect_columns(case, d.col_of)], d.y, d.wf, d.n


def effect_columns(case, col_of):
    """The design columns of each effect, in the effects' order, from the parameter names
    (col_of, name -> column)."""
    out = []
    for e in case.effects:
        name = e["name"].lower()
        # A polynomial's columns are named after its variable: v1, v1^2, ...
        power = e["vars"][0].lower() + "^" if e["kind"] == "poly" else None
        out.append(sorted(c for k, c in col_of.items()
                          if k.lower() == name or k.lower().startswith(name + " ")
                          or (power and (k.lower() == power[:-1] or k.lower().startswith(power)))))
    return out


def saturated_full_model(case, errors, workdir=None, qrx=None):
    """Whether the run's errors are each the sound refusal of CP or BIC for want of an error
    variance of the full model: in the data, or the BY group the error names, the used rows
    take no more distinct values of the design and the response than the rank of every
    effect's columns (the intercept with them), so that the full model fits them exactly
    whatever their frequencies. The columns come from the design qrx writes for the program
    without selection."""
    if not errors or any("error variance of the full model" not in e.get("text", "")
                         for e in errors):
        return False
    record = design_run(case, workdir, qrx) if workdir and qrx else None
    if record is None:
        return False
    for e in errors:
        blocks = design_blocks(case, e, workdir, record)
        if blocks is None:
            return False
        Xs, y, wf, _ = blocks
        cols = list(Xs) + ([] if case.noint else [np.ones((len(y), 1))])
        X = np.hstack(cols)[wf > 0]
        distinct = len({tuple(r) for r in np.column_stack([X, y[wf > 0]]).tolist()})
        if distinct > min(X.shape) or distinct > ref.exact_rank(X):
            return False
    return True


# The refusals of a BY group (or the data) whose used rows hold fewer than two folds.
FOLD_REFUSALS = ("all fall in one cross-validation fold",
                 "has one level only among the training observations")


def lehmer_folds(n, k, seed):
    """RANDOM(k) folds of n rows: floor(k u), u the next value of the Lehmer stream
    (multiplier 397204094 modulo 2^31 - 1) started at SEED=."""
    out, s = [], seed
    for _ in range(n):
        s = (s * 397204094) % 2147483647
        out.append(int(s / 2147483647.0 * k))
    return np.array(out, int)


def used_rows(case):
    """The rows a fit uses, from the data alone: the response, the model's variables (and
    the INDEX variable) present, a positive weight and a frequency of 1 or more."""
    cols = case.columns
    n = len(cols["y"])
    names = {"y"} | {v for e in case.effects for v in e["vars"]}
    if case.fold:
        names.add(case.fold)
    def present(v):
        return v is not None and not (isinstance(v, float) and np.isnan(v))
    ok = np.array([all(present(cols[c][i]) for c in names) for i in range(n)], bool)
    for c, floor in ((case.weight, False), (case.freq, True)):
        if c:
            v = np.array([x if present(x) else np.nan for x in cols[c]], float)
            v = np.floor(v) if floor else v
            ok &= (v >= 1) if floor else (v > 0)
    return ok


def adaptive_gamma(program):
    """GAMMA= of an adaptive LASSO (1 when not given), None for any other method (LAR
    ignores ADAPTIVE)."""
    m = re.search(r"selection=lasso\(adaptive(\(gamma=([0-9.e+-]+)\))?", program.lower())
    return None if m is None else float(m.group(2) or 1.0)


def fold_groups(case):
    """The fold of every used row and the BY group value of every row: RANDOM draws one
    value of the stream for each used row in data order, through the BY groups; SPLIT and
    BLOCK deal each group's used rows; INDEX takes the index variable."""
    used = used_rows(case)
    groups = list(case.columns[case.by]) if case.by else [None] * len(used)
    kind, k = case.foldm
    folds = np.full(len(used), -1)
    if kind == "RANDOM":
        seed = int(re.search(r"seed=(\d+)", case.program).group(1))
        folds[used] = lehmer_folds(int(used.sum()), k, seed)
    elif kind == "INDEX":
        folds[used] = [int(case.columns[case.fold][i]) for i in np.flatnonzero(used)]
    else:
        for g in set(groups):
            rows = np.flatnonzero(used & np.array([v == g for v in groups]))
            m = len(rows)
            if kind == "SPLIT":
                folds[rows] = np.arange(m) % k
            else:
                q, r = divmod(m, k)
                folds[rows] = np.repeat(np.arange(k), [q + 1 if j < r else q for j in range(k)])
    return folds, groups


def fold_refusals(case, errors):
    """Whether every error is the refusal of cross validation for want of a second fold
    that the data bear out: the used rows of the BY group it names (or of the data) hold
    one fold."""
    if not errors or case.foldm is None:
        return False
    if any(not any(t in e.get("text", "") for t in FOLD_REFUSALS) for e in errors):
        return False
    folds, groups = fold_groups(case)
    for e in errors:
        value = None
        if case.by:
            values = sorted(set(groups))
            match = named_group(e, values)
            if len(match) != 1:
                return False
            value = values[match[0]]
        held = {int(f) for f, g in zip(folds, groups) if f >= 0 and g == value}
        if len(held) != 1:
            return False
    return True


def tpf_log_sumsq(x, wf, opts):
    """log10 of the largest weighted sum of squares among the columns of a truncated-power
    spline of x (x, x^2, ..., x^d, then (x - k)_+^d at knots equally spaced inside the range
    of x), formed in logs so that columns beyond the largest double still compare."""
    deg = int(re.search(r"degree=(\d+)", opts).group(1))
    m = re.search(r"equal\((\d+)\)", opts)
    nk = int(m.group(1)) if m else 3
    lo, hi = float(np.min(x)), float(np.max(x))
    bases = [(x, p) for p in range(1, deg + 1)]
    bases += [(np.where(x > k, x - k, 0.0), deg)
              for k in (lo + i * (hi - lo) / (nk + 1) for i in range(1, nk + 1))]
    best = -math.inf
    for base, p in bases:
        a = np.abs(base)
        top = float(np.max(a))
        if top > 0:
            s = math.fsum(wf * (a / top) ** (2 * p))
            best = max(best, 2 * p * math.log10(top) + math.log10(s))
    return best


def spline_too_large(case, errors):
    """Whether the run's errors are all the sound refusal of a spline whose sums of squares
    lie beyond the largest double: a truncated-power spline of degree near 60 over values a
    few hundred from a knot reaches 1e155 and its squares overflow, whatever the engine.
    A refusal is taken as sound when some BY group's columns have a sum of squares past
    1e300 (rounding and the shift about the mean move where a sum overflows by far less),
    with the knots placed over the group's rows that have x, or only over the used ones."""
    if not errors or not all("too large to be held" in e.get("text", "") for e in errors):
        return False
    tpf = [e for e in case.effects if e["kind"] == "spline" and "tpf" in e.get("opts", "")]
    if not tpf:
        return False
    n = len(case.columns["y"])
    x = np.array([np.nan if v is None else v for v in case.columns["x1"]], float)
    y = np.array([np.nan if v is None else v for v in case.columns["y"]], float)
    w = np.array(case.columns[case.weight], float) if case.weight else np.ones(n)
    f = np.floor(np.array(case.columns[case.freq], float)) if case.freq else np.ones(n)
    groups = [np.array(case.columns[case.by]) == v for v in set(case.columns[case.by])] \
        if case.by else [np.ones(n, bool)]
    for g in groups:
        have = g & ~np.isnan(x)
        used = have & ~np.isnan(y) & (w > 0) & (f >= 1)
        for rows in (have, used):
            if rows.sum() < 2:
                continue
            wf = np.where(used[rows], w[rows] * f[rows], 0.0)
            if any(tpf_log_sumsq(x[rows], wf, e["opts"]) > 300 for e in tpf):
                return True
    return False


def norm_name(s):
    return re.sub(r"\s+", " ", str(s)).strip()


def own_sum_of_squares(x, wf, noint):
    """The diagonal a pivot ratio is taken over: the column's weighted sum of squares about
    its mean, or about zero without an intercept."""
    c = x if noint else x - ref.wmean(x, wf)
    return math.fsum(wf * c * c)


def held_pivots(X, d, order, extra, skip, raw):
    """The double pivots of ref.double_pivots from the rows in their own order and in four
    others, and where the fit keeps columns `raw` unshifted, from their raw sums too: a pivot
    must hold in all of them to count as one that sums in double resolve. One order can land
    near the exact pivot where the sums' rounding moves it by 1%."""
    out = [ref.double_pivots(X, d.wf, d.noint, order, extra, skip)]
    out += ref.reordered_double_pivots(X, d.wf, d.noint, order, extra, skip)
    if raw and not d.noint:
        out.append(ref.double_pivots(X, d.wf, d.noint, order, extra, skip, raw))
        out += ref.reordered_double_pivots(X, d.wf, d.noint, order, extra, skip, raw=raw)
    return out


def held_above(X, d, order, cols, skip, raw, exact, after):
    """The columns of `cols` that a sound rule must take: their exact pivot (`exact`, over
    the diagonal) at least 1e-7 of the diagonal and above the smallest pivot a sweep in
    double takes (2^-511, the first basis function of a B-spline of degree near 60, or a
    truncated power of degree 60 on the columns before it, which the rule refuses whatever
    its diagonal; within a rounding of it either choice is sound), and every double pivot
    of held_pivots within 1e-3 of it: each at its turn in `order`, or (`after`) after every
    column of it."""
    dbls = held_pivots(X, d, order, list(cols) if after else (), skip, raw)
    return [j for j in cols if exact[j] >= ACCEPT
            and exact[j] * own_sum_of_squares(X[:, j], d.wf, d.noint) >= TINY_PIVOT * (1 + 1e-3)
            and all(abs(p[j] - exact[j]) <= 1e-3 * exact[j] for p in dbls)]


def unshifted_columns(case, params):
    """The places in `params` ((name, column, parameter row) triples) of the columns a fit
    sums as they stand rather than shifted to their means: a B-spline basis of more than 10
    columns, stored sparse. Their sums about the means are the raw sums less the means' term,
    which carries rounding of the raw products' size."""
    bsplines = {norm_name(e["name"]).upper() for e in case.effects
                if e["kind"] == "spline" and "basis=tpf" not in e.get("opts", "")}
    effect = [norm_name(r["Effect"]).upper() for _, _, r in params]
    return {i for i, e in enumerate(effect) if e in bsplines and effect.count(e) > 10}


def lars_sound(alphas, coefs, method):
    """Whether lars_path's knots are the textbook path's: the knots' correlations fall to
    0 at a least-squares fit of every column, no coefficient changes sign from one knot to
    the next, and a LAR path has one knot per column. lars_path ends a path once the
    correlation falls below float32's epsilon times the rows, and where a LAR coefficient
    crosses zero it turns that column's direction round and takes a knot with no entry."""
    p, k = coefs.shape
    if alphas[-1] != 0 or np.any(coefs[:, -1] == 0) or np.any(np.diff(alphas) >= 0):
        return False
    if method == "LAR" and k != p + 1:
        return False
    signs = np.sign(coefs)
    return not np.any(signs[:, 1:] * signs[:, :-1] < 0)


def exact_lars(X, d, s, ys, method):
    """The LAR or LASSO knots of the design columns X from the exact path
    (scripts/exactlar.py, 80 digits from the data's doubles), on lars_path's scale:
    columns scaled by s, the response by ys; the correlations stand for its alphas."""
    import exactlar
    w = [float(v) for v in d.wf]
    knots, tied = exactlar.path([X[:, j].tolist() for j in range(X.shape[1])], d.y.tolist(), w,
                                lasso=(method == "LASSO"))
    coefs = np.array([[float(c) for c in coef] for _, coef in knots]).T * s[:, None] / ys
    return np.array([float(t) for t in tied]), coefs


def tolerance(kappa, floor=1e-8):
    """The relative tolerance of a quantity computed from cross products whose condition
    (after centring and scaling the columns) is kappa: a backward-stable elimination of the
    cross products errs by about eps x kappa, so we allow 16 eps kappa, never below floor."""
    return max(floor, 16 * EPS * kappa)


class Data:
    """The rows of the case as the fit sees them, with the engine's design columns."""

    def __init__(self, case, workdir, record, rows=None):
        cols = case.columns
        n = len(cols["y"])
        self.y_all = np.array([np.nan if v is None else v for v in cols["y"]], float)
        self.w_all = np.array(cols[case.weight], float) if case.weight else np.ones(n)
        self.f_all = np.floor(np.array(cols[case.freq], float)) if case.freq else np.ones(n)
        head, lines = read_csv(os.path.join(workdir, "dz.csv"))
        self.names = head
        D = np.array([[np.nan if num(v) is None else float(v) for v in r] for r in lines], float)
        self.D_all = D
        des = [i for i, h in enumerate(head) if h not in ("y", "_BY_", case.by)]
        self.design_idx = des
        ok = ~np.isnan(self.y_all) & (self.w_all > 0) & (self.f_all >= 1)
        if rows is not None:
            # a BY group's design has as many columns as the group needs; the rest are empty
            ok &= rows
            des = [i for i in des if not np.isnan(D[rows, i]).all()]
            self.design_idx = des
        ok &= ~np.isnan(D[:, des]).any(axis=1)
        self.used = ok
        self.y = self.y_all[ok]
        self.freq = self.f_all[ok]
        self.wf = self.w_all[ok] * self.freq
        self.sumw = float(np.sum(self.w_all[ok] * self.freq))
        self.n = float(np.sum(self.freq))
        self.D = D[ok]
        self.noint = case.noint
        yb = ref.wmean(self.y, self.wf)
        self.tss_c = math.fsum(self.wf * (self.y - yb) ** 2)
        self.tss_u = math.fsum(self.wf * self.y ** 2)
        self.tss = self.tss_u if self.noint else self.tss_c
        self.col_of = {}
        self.case = case

    def map_names(self, pnames_table):
        for r in table_rows(pnames_table):
            key = norm_name(r["Parameter"])
            if key in self.col_of:
                raise ValueError("parameter name %r names two design columns" % key)
            self.col_of[key] = self.names.index(r["Name"])


def printed_models(output):
    """(label, step number or None, dict of its tables) for every step shown and the
    selected model."""
    models = []
    cur = None
    for n, path in nodes(output):
        if n["kind"] == "group":
            continue
        key = None
        if len(path) >= 2 and path[0] == "StepDetails":
            key = path[1]
        elif path and path[0] == "SelectedModel":
            key = "Selected"
        if key is None:
            continue
        if cur is None or cur[0] != key:
            cur = (key, {})
            models.append(cur)
        if n["kind"] in ("table", "factoid"):
            cur[1].setdefault(n["name"], n)
        elif n["kind"] == "text":
            cur[1].setdefault("texts", []).append(n["text"])
    return models


def by_groups(output):
    """The top-level nodes of each BY group: a group's tables start at its NObs table."""
    segs = []
    for n in output:
        if n.get("name") == "NObs":
            segs.append([])
        if segs:
            segs[-1].append(n)
    return segs


def find(output, name):
    return [n for n, _ in nodes(output) if n.get("name") == name]


def row_folds(case, workdir, d):
    """The fold of each used row: SPLIT, BLOCK and INDEX by their rule, RANDOM from the
    _CVINDEX_ the OUTPUT data set carries (checked there against nothing else)."""
    fm = case.foldm
    if fm is None:
        return None
    kind, k = fm
    m = int(d.used.sum())
    if kind == "SPLIT":
        return np.arange(m) % k
    if kind == "BLOCK":
        nobs = int(d.n)
        if nobs != m:
            return None
        q, r = divmod(m, k)
        sizes = [q + 1 if i < r else q for i in range(k)]
        return np.repeat(np.arange(k), sizes)
    if kind == "INDEX":
        if case.by:
            return None
        f = np.array(case.columns["fold"], float)[d.used]
        levels = sorted(set(f.tolist()))
        return np.array([levels.index(v) for v in f])
    head, rows = read_csv(os.path.join(workdir, "o.csv"))
    if "_CVINDEX_" not in head:
        return None
    j = head.index("_CVINDEX_")
    # _CVINDEX_ numbers the folds from 1
    vals = np.array([num(r[j]) if num(r[j]) is not None else 0 for r in rows], float) - 1
    return vals[d.used]


class GroupProblem:
    """A group LASSO path's problem on the case's design: the columns standardised, each
    effect a group (a polynomial's powers each its own, as the tables name them), the
    response about its mean, RHO= and TOL= from the program."""

    def __init__(self, case, d):
        opts = re.search(r"grouplasso\(([^)]*)\)", case.program.lower())
        rho = re.search(r"rho=([0-9.e+-]+)", opts.group(1) if opts else "")
        tol = re.search(r"tol=([0-9.e+-]+)", opts.group(1) if opts else "")
        self.rho = float(rho.group(1)) if rho else 0.9
        self.tol = float(tol.group(1)) if tol else 1e-6
        named = [(d.names[c], [c]) if e["kind"] == "poly" else (e["name"], g)
                 for e, g in zip(case.effects, effect_columns(case, d.col_of)) if g
                 for c in (g if e["kind"] == "poly" else g[:1])]
        self.cols = sorted(c for _, g in named for c in g)
        self.at = {c: i for i, c in enumerate(self.cols)}
        self.Z, self.sd = ref.standardised(d.D[:, self.cols], d.wf, d.n)
        # an effect with a constant column takes no part: it never enters and is not judged
        self.named = [(nm, g) for nm, g in named if all(self.sd[self.at[c]] > 0 for c in g)]
        self.groups = [[self.at[c] for c in g] for _, g in self.named]
        self.yc = d.y - ref.wmean(d.y, d.wf)
        self.wf = d.wf

    def kkt(self, b, step, floor=1.0):
        """ref.group_kkt of the standardised coefficients b at the path's step."""
        return ref.group_kkt(self.Z, self.yc, self.wf, b, self.groups, self.rho ** step,
                             self.tol, floor)

    def slack(self, b, step, floor=1.0):
        """ref.group_slack of each effect (by name) at the path's step."""
        out = ref.group_slack(self.Z, self.yc, self.wf, b, self.groups, self.rho ** step,
                              self.tol, floor)
        return {nm: v for (nm, _), v in zip(self.named, out)}


class Checker:
    def __init__(self, case, workdir, record, qrx=None):
        self.case = case
        self.qrx = qrx
        self.findings = []
        self.record = record
        self.workdir = workdir
        self.out = record["steps"][0]["output"] if record and record.get("steps") else []
        self.whole = self.out      # self.out becomes each BY group's part in turn
        self.full_sigma2 = None
        self.group = 0

    def fail(self, family, where, text):
        if self.case.by:
            where = "BY group %d, %s" % (self.group + 1, where)
        self.findings.append(Finding(family, where, text))

    # ---- the run as a whole ----
    def run(self):
        case = self.case
        rc = self.record.get("returnCode") if self.record else None
        errors = [l for s in (self.record or {}).get("steps", []) for l in s["log"]
                  if l.get("severity") == "ERROR"]
        if errors and (nothing_enters(case, errors, self.workdir, self.qrx)
                       or spline_too_large(case, errors)
                       or saturated_full_model(case, errors, self.workdir, self.qrx)):
            return self.findings
        # The refusal of a group whose used rows hold one fold: a step with errors writes no
        # design, so the other groups go unchecked, as after the refusals above.
        if errors and fold_refusals(case, errors):
            return self.findings
        if self.record is None or rc is None or rc > 4 or errors:
            self.fail("run.error", "run", "return code %s; %s" % (
                rc, "; ".join(e.get("text", "") for e in errors[:3])))
            return self.findings
        segments = by_groups(self.out) if case.by else [self.out]
        values = []
        if case.by:
            for v in case.columns[case.by]:
                if v not in values:
                    values.append(v)
            if len(values) != len(segments):
                self.fail("by", "run", "%d BY groups shown, %d in the data" % (len(segments), len(values)))
                return self.findings
        for g, seg in enumerate(segments):
            self.out = seg
            rows = np.array(case.columns[case.by]) == values[g] if case.by else None
            self.group = g
            self.check_group(rows)
        return self.findings

    def check_group(self, rows):
        case = self.case
        pn = find(self.out, "ParameterNames")
        if not pn or not os.path.exists(os.path.join(self.workdir, "dz.csv")):
            self.fail("run.error", "run", "no design written")
            return
        d = Data(case, self.workdir, self.record, rows)
        d.map_names(pn[-1])
        self.d = d
        self.check_nobs(d)
        self.check_design(d)
        self.full_model(d)
        models = printed_models(self.out)
        wide = len(d.design_idx) > WIDE
        for label, tabs in models:
            if "ParameterEstimates" not in tabs:
                continue
            if wide and label != "Selected":
                continue    # a fit of a thousand columns costs seconds: the selected one only
            self.entry = self.entry_order(models, self.last_step(models, label, tabs))
            if case.method in LS_METHODS:
                self.check_ls_model(d, label, tabs)
            else:
                self.check_path_model(d, label, tabs)
        self.read_tables(d, models, wide)
        self.check_output(d, models)
        if case.method in ("LAR", "LASSO"):
            self.check_lars(d, models)
        if case.method == "GROUPLASSO" and not wide:
            self.check_group_kkt(d, models)
        if case.method in ("ELASTICNET", "ADAPTIVE") or adaptive_gamma(case.program):
            self.check_lasso_kkt(d, models)

    def read_tables(self, d, models, wide):
        """Every printed number of every table by its formula on the other printed numbers
        (tables.py), the summary against the steps and the decisions (decisions.py)."""
        sigma2 = tables.read_sigma2(self, d, models, self.full_sigma2, self.full_rel)
        for label, tabs in models:
            if wide and label != "Selected":
                continue
            an = tables.read_anova(self, d, label, tabs)
            tables.read_fitstats(self, d, label, tabs, an, sigma2)
            tables.read_estimates(self, d, label, tabs, an)
            if self.case.method not in LS_METHODS:
                tables.read_path_intercept(self, d, label, tabs)
        tables.read_header(self, d, self.out, self.whole)
        decisions.read_summary(self, d, models)
        if self.case.method in LS_METHODS and not wide:
            decisions.Judge(self, d, models).run()
        tables.read_output_residual(self, d)

    def check_nobs(self, d):
        t = find(self.out, "NObs")
        if not t:
            return
        rows = table_rows(t[0])
        used = [r for r in rows if "Used" in r["Label"]]
        if used:
            r = used[0]
            want_rows = int(d.used.sum())
            if r["N"] != want_rows:
                self.fail("nobs", "NObs", "observations used %s, reference %d" % (r["N"], want_rows))

    def check_design(self, d):
        """Continuous effects are their variables; a CLASS effect's columns span the
        indicators of its levels (with the intercept)."""
        case = self.case
        for e in case.effects:
            if e["kind"] == "cont" and e["name"] in d.names:
                col = d.D_all[:, d.names.index(e["name"])]
                src = np.array([np.nan if v is None else v for v in case.columns[e["name"]]], float)
                m = d.used
                if not np.array_equal(col[m], src[m]):
                    self.fail("design", e["name"], "design column differs from the variable")
            if e["kind"] == "class":
                # the block is a function of the level: it lies in the span of the levels
                idx = [i for i, h in enumerate(d.names) if h.lower().startswith(e["name"].lower() + "_")]
                if not idx:
                    continue
                lv = np.array(case.columns[e["name"]])[d.used]
                B = d.D[:, idx]
                seen = {}
                for l, row in zip(lv, B):
                    t = tuple(row.tolist())
                    if seen.setdefault(l, t) != t:
                        self.fail("design", e["name"], "CLASS columns differ between rows of level %s" % l)
                        break

    def full_model(self, d):
        """The full model's error variance for BIC and CP, with its rank by the exact
        pivots: None when a column lies in the band where either choice is sound."""
        self.full_sigma2 = None
        self.full_rel = 0.0
        icol = d.col_of.get("Intercept")
        cols = [i for i in d.design_idx if d.names[i] != "Intercept" and i != icol]
        if d.D.shape[0] * len(cols) ** 2 > EXACT_LIMIT or not cols:
            return
        X = d.D[:, cols]
        G = ref.exact_gram(X, d.wf, d.noint)
        ratios, _, kept = ref.pivot_ratios(G, list(range(len(cols))), keep_min=ACCEPT)
        skip = {c for c in range(len(cols)) if ratios[c] < ACCEPT}
        dbl = ref.double_pivots(X, d.wf, d.noint, list(range(len(cols))), skip=skip)
        take = []
        for c in range(len(cols)):
            r = ratios[c]
            if REFUSE <= r < ACCEPT:
                return
            if r >= ACCEPT:
                if abs(dbl[c] - r) > 1e-3 * r:
                    return
                take.append(c)
        if not take and d.noint:
            return
        f = ref.fit(X[:, take], d.y, d.wf, d.noint)
        p = len(take) + (0 if d.noint else 1)
        dsse = tolerance(f.cond ** 2) * d.tss
        if d.n - p > 0 and f.sse > dsse:
            self.full_sigma2 = f.sse / (d.n - p)
            self.full_rel = dsse / (f.sse - dsse)   # relative error the full MSE may carry

    @staticmethod
    def effects_of(tabs):
        return {norm_name(r["Effect"]) for r in table_rows(tabs["ParameterEstimates"])}

    def last_step(self, models, label, tabs):
        """The step a printed model was fitted at: its own for a step, else the last step
        with the same effects (the selected model is one of the steps)."""
        if label.startswith("Step"):
            return int(label[4:])
        now = self.effects_of(tabs)
        steps = [int(lb[4:]) for lb, t in models
                 if lb.startswith("Step") and "ParameterEstimates" in t and self.effects_of(t) == now]
        return max(steps) if steps else None

    def entry_order(self, models, upto=None):
        """The step at which each effect last entered, from the step tables up to step
        `upto` (an effect removed later was still in at the steps before its removal)."""
        entered = {}
        for label, tabs in models:
            if not label.startswith("Step") or "ParameterEstimates" not in tabs:
                continue
            step = int(label[4:])
            if upto is not None and step > upto:
                continue
            now = {norm_name(r["Effect"]) for r in table_rows(tabs["ParameterEstimates"])}
            for e in list(entered):
                if e not in now:
                    del entered[e]
            for e in now:
                entered.setdefault(e, step)
        return entered

    # ---- one least-squares model ----
    def params(self, d, tabs, where):
        rows = table_rows(tabs["ParameterEstimates"])
        out = []
        for r in rows:
            name = norm_name(r["Parameter"])
            if name == "Intercept":
                col = None
            elif name in d.col_of:
                col = d.col_of[name]
            else:
                self.fail("names", where, "parameter %r has no design column" % name)
                return None
            out.append((name, col, r))
        return out

    def check_ls_model(self, d, label, tabs):
        where = label
        ps = self.params(d, tabs, where)
        if ps is None:
            return
        anova = {r["Source"].split()[0]: r for r in table_rows(tabs["ANOVA"])} if "ANOVA" in tabs else {}
        taken = [(nm, c, r) for nm, c, r in ps if c is not None and r["DF"] and r["DF"] > 0]
        refused = [(nm, c, r) for nm, c, r in ps if c is not None and not (r["DF"] and r["DF"] > 0)]
        has_int = any(nm == "Intercept" and r["DF"] for nm, c, r in ps)
        if not d.noint and not has_int and any(nm == "Intercept" for nm, c, r in ps):
            self.fail("rank.accept", where, "the Intercept is refused")
        cols = [c for _, c, _ in taken]
        X = d.D[:, [c for c in cols]] if cols else np.zeros((len(d.y), 0))
        sound = self.rank_bands(d, where, taken, refused)
        f = ref.fit(X, d.y, d.wf, d.noint)
        kappa = f.cond ** 2
        tol = tolerance(kappa)
        p = len(cols) + (0 if d.noint else 1)
        tss = d.tss
        # ANOVA
        if anova:
            err = anova.get("Error")
            tot = [r for k, r in anova.items() if k not in ("Model", "Error")]
            if tot and not _close(tot[0]["SS"], tss, 1e-10 * tss + 1e-300):
                self.fail("anova.total", where, "total SS %r, reference %r" % (tot[0]["SS"], tss))
            if err is not None and tot and not cols and has_int and tot[0]["SS"] is not None:
                # the intercept-only model leaves the corrected total itself
                if err["SS"] is None or abs(err["SS"] - tot[0]["SS"]) > 1e-13 * tot[0]["SS"]:
                    self.fail("anova.intercept", where, "intercept-only error SS %r, corrected "
                              "total %r" % (err["SS"], tot[0]["SS"]))
            if err is not None:
                sse = err["SS"]
                if sse is None or sse < -1e-12 * tss or sse > tss * (1 + 1e-8) + 1e-300:
                    self.fail("anova.sse", where, "error SS %r outside [0, total %r]" % (sse, tss))
                elif not _close(sse, f.sse, tol * tss):
                    self.fail("anova.sse", where, "error SS %r, least squares of the taken columns %r "
                              "(corrected total %r, tolerance %.1e of it)" % (sse, f.sse, tss, tol))
            if err is not None and err["SS"] is not None and sound is not None and len(sound) < len(cols):
                # whatever the conditioning: no worse than the columns every sound rule takes,
                # no better than the span of all columns taken
                fs_ = ref.fit(X[:, sorted(sound)], d.y, d.wf, d.noint)
                lo = ref.min_sse(X, d.y, d.wf, d.noint)
                if err["SS"] > fs_.sse + 1e-8 * tss + tolerance(fs_.cond ** 2) * tss:
                    self.fail("anova.sse", where, "error SS %r above %r, the fit of the %d columns "
                              "any sound rule takes" % (err["SS"], fs_.sse, len(sound)))
                elif err["SS"] < lo - 1e-8 * tss:
                    self.fail("anova.sse", where, "error SS %r below %r, the least of the span of "
                              "the taken columns" % (err["SS"], lo))
            model = anova.get("Model")
            if model is not None:
                want = len(cols)
                if model["DF"] != want:
                    self.fail("anova.df", where, "model DF %s, taken columns %d" % (model["DF"], want))
        # estimates and standard errors, compared on the standardised scale
        if tol < 1e-3:
            self.check_estimates(d, where, ps, taken, f, X, tolerance(kappa, 1e-10))
        # fit statistics
        fs = factoid(tabs["FitStatistics"]) if "FitStatistics" in tabs else {}
        sse_r = f.sse
        crit = ref.criteria(sse_r, p, d.n, d.tss, d.noint, self.full_sigma2, d.sumw)
        dsse = tol * tss   # absolute error allowed on the SSE
        self.check_stats(where, fs, crit, sse_r, dsse, d, X, cols, tabs)

    def rank_bands(self, d, where, taken, refused):
        """Columns whose exact pivot is at least 1e-7 of their diagonal (the double pivot
        within 1e-3 of it, from the rows summed in their own order and in four others, and
        from raw sums where the fit keeps the columns unshifted: held_pivots) must be taken,
        columns below 1e-9 must be refused. A refused column's pivot is taken at its turn
        and against every taken column: both must lie above the band for the refusal to be
        a fault."""
        k = len(taken) + len(refused)
        if k == 0 or d.D.shape[0] * k * k > EXACT_LIMIT:
            return None
        allc = [c for _, c, _ in taken] + [c for _, c, _ in refused]
        X = d.D[:, allc]
        G = ref.exact_gram(X, d.wf, d.noint)
        nt = len(taken)
        allp = taken + refused
        # columns in the order a fit of the model's effects sweeps them: by the step their
        # effect entered, then in design order. A step after a removal that lets a refused
        # column back in is swept so afresh.
        pos = {c: i for i, c in enumerate(sorted(allc))}
        order = sorted(range(k), key=lambda i: (self.entry.get(norm_name(allp[i][2]["Effect"]), 0),
                                                pos[allc[i]]))
        skip = set(range(nt, k))
        ratios, _, _ = ref.pivot_ratios(G, order, (), skip)
        raw = unshifted_columns(self.case, allp)
        for i in order:
            if i < nt and ratios[i] < REFUSE:
                self.fail("rank.refuse", where, "column %s taken with exact pivot %.3g of its diagonal"
                          % (taken[i][0], ratios[i]))
        flagged = held_above(X, d, order, range(nt, k), skip, raw, ratios, False)
        if flagged:
            # A sweep may judge a column it refused again once the columns after it are in:
            # a long run's blocked sweep does, from the rows, and so do the reverse sweeps of
            # a removal that keeps the swept matrix. Judged against every taken column,
            # within the bands there, its refusal is sound whatever its pivot at its turn.
            kept = [i for i in order if i < nt]
            _, every, _ = ref.pivot_ratios(G, kept, flagged, skip)
            for j in held_above(X, d, kept, flagged, skip, raw, every, True):
                self.fail("rank.accept", where, "column %s refused with exact pivot %.3g of its "
                          "diagonal" % (refused[j - nt][0], every[j]))
        # the taken columns that any sound rule takes: the fit can do no worse than theirs
        return [i for i in order if i < nt and ratios[i] >= ACCEPT]

    def check_estimates(self, d, where, ps, taken, f, X, tol):
        sy = math.sqrt(d.tss_c / max(d.sumw, 1e-300)) or 1.0
        bmap = {}
        for i, (nm, c, r) in enumerate(taken):
            bmap[nm] = (f.beta[i + (0 if d.noint else 1)], f.cov[i + (0 if d.noint else 1), i + (0 if d.noint else 1)], X[:, i])
        mse = f.sse / (d.n - len(taken) - (0 if d.noint else 1)) if d.n - len(taken) - (0 if d.noint else 1) > 0 else None
        stdb = []
        for nm, (b, v, x) in bmap.items():
            sx = math.sqrt(max(ref.wmean((x - ref.wmean(x, d.wf)) ** 2, d.wf), 0))
            stdb.append(abs(b) * sx / sy)
        big = max([1.0] + stdb)
        if not d.noint and any(nm == "Intercept" and r["DF"] for nm, c, r in ps):
            self.check_intercept(d, where, ps, f, X, tol * big * 10, sy, mse)
        for nm, c, r in ps:
            if nm not in bmap:
                if c is not None and r["Estimate"] not in (0, None):
                    self.fail("estimate", where, "refused %s has estimate %r" % (nm, r["Estimate"]))
                continue
            b, v, x = bmap[nm]
            sx = math.sqrt(max(ref.wmean((x - ref.wmean(x, d.wf)) ** 2, d.wf), 0))
            e = r["Estimate"]
            if e is None or not math.isfinite(e) or abs(e - b) * sx / sy > tol * big * 10:
                self.fail("estimate", where, "%s estimate %r, reference %r" % (nm, e, b))
            se = r.get("StdErr")
            if mse is not None and se is not None and v >= 0:
                # a standard error carries half the relative error of the SSE it comes from
                se_r = math.sqrt(mse * v)
                rel = tol * 10 + 0.5 * tol * d.tss / max(f.sse, 1e-300)
                if abs(se - se_r) > rel * se_r + 1e-300 and abs(se - se_r) * sx / sy > rel:
                    self.fail("stderr", where, "%s standard error %r, reference %r" % (nm, se, se_r))

    def check_intercept(self, d, where, ps, f, X, tol, sy, mse):
        """The intercept is the response's centre less the columns' centres times their
        estimates: it errs by the estimates' errors (tol of sd(y) / sd(x) each, on the
        standardised scale) times the columns' centres, and by the rounding of the centre."""
        r = [r for nm, c, r in ps if nm == "Intercept"][0]
        want = f.beta[0]
        allow = tol * sy
        for j in range(X.shape[1]):
            x = X[:, j]
            sx = math.sqrt(max(ref.wmean((x - ref.wmean(x, d.wf)) ** 2, d.wf), 0)) or 1.0
            allow += tol * sy / sx * abs(f.cx[j])
        allow += 8 * EPS * (abs(f.cy) + abs(want))
        e = r["Estimate"]
        if not real(e) or abs(e - want) > allow:
            self.fail("estimate", where, "Intercept estimate %r, reference %r (allowed %.3g)"
                      % (e, want, allow))
        se = r.get("StdErr")
        if mse is not None and real(se) and f.cov[0, 0] >= 0:
            se_r = math.sqrt(mse * f.cov[0, 0])
            rel = tol + 0.5 * tol * d.tss / max(f.sse, 1e-300)
            if abs(se - se_r) > rel * se_r + 1e-300:
                self.fail("stderr", where, "Intercept standard error %r, reference %r" % (se, se_r))

    def check_stats(self, where, fs, crit, sse_r, dsse, d, X, cols, tabs):
        n = d.n
        sse_lo = max(sse_r - dsse, 1e-300)
        rel = float(dsse) / float(sse_lo)     # relative error the SSE may carry
        def cmp(key, label, slack):
            if label not in fs or key not in crit:
                return
            v = fs[label]
            if v in ("-Infty", None) and sse_r <= dsse:
                return      # the SSE cannot be told from zero: a perfect fit
            if v is None or isinstance(v, str):
                self.fail("fitstat." + key.lower(), where, "%s printed as %r, reference %r" % (label, v, crit[key]))
                return
            if abs(v - crit[key]) > slack + 1e-9 * abs(crit[key]):
                self.fail("fitstat." + key.lower(), where, "%s %r, reference %r" % (label, v, crit[key]))
        cmp("AIC", "AIC", n * rel)
        cmp("AICC", "AICC", n * rel)
        cmp("SBC", "SBC", n * rel)
        cmp("RSQUARE", "R-Square", dsse / d.tss)
        cmp("ADJRSQ", "Adj R-Sq", 2 * dsse / d.tss * n)
        cmp("RMSE", "Root MSE", crit.get("RMSE", 0) * rel)
        cmp("ASE", "ASE", dsse / d.sumw)
        if self.full_sigma2:
            ratio = sse_r / self.full_sigma2
            q = n * self.full_sigma2 / max(sse_r, 1e-300)
            cmp("CP", "C(p)", dsse / self.full_sigma2 + ratio * self.full_rel + 1e-6 * n)
            cmp("BIC", "BIC", n * rel * 4 + 4 * q * (n + q) * (rel + self.full_rel) + 1e-6 * n)
        if "PRESS" in fs and fs["PRESS"] is not None:
            # a leave-one-out residual divides by 1 - h: its error grows as 1/(1 - h)
            pr, hmax, kap, near = ref.press_sum(X, d.y, d.wf, d.freq, d.noint)
            slack = 10 * tolerance(kap) / (1 - hmax) * pr + 4 * dsse
            # a row that may fall either side of the leverage cut only adds when kept
            if fs["PRESS"] < pr - slack or (not near and fs["PRESS"] > pr + slack):
                self.fail("fitstat.press", where, "PRESS %r, reference %r%s" % (
                    fs["PRESS"], pr, " or more" if near else ""))
        if ("CV PRESS" in fs and fs["CV PRESS"] is not None) or "CVDetails" in tabs:
            folds = self.folds(d)
            if folds is not None:
                tables.read_folds(self, d, where, tabs, X, cols, folds)

    def folds(self, d):
        return row_folds(self.case, self.workdir, d)

    # ---- path methods ----
    def check_path_model(self, d, label, tabs):
        """A path step's ANOVA is the SSE of its own estimates."""
        ps = self.params(d, tabs, label)
        if ps is None:
            return
        pred = np.zeros(len(d.y))
        mag = np.zeros(len(d.y))
        for nm, c, r in ps:
            e = r["Estimate"] or 0.0
            if nm == "Intercept":
                pred += e
                mag += abs(e)
            else:
                pred += e * d.D[:, c]
                mag += abs(e * d.D[:, c])
        sse = math.fsum(d.wf * (d.y - pred) ** 2)
        anova = {r["Source"].split()[0]: r for r in table_rows(tabs["ANOVA"])} if "ANOVA" in tabs else {}
        err = anova.get("Error")
        if err is None:
            return
        # The estimates are doubles on the data scale: a row's prediction carries the rounding
        # of its terms, some multiple of u times their sum of magnitudes, and moves the SSE by
        # twice the residual times that (to first order). The allowance is that row by row
        # conditioning, not a share of the magnitudes squared: beside a covariate near 5e7 the
        # latter allowed 5e9 and let an error SS 0.6 off its estimates pass.
        spread = 64 * EPS * mag
        tol = (1e-8 * d.tss + 2 * math.fsum(d.wf * np.abs(d.y - pred) * spread)
               + math.fsum(d.wf * spread ** 2))
        if err["SS"] is None or abs(err["SS"] - sse) > tol:
            self.fail("path.sse", label, "error SS %r, SSE of the printed estimates %r (total %r)"
                      % (err["SS"], sse, d.tss))

    def check_lars(self, d, models):
        """Every step of a LAR or LASSO path over continuous effects equals the knot of
        scikit-learn's lars_path on the columns centred about their weighted means and
        scaled to unit weighted norm; a path that lars_path cannot be trusted with
        (lars_sound) is taken from the exact one instead. Designs with near-collinear
        columns are left to the invariants: lars_path has no rank rule to compare."""
        case = self.case
        if any(e["kind"] != "cont" for e in case.effects) or d.noint:
            return
        if {"nearcopy", "aliased", "constant"} & case.tags:
            return
        from sklearn.linear_model import lars_path
        names = [e["name"] for e in case.effects]
        if any(nm not in d.col_of for nm in names):
            return
        cols = [d.col_of[nm] for nm in names]
        X = d.D[:, cols]
        sw = np.sqrt(d.wf)
        cx = np.array([ref.wmean(X[:, j], d.wf) for j in range(X.shape[1])])
        A = (X - cx) * sw[:, None]
        s = np.sqrt((A * A).sum(axis=0))
        if (s == 0).any():
            return
        f = ref.fit(X, d.y, d.wf, False)
        if f.cond > 1e4:
            return
        b = (d.y - ref.wmean(d.y, d.wf)) * sw
        # lars_path works in the response's units, down to tolerances fixed in absolute
        # terms: it runs on the response scaled to unit norm, and the path scales back.
        ys = float(np.sqrt(b @ b))
        if ys == 0:
            return
        alphas, _, coefs = lars_path(A / s, b / ys, method=case.method.lower())
        if not lars_sound(alphas, coefs, case.method):
            alphas, coefs = exact_lars(X, d, s, ys, case.method)
        if len(alphas) > 2 and np.min(np.abs(np.diff(alphas))) < 1e-6 * alphas[0]:
            return      # two knots too close to tell apart
        tol = tolerance(f.cond ** 2, 1e-9)
        for label, tabs in models:
            if not label.startswith("Step") or "ParameterEstimates" not in tabs:
                continue
            k = int(label[4:])
            if k >= coefs.shape[1]:
                self.fail("path.lars", label, "lars_path ends at step %d" % (coefs.shape[1] - 1))
                return
            est = {norm_name(r["Parameter"]): r["Estimate"] for r in table_rows(tabs["ParameterEstimates"])}
            want = coefs[:, k]
            big = max(1.0, float(np.max(np.abs(want))))
            for j, nm in enumerate(names):
                got = (est.get(nm) or 0.0) * s[j] / ys
                if abs(got - want[j]) > tol * big * 10:
                    self.fail("path.lars", label, "%s %r, lars_path %r"
                              % (nm, est.get(nm), want[j] * ys / s[j]))
                    return

    def check_group_kkt(self, d, models):
        """Every step of a group LASSO path is the optimum at its own penalty: step k solves
        at RHO^k of the penalty maximum (no penalty is printed; this is the path's grid), on
        the columns standardised and each effect a group weighed by the square root of its
        column count (ref.group_kkt states the conditions and the allowance)."""
        if d.noint:
            return
        gp = GroupProblem(self.case, d)
        for label, tabs in models:
            if not label.startswith("Step") or label == "Step0" or "ParameterEstimates" not in tabs:
                continue
            b = np.zeros(len(gp.cols))
            for nm, c, r in self.params(d, tabs, label) or []:
                if c is not None and real(r["Estimate"]):
                    b[gp.at[c]] = r["Estimate"] * gp.sd[gp.at[c]]
            (breach, g), tau_max = gp.kkt(b, int(label[4:]))
            if breach > 1:
                self.fail("path.kkt", label, "effect %s breaks the optimality conditions %.3g "
                          "times the solver's tolerance (penalty maximum %.6g)"
                          % (gp.named[g][0], breach, tau_max))
                return

    def check_lasso_kkt(self, d, models):
        """Every step of an elastic-net or adaptive LASSO path over continuous effects is a
        knot of its problem (ref.lasso_kkt) on the columns standardised as the group LASSO's:
        the elastic net adds (n - 1) L2 times half the coefficients' squares, the adaptive
        LASSO weighs each column by its least-squares coefficient's size on that scale.
        Designs with near-collinear columns are left to the invariants, as for LAR."""
        case = self.case
        if any(e["kind"] != "cont" for e in case.effects) or d.noint:
            return
        if {"nearcopy", "aliased", "constant"} & case.tags:
            return
        if any(e["name"] not in d.col_of for e in case.effects):
            return
        cols = [d.col_of[e["name"]] for e in case.effects]
        f = ref.fit(d.D[:, cols], d.y, d.wf, False)
        if f.cond > 1e4:
            return
        Z, sd = ref.standardised(d.D[:, cols], d.wf, d.n)
        l2 = re.search(r"l2=([0-9.e+-]+)", case.program.lower())
        ridge = (d.n - 1) * float(l2.group(1)) if l2 else 0.0
        gamma = adaptive_gamma(case.program)
        weights = np.abs(f.beta[1:] * sd) ** gamma if gamma else None
        yc = d.y - ref.wmean(d.y, d.wf)
        tol = 10 * tolerance(f.cond ** 2)
        for label, tabs in models:
            if not label.startswith("Step") or "ParameterEstimates" not in tabs:
                continue
            b = np.zeros(len(cols))
            for nm, c, r in self.params(d, tabs, label) or []:
                if c is not None and real(r["Estimate"]):
                    b[cols.index(c)] = r["Estimate"] * sd[cols.index(c)]
            breach = ref.lasso_kkt(Z, yc, d.wf, b, ridge, weights)
            if breach > tol:
                self.fail("path.kkt", label, "the estimates miss the knot's optimality conditions "
                          "by %.3g of the first correlation (allowed %.3g)" % (breach, tol))
                return

    # ---- the selection summary and the output data set ----
    def check_output(self, d, models):
        sel = [tabs for label, tabs in models if label == "Selected"]
        if not sel or "ParameterEstimates" not in sel[0]:
            return
        head, rows = read_csv(os.path.join(self.workdir, "o.csv"))
        if "p" not in head:
            return
        j = head.index("p")
        p = np.array([np.nan if num(r[j]) is None else float(r[j]) for r in rows], float)[d.used]
        ps = self.params(d, sel[0], "OUTPUT")
        if ps is None:
            return
        xb = np.zeros(len(d.y))
        mag = np.zeros(len(d.y))
        for nm, c, r in ps:
            e = float(r["Estimate"]) if real(r["Estimate"]) else 0.0
            v = e if nm == "Intercept" else e * d.D[:, c]
            xb += v
            mag += np.abs(v)
        # the predictions are the reported fit: their SSE is the ANOVA's error SS
        anova = {r["Source"].split()[0]: r for r in table_rows(sel[0]["ANOVA"])} if "ANOVA" in sel[0] else {}
        err = anova.get("Error")
        if np.isnan(p).any():
            self.fail("output.pred", "OUTPUT", "%d used rows without a prediction" % int(np.isnan(p).sum()))
            return
        sse_p = math.fsum(d.wf * (d.y - p) ** 2)
        taken = [c for nm, c, r in ps if c is not None and r.get("DF", 1) and r["Estimate"]]
        fr = ref.fit(d.D[:, taken], d.y, d.wf, d.noint)
        tol = tolerance(fr.cond ** 2, 1e-9)
        # a prediction summed as b0 + sum b_j x_j rounds by about eps x sum |b_j x_j|
        dp2 = float(np.sum(d.wf * (len(ps) * EPS * mag) ** 2))
        slack = max(tol, 1e-8) * d.tss + 2 * math.sqrt(max(sse_p, 0) * dp2) + dp2
        if err is not None and err["SS"] is not None and abs(sse_p - err["SS"]) > slack:
            self.fail("output.sse", "OUTPUT", "the predictions leave an SSE of %r, the ANOVA %r "
                      "(total %r)" % (sse_p, err["SS"], d.tss))
        # and they are X*b of the printed estimates, to the accuracy estimates can have: an
        # estimate errs by about eps x kappa of the taken columns' cross products
        if tol > 1e-2:
            return
        # where even the reference's own estimates, summed as X*b, miss its predictions by
        # more than that, the estimates cannot carry the fit and this check says nothing
        own = (d.D[:, taken] @ fr.beta[(0 if d.noint else 1):]) + (0 if d.noint else fr.beta[0])
        if (np.abs(own - fr.predict(d.D[:, taken])) > tol * mag).any():
            return
        bad = np.abs(p - xb) > 10 * tol * mag + 1e-12 * (np.abs(xb) + 1)
        if bad.any():
            i = int(np.argmax(bad))
            self.fail("output.pred", "OUTPUT", "%d predictions differ from X*b of the selected "
                      "estimates, e.g. row %d: %r against %r" % (int(bad.sum()), i, p[i], xb[i]))


def _close(a, b, tol):
    return a is not None and math.isfinite(a) and abs(a - b) <= tol


def compare_threads(rec1, rec8):
    """Findings where one and eight threads differ beyond rounding in the selected model's
    tables or choose different effects."""
    out = []
    o1 = rec1["steps"][0]["output"]
    o8 = rec8["steps"][0]["output"]
    for name in ("SelectionSummary", "ParameterEstimates", "ANOVA"):
        t1, t8 = find(o1, name), find(o8, name)
        if len(t1) != len(t8):
            out.append(Finding("threads", name, "%d tables against %d" % (len(t1), len(t8))))
            continue
        for a, b in zip(t1, t8):
            names = [col["name"] for col in a["columns"]]
            if len(a["rows"]) != len(b["rows"]):
                out.append(Finding("threads", name, "%d rows against %d" % (len(a["rows"]), len(b["rows"]))))
                break
            for ra, rb in zip(a["rows"], b["rows"]):
                se = None
                if "StdErr" in names and real(ra[names.index("StdErr")]):
                    se = abs(ra[names.index("StdErr")])
                for cname, va, vb in zip(names, ra, rb):
                    if cname in ("ProbF", "Probt"):
                        continue    # a tail probability near 0 keeps no relative digits
                    if cname == "Estimate" and se and real(va) and real(vb):
                        # an estimate is known to its standard error: compare in that unit
                        if abs(va - vb) > 1e-6 * (abs(va) + se):
                            out.append(Finding("threads", name, "Estimate %r against %r" % (va, vb)))
                            break
                        continue
                    if isinstance(va, str) or isinstance(vb, str) or va is None or vb is None:
                        if va != vb and norm_name(va) != norm_name(vb):
                            out.append(Finding("threads", name, "%r against %r" % (va, vb)))
                            break
                    elif cname in ("tValue", "StandardizedEst", "FValue"):
                        if abs(va - vb) > 1e-6 * (abs(va) + 1):
                            out.append(Finding("threads", name, "%s %r against %r" % (cname, va, vb)))
                            break
                    elif abs(va - vb) > 1e-6 * max(abs(va), abs(vb)) + 1e-9:
                        out.append(Finding("threads", name, "%s %r against %r" % (cname, va, vb)))
                        break
    return out[:3]
