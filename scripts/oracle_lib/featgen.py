"""Cases of the statements and options the plain draw (gen.py) leaves out: data roles,
external validation data, scoring (SCORE, STORE, CODE), model averaging, the penalized
methods' options, constructed and crossed effects, wide splines, CLASS effects of many levels
with covariates tied to the levels, NOINT beside a far response and INDEX folds. Each builder
fills a gen.Case as gen does, so that the checks of check.py apply, and records what the
checks of features.py need (case.feature, case.extra files, case.opt)."""
import math

import numpy as np

from . import gen
from .gen import pick

# Scenario name and its weight among the feature cases.
FEATURES = [("partition", 4), ("extdata", 3), ("scoring", 4), ("modelavg", 3),
            ("penalized", 6), ("effects", 6), ("splines", 4), ("tiedlevels", 3),
            ("nointfar", 3), ("indexcv", 3)]
# The share of the drawn seeds that become feature cases (from a stream of their own, so that
# the other seeds keep the cases they always had).
SHARE = 0.35


def draw(seed):
    """The feature scenario of a seed, or None for a plain case."""
    side = np.random.default_rng([seed, 29])
    if side.random() >= SHARE:
        return None
    names = [s for s, _ in FEATURES]
    p = np.array([w for _, w in FEATURES], float)
    return names[int(side.choice(len(names), p=p / p.sum()))]


def setup(case):
    case.feature = case.scenario
    case.extra = {}          # file name -> CSV text written beside d.csv
    case.opt = {}            # what the feature checks need to know
    case.byvars = None       # BY variables of the program when they are several
    case.noint = False
    case.foldm = None
    case.threads = case.rng.random() < 0.2


def draw_rows(case, n, k, classes=(), far=False, coefs=None):
    """n rows of k continuous variables (x1..xk) and CLASS variables (name, levels, coding),
    and a response from one linear model; returns the columns (not yet added) and y."""
    rng = case.rng
    cols, order = {}, []
    y = rng.normal(size=n) * 10.0 ** rng.uniform(-1, 0.5)
    for j in range(k):
        x = 10.0 ** rng.uniform(-1, 1) * rng.normal(size=n)
        if far:
            x = x + pick(rng, [1e4, -3e6])
        cols["x%d" % (j + 1)] = x
        order.append("x%d" % (j + 1))
        if rng.random() < 0.7:
            y = y + rng.normal() * (x - x.mean()) / (x.std() or 1.0)
    for name, levels, coding in classes:
        g = rng.integers(0, levels, n)
        g[:levels] = np.arange(min(levels, n))
        cols[name] = ["L%03d" % (v + 1) for v in g]
        order.append(name)
        y = y + rng.normal(size=levels)[g]
        case.classes[name] = coding
    return cols, order, y


def add_rows(case, cols, order, rows=slice(None)):
    for name in order:
        v = cols[name]
        case.add(name, list(np.asarray(v, dtype=object)[rows]))


def csv_of(cols, order, rows):
    lines = [",".join(order)]
    for i in rows:
        lines.append(",".join(gen.fmt(cols[c][i]) for c in order))
    return "\n".join(lines) + "\n"


def effects_of(case, order):
    for name in order:
        kind = "class" if name in case.classes else "cont"
        case.effects.append({"name": name, "kind": kind, "vars": [name]})


def ls_selection(case, crits=("SBC", "AIC", "SL", "CP", "ADJRSQ")):
    rng = case.rng
    method = pick(rng, ["FORWARD", "BACKWARD", "STEPWISE"])
    case.method = method
    parts = ["select=%s" % pick(rng, list(crits))]
    if rng.random() < 0.5:
        parts.append("stop=none")
    # competitive stepwise from a stream of its own, so that the cases keep their other draws
    if method == "STEPWISE" and np.random.default_rng([case.seed, 31]).random() < 0.3:
        parts.append("drop=competitive")
        case.tags.add("competitive")
    return method, parts


def program(case, model_opts, before=(), after=(), proc_opts="", model=None):
    rng = case.rng
    lines = ["proc varsifter data=d seed=%d%s outdesign(fullmodel names)=dz;"
             % (int(rng.integers(1, 10 ** 6)), proc_opts)]
    for c, coding in case.classes.items():
        lines.append("  class %s / param=%s;" % (c, coding))
    if case.opt.get("plainclass"):
        lines.append("  class %s;" % " ".join(case.opt["plainclass"]))
    for e in case.effects:
        if "decl" in e:
            lines.append("  effect %s = %s;" % (e["name"], e["decl"]))
    if case.byvars:
        lines.append("  by %s;" % " ".join(case.byvars))
    elif case.by:
        lines.append("  by %s;" % case.by)
    if case.weight:
        lines.append("  weight %s;" % case.weight)
    if case.freq:
        lines.append("  freq %s;" % case.freq)
    lines.extend("  " + b for b in before)
    eff = model or " ".join(e["name"] for e in case.effects)
    lines.append("  model y = %s / %s;" % (eff, " ".join(model_opts)))
    lines.append("  output out=o predicted=p residual=r;")
    lines.extend("  " + a for a in after)
    lines.append("run;")
    case.program = "\n".join(lines) + "\n"


def weights(case, n, share=0.3):
    if case.rng.random() < share:
        case.add("w", case.rng.uniform(0.5, 2.0, n))
        case.weight = "w"
        case.tags.add("weight")


STATS = "stats=(aic aicc sbc bic cp adjrsq ase)"


# ---- data roles ----
def make_partition(case):
    rng = case.rng
    n = int(rng.integers(80, 300))
    k = int(rng.integers(2, 6))
    classes = [("g1", int(rng.integers(2, 6)), pick(rng, ["GLM", "EFFECT", "REF"]))] \
        if rng.random() < 0.5 else []
    cols, order, y = draw_rows(case, n, k, classes)
    add_rows(case, cols, order)
    effects_of(case, order)
    case.add("y", y)
    weights(case, n)
    method, parts = ls_selection(case, ("SBC", "AIC", "SL", "VALIDATE", "CP"))
    if rng.random() < 0.6:
        parts.append("choose=validate")
    if rng.random() < 0.5:
        roles = rng.choice(["TR", "VA", "TE"], size=n, p=[0.55, 0.3, 0.15])
        roles[:3] = ["TR", "VA", "TE"]
        roles[3:3 + k + 8] = "TR"
        case.add("role", list(roles))
        test = " test='TE'" if rng.random() < 0.7 else ""
        if not test:
            roles[roles == "TE"] = "TR"
            case.columns["role"] = list(roles)
        part = "partition rolevar=role(train='TR' validate='VA'%s);" % test
        case.opt["partition"] = "rolevar"
    else:
        part = "partition fraction(validate=%.2f test=%.2f);" % (rng.uniform(0.15, 0.35),
                                                                 rng.uniform(0, 0.2))
        case.opt["partition"] = "fraction"
    case.tags.add("partition")
    program(case, ["selection=%s(%s)" % (method.lower(), " ".join(parts)), "details=all", STATS],
            before=[part])


def make_extdata(case):
    rng = case.rng
    n = int(rng.integers(40, 200))
    nv, nt = int(rng.integers(10, 80)), int(rng.integers(10, 60))
    k = int(rng.integers(2, 6))
    classes = [("g1", int(rng.integers(2, 5)), "GLM")] if rng.random() < 0.5 else []
    cols, order, y = draw_rows(case, n + nv + nt, k, classes)
    cols["y"] = y
    add_rows(case, cols, order, slice(0, n))
    case.add("y", y[:n])
    effects_of(case, order)
    full = order + ["y"]
    case.extra["v.csv"] = csv_of(cols, full, range(n, n + nv))
    case.extra["t.csv"] = csv_of(cols, full, range(n + nv, n + nv + nt))
    case.opt["valdata"] = (cols, full, list(range(n, n + nv)), list(range(n + nv, n + nv + nt)))
    if rng.random() < 0.3:
        case.method = "LASSO"
        sel = "lasso(choose=validate stop=none)"
    else:
        method, parts = ls_selection(case, ("SBC", "AIC", "VALIDATE", "SL"))
        parts.append("choose=validate")
        sel = "%s(%s)" % (method.lower(), " ".join(parts))
    case.tags.add("valdata")
    program(case, ["selection=" + sel, "details=all"], proc_opts=" valdata=v testdata=t")


# ---- SCORE, STORE and CODE ----
def make_scoring(case):
    rng = case.rng
    n = int(rng.integers(40, 200))
    m = int(rng.integers(5, 40))
    k = int(rng.integers(2, 6))
    classes = []
    if rng.random() < 0.6:
        classes.append(("g1", int(rng.integers(2, 6)), pick(rng, ["GLM", "EFFECT", "REF"])))
    cols, order, y = draw_rows(case, n + m, k, classes)
    cols["y"] = y
    add_rows(case, cols, order, slice(0, n))
    case.add("y", y[:n])
    effects_of(case, order)
    weights(case, n, 0.2)
    # scoring rows: new rows, a few rows of the data, one without x1 and, with a CLASS
    # variable, one of a level the fit never met (no prediction for either)
    rows = list(range(n, n + m)) + list(range(0, min(5, n)))
    sc = {c: list(np.asarray(cols[c], dtype=object)[rows]) for c in order + ["y"]}
    sc["x1"][0] = None
    if classes:
        sc["g1"][1] = "L999"
    case.extra["s.csv"] = csv_of(sc, order + ["y"], range(len(rows)))
    case.opt["score"] = (sc, order + ["y"])
    method = pick(rng, ["NONE", "FORWARD", "STEPWISE", "LASSO", "LAR", "ELASTICNET",
                        "GROUPLASSO"])
    case.method = method
    if method in ("FORWARD", "STEPWISE"):
        sel = "%s(select=%s)" % (method.lower(), pick(rng, ["SBC", "AIC", "SL"]))
    elif method == "ELASTICNET":
        sel = "elasticnet(l2=%g choose=sbc)" % 10.0 ** rng.uniform(-3, 0)
    elif method in ("LASSO", "LAR", "GROUPLASSO"):
        sel = "%s(choose=sbc)" % method.lower()
    else:
        sel = "none"
    case.tags.add("scoring")
    program(case, ["selection=" + sel, "details=all"],
            after=["score data=s out=so predicted=ps residual=rs;", "store out=st;",
                   "code file='code.py';"])


# ---- model averaging ----
def make_modelavg(case):
    rng = case.rng
    n = int(rng.integers(50, 200))
    k = int(rng.integers(2, 6))
    classes = [("g1", int(rng.integers(2, 5)), pick(rng, ["GLM", "REF"]))] \
        if rng.random() < 0.4 else []
    cols, order, y = draw_rows(case, n, k, classes)
    add_rows(case, cols, order)
    effects_of(case, order)
    case.add("y", y)
    weights(case, n, 0.2)
    method, parts = ls_selection(case, ("SBC", "AIC", "SL"))
    ns = int(rng.integers(2, 6))
    if rng.random() < 0.6:
        # every sample the whole data: each selects and fits as the data does
        ma = "modelaverage nsamples=%d sampling=srs(percent=100);" % ns
        case.opt["modelavg"] = "whole"
    else:
        ma = "modelaverage nsamples=%d;" % ns
        case.opt["modelavg"] = "urs"
    case.tags.add("modelavg")
    program(case, ["selection=%s(%s)" % (method.lower(), " ".join(parts))], after=[ma])


# ---- options of the penalized methods ----
PENALIZED = ["lscoeffs", "screen", "cvex", "l2search", "qk", "adaptive", "stopl1"]
# Regression seeds of external CV drawn before the long paths were: they keep their programs.
SHORT_PATH_SEEDS = (170, 538, 1673, 9620255)
# Regression seeds of the long paths drawn while each series' own walk was at least 10^-1.5
# of the trend: they keep their programs.
MILD_WALK_SEEDS = (3867, 3255)


def draw_trending(case, n, k):
    """n rows of k series (x1..xk) that share a trend, each at a level far from zero with a
    walk of its own (10^-3 to 1 of the trend's size), and a response nearly their
    combination with effects that decay: the least-angle path's correlations fall by orders
    of magnitude over a dozen knots, down to 1e-9 of their start, while the columns' scaled
    cross products keep a condition of about 1e2 to 1e9; down there columns come within
    1e-8 of the response's scale of the most correlated one, the band of the path's ties."""
    low = -1.5 if case.seed in MILD_WALK_SEEDS else -3
    rng = case.rng
    t = np.linspace(0, 1, n)
    common = np.cumsum(rng.normal(size=n)) / math.sqrt(n) + rng.uniform(0.5, 3) * t
    cols, order = {}, []
    y = 10.0 ** rng.uniform(0, 3) + 10.0 ** rng.uniform(-6, -2.5) * rng.normal(size=n)
    decay = rng.uniform(0.1, 0.5)
    for j in range(k):
        own = np.cumsum(rng.normal(size=n)) / math.sqrt(n)
        x = rng.uniform(0.5, 1.5) * common + 10.0 ** rng.uniform(low, 0) * (
            own + 0.3 * rng.normal(size=n))
        x = 10.0 ** rng.uniform(0, 3) * (x + rng.uniform(-1, 4))
        name = "x%d" % (j + 1)
        cols[name] = x
        order.append(name)
        y = y + pick(rng, [1, -1]) * decay ** j * (x - x.mean()) / (x.std() or 1.0)
    return cols, order, y


def make_penalized(case):
    rng = case.rng
    n = int(rng.integers(40, 250))
    k = int(rng.integers(3, 8))
    what = pick(rng, PENALIZED)
    # the solver's fits beside a CLASS effect of three or more levels half the time
    classes = [("g1", int(rng.integers(2, 6)), pick(rng, ["GLM", "REF", "EFFECT"]))] \
        if rng.random() < 0.35 else []
    if what == "qk" and rng.random() < 0.5:
        classes = [("g1", int(rng.integers(3, 10)), pick(rng, ["GLM", "REF", "EFFECT"]))]
    # half the external CV cases (by a stream of their own) have long paths; the seeds kept
    # as regressions before these were drawn keep their programs
    trend = what == "cvex" and np.random.default_rng([case.seed, 41]).random() < 0.5 \
        and case.seed not in SHORT_PATH_SEEDS
    if trend:
        classes = []
        cols, order, y = draw_trending(case, n, int(rng.integers(10, 16)))
    else:
        cols, order, y = draw_rows(case, n, k, classes)
    add_rows(case, cols, order)
    effects_of(case, order)
    case.add("y", y)
    weights(case, n, 0.2)
    case.opt["penalized"] = what
    case.opt["trend"] = trend
    extra = []
    if what == "lscoeffs":
        sel = "%s(lscoeffs stop=none%s)" % (pick(rng, ["lasso", "lar"]),
                                             pick(rng, ["", " choose=sbc", " choose=aic"]))
    elif what == "screen":
        scr = pick(rng, ["sasvi", "sasvi", "sis(keepnum=%d)" % int(rng.integers(1, k + 1))])
        sel = "lasso(screen=%s stop=none)" % scr
        case.opt["screen"] = scr
    elif what == "cvex":
        method = "lar" if trend else pick(rng, ["lasso", "lar"])
        sel = "%s(choose=cvex stop=none showcvex$)" % method
        kind = pick(rng, ["split", "block", "random"] + ["block"] * trend)
        extra.append("cvmethod=%s(%d)" % (kind, int(rng.integers(3, 8))))
    elif what == "l2search":
        # the lowest draws search from L2 = 0 (the grid then starts at 0 and hi 1e-8)
        how, low = pick(rng, ["grid", "golden"]), rng.uniform(-4, -2)
        sel = "elasticnet(l2search=%s l2low=%g l2high=%g l2steps=%d choose=sbc showl2search$)" % (
            how, 10.0 ** low if low > -3.7 else 0.0, 10.0 ** rng.uniform(-1, 0.5),
            int(rng.integers(2, 7)))
    elif what == "qk":
        l1 = 0.0 if rng.random() < 0.5 else rng.uniform(0.1, 0.9)
        case.opt["l1"] = l1
        sel = "%s(stop=l1 l1=%g l1choice=ratio%s)" % (
            pick(rng, ["qklasso$", "qkglasso$"]), l1, pick(rng, ["", " adaptive"]))
    elif what == "adaptive":
        sel = "%s(adaptive(gamma=%g) stop=none)" % (pick(rng, ["lasso", "lar"]),
                                                   rng.uniform(0.25, 2))
    else:
        sel = "lasso(stop=l1 l1=%g l1choice=%s)" % (rng.uniform(0.1, 0.9),
                                                   pick(rng, ["ratio", "ratio", "norm"]))
    case.method = "PENALIZED"
    case.tags.add("penalized")
    program(case, ["selection=" + sel, "details=all"] + extra)


# ---- crossed, nested and constructed effects, codings, several BY variables ----
def make_effects(case):
    rng = case.rng
    lag = rng.random() < 0.2
    if lag:
        subjects, periods = int(rng.integers(6, 20)), int(rng.integers(4, 10))
        n = subjects * periods
    else:
        n = int(rng.integers(60, 260))
    k = int(rng.integers(3, 6))
    codes = list(rng.permutation(gen.CODINGS)[:2])
    classes = [("g1", int(rng.integers(2, 5)), codes[0]), ("g2", int(rng.integers(2, 5)), codes[1])]
    cols, order, y = draw_rows(case, n, k, classes)
    add_rows(case, cols, order)
    model = []
    chosen = [c for c in ("cross", "classcross", "nested", "collection", "multimember",
                          "twoclass") if rng.random() < 0.4] or ["cross"]
    model += ["x1", "x2", "g1"] + order[2:k]
    if "twoclass" in chosen:
        model.append("g2")
    if "cross" in chosen:
        model.append("x1*x2")
    if "classcross" in chosen:
        model.append(pick(rng, ["x1*g1", "g1*g2"]))
    if "nested" in chosen:
        model.append("x2(g1)")
    if "collection" in chosen and k >= 4:
        case.effects.append({"name": "cl", "kind": "other", "vars": ["x3", "x4"],
                             "decl": "collection(x3 x4)"})
        model = [m for m in model if m not in ("x3", "x4")] + ["cl"]
    if "multimember" in chosen:
        lv = int(rng.integers(2, 6))
        a, b = rng.integers(0, lv, n), rng.integers(0, lv, n)
        case.add("m1", ["A%d" % v for v in a])
        case.add("m2", ["A%d" % v for v in b])
        y = y + 0.5 * rng.normal(size=lv)[a] + 0.5 * rng.normal(size=lv)[b]
        case.opt.setdefault("plainclass", []).extend(["m1", "m2"])
        case.effects.append({"name": "mm", "kind": "other", "vars": ["m1", "m2"],
                             "decl": "multimember(m1 m2)"})
        model.append("mm")
    if lag:
        case.add("subj", ["S%02d" % (i // periods) for i in range(n)])
        case.add("per", [float(i % periods) for i in range(n)])
        case.opt.setdefault("plainclass", []).extend(["subj", "per"])
        case.effects.append({"name": "lg", "kind": "other", "vars": ["g1"],
                             "decl": "lag(g1 / period=per within=subj nlag=%d)"
                             % int(rng.integers(1, 3))})
        model.append("lg")
        chosen.append("lag")
    for m in model:
        if m not in [e["name"] for e in case.effects]:
            kind = "class" if m in case.classes else ("cont" if m in cols else "other")
            case.effects.append({"name": m, "kind": kind, "vars": [m]})
    case.add("y", y)
    weights(case, n, 0.2)
    if not lag and rng.random() < 0.35:
        # several BY variables: the rows sorted by them; the checks see one combined key
        nb = 2 if n < 150 else int(rng.integers(2, 4))
        keys = sorted(tuple(int(v) for v in rng.integers(0, 2, nb)) for _ in range(n))
        for j in range(nb):
            case.add("b%d" % (j + 1), [float(t[j]) for t in keys])
        case.add("bk", [float(sum(v * 2 ** (nb - 1 - j) for j, v in enumerate(t)))
                        for t in keys])
        case.byvars = ["b%d" % (j + 1) for j in range(nb)]
        case.by = "bk"
        case.tags.add("by")
        chosen.append("byvars")
    opts = []
    if any("*" in m or "(" in m for m in model) and rng.random() < 0.6:
        opts.append("hierarchy=%s" % pick(rng, ["single", "singleclass"]))
        chosen.append("hierarchy")
    case.opt["effects"] = chosen
    case.tags.add("effects")
    # a BY group of few rows may saturate the full model: CP and BIC then refuse, soundly
    method, parts = ls_selection(case, ("SBC", "AIC", "SL", "ADJRSQ") if case.byvars else
                                 ("SBC", "AIC", "SL", "CP", "ADJRSQ"))
    if rng.random() < 0.2:
        method, parts = "NONE", []
        case.method = "NONE"
    sel = "%s(%s)" % (method.lower(), " ".join(parts)) if parts else method.lower()
    program(case, ["selection=" + sel, "details=all", STATS] + opts, model=" ".join(
        e["name"] for e in case.effects))


# ---- B-splines and truncated powers of degree 3 to 12 with 5 to 20 knots ----
def make_splines(case):
    rng = case.rng
    n = int(rng.integers(120, 320))
    k = int(rng.integers(2, 4))
    cols, order, y = draw_rows(case, n, k)
    y = y + np.sin(3 * cols["x1"] / (np.std(cols["x1"]) or 1.0))
    add_rows(case, cols, order)
    effects_of(case, order)
    deg, knots = int(rng.integers(3, 13)), int(rng.integers(5, 21))
    opts = "degree=%d knotmethod=equal(%d)%s" % (deg, knots,
                                                  " basis=tpf" if rng.random() < 0.2 else "")
    case.effects.insert(0, {"name": "s1", "kind": "spline", "vars": ["x1"], "opts": opts,
                            "decl": "spline(x1 / %s)" % opts})
    case.effects = [e for e in case.effects if e["name"] != "x1" or rng.random() < 0.5]
    case.add("y", y)
    weights(case, n, 0.2)
    method, parts = ls_selection(case, ("SBC", "AIC", "CP", "BIC", "AICC"))
    case.tags.add("splines")
    program(case, ["selection=%s(%s)" % (method.lower(), " ".join(parts)), "details=all", STATS])


# ---- a CLASS effect of many levels with covariates tied to the levels ----
def make_tiedlevels(case):
    rng = case.rng
    levels = int(rng.integers(100, 400)) if rng.random() < 0.9 else int(rng.integers(1000, 3001))
    per = int(rng.integers(2, 6)) if levels < 1000 else 2
    n = levels * per
    g = np.repeat(np.arange(levels), per)
    rng.shuffle(g)
    mean = rng.normal(size=levels)
    eps = 10.0 ** -rng.uniform(3, 6)
    x1 = mean[g] + eps * rng.normal(size=n)
    x2 = rng.normal(size=n)
    nearfold = rng.random() < 0.4
    if nearfold:
        # nearly a copy of x1 except on the rows of one SPLIT fold: the training rows of the
        # other folds hold x1 and x2 nearly dependent, the held-out ones do not
        k = int(rng.integers(3, 6))
        x2 = x1 + eps * rng.normal(size=n)
        on = np.arange(n) % k == 0
        x2[on] = x1[on] + rng.normal(size=int(on.sum()))
    y = 2 * x1 - x2 + rng.normal(size=levels)[g] + rng.normal(size=n)
    case.add("x1", x1)
    case.add("x2", x2)
    case.add("m1", ["L%04d" % (v + 1) for v in g])
    case.classes["m1"] = pick(rng, ["GLM", "EFFECT", "REF"])
    case.effects = [{"name": "x1", "kind": "cont", "vars": ["x1"]},
                    {"name": "x2", "kind": "cont", "vars": ["x2"]},
                    {"name": "m1", "kind": "class", "vars": ["m1"]}]
    case.add("y", y)
    weights(case, n, 0.3)
    case.tags |= {"manylevels", "tiedlevels"}
    method, parts = ls_selection(case, ("SBC", "CP", "AIC", "CV"))
    extra = []
    if nearfold:
        parts[0] = "select=CV"
    if "select=CV" in parts:
        k = k if nearfold else int(rng.integers(3, 6))
        extra.append("cvmethod=split(%d)" % k)
        case.foldm = ("SPLIT", k)
        case.tags.add("nearfold" if nearfold else "cv")
    program(case, ["selection=%s(%s)" % (method.lower(), " ".join(parts)), "details=all"] + extra)


# ---- NOINT beside a response far from zero ----
def make_nointfar(case):
    rng = case.rng
    n = int(rng.integers(40, 200))
    x1, x2 = rng.normal(size=n), rng.normal(size=n)
    y = pick(rng, [1e9, -3e8, 1e7]) * rng.uniform(1, 2) + 3 * x1 - 2 * x2 + rng.normal(size=n)
    case.add("x1", x1)
    case.add("x2", x2)
    first = []
    if rng.random() < 0.5:
        case.add("c", np.full(n, pick(rng, [1.0, 3.0])))
        first = ["c"]
    else:
        g = rng.integers(0, 4, n)
        g[:4] = np.arange(4)
        case.add("g1", ["L%d" % v for v in g])
        case.classes["g1"] = pick(rng, ["GLM", "EFFECT", "REF"])
        first = ["g1"]
    effects_of(case, first + ["x1", "x2"])
    case.add("y", y)
    case.noint = True
    case.tags |= {"noint", "farmean", "nointfar"}
    method = pick(rng, ["LAR", "LASSO", "FORWARD", "STEPWISE", "NONE"])
    case.method = method
    if method in ("LAR", "LASSO"):
        sel = "%s(stop=none)" % method.lower()
    elif method == "NONE":
        sel = "none"
    else:
        sel = "%s(select=%s stop=none)" % (method.lower(), pick(rng, ["SBC", "AIC", "SL"]))
    program(case, ["selection=" + sel, "noint", "details=all"])


# ---- INDEX folds ----
def make_indexcv(case):
    rng = case.rng
    # few rows beside a cubic's 19 columns: the late steps' folds are nearly saturated
    n = int(rng.integers(40, 70)) if rng.random() < 0.5 else int(rng.integers(70, 250))
    cols, order, y = draw_rows(case, n, 3)
    add_rows(case, cols, order)
    deg = int(rng.integers(2, 4))
    case.effects.append({"name": "pl", "kind": "other", "vars": ["x1", "x2", "x3"],
                         "decl": "polynomial(x1 x2 x3 / degree=%d)" % deg})
    case.add("y", y + 0.3 * cols["x1"] * cols["x2"])
    k = int(rng.integers(3, 11))
    case.add("fold", list(rng.integers(0, k, n).astype(float)))
    case.fold = "fold"
    case.foldm = ("INDEX", k)
    weights(case, n, 0.2)
    case.method = "FORWARD"
    opts = ["selection=forward(select=cv stop=none)", "cvmethod=index(fold)", "details=all"]
    if rng.random() < 0.3:
        opts.append("cvdetails=all")
        case.tags.add("cvdetails")
    case.tags.add("indexcv")
    program(case, opts)


BUILDERS = {"partition": make_partition, "extdata": make_extdata, "scoring": make_scoring,
            "modelavg": make_modelavg, "penalized": make_penalized, "effects": make_effects,
            "splines": make_splines, "tiedlevels": make_tiedlevels, "nointfar": make_nointfar,
            "indexcv": make_indexcv}


def make(case):
    setup(case)
    BUILDERS[case.scenario](case)
