"""Random data sets and programs. A case is drawn from one seed: its data (written as CSV
with every double in full), the program, and what the checks need to know about both (the
effects, which variables are weights, frequencies, folds, BY groups, the method)."""
import numpy as np

CODINGS = ["GLM", "EFFECT", "REF", "ORTHEFFECT", "ORTHREF", "POLY", "ORTHPOLY", "ORDINAL",
           "ORTHORDINAL"]
CLASSIC = ["FORWARD", "BACKWARD", "STEPWISE"]
CRITERIA = ["SL", "AIC", "AICC", "SBC", "ADJRSQ", "CP", "BIC", "PRESS", "CV"]
# Situations the generator leans towards, each a known weak spot of least-squares engines:
# a response far from zero, FORWARD by CV PRESS, a constant column under weights, a wide
# spline, near copies, many levels, the path methods.
SCENARIOS = [("plain", 14), ("farmean", 12), ("cvforward", 14), ("wconst", 10),
             ("widespline", 7), ("nearcopy", 12), ("classes", 12), ("path", 12),
             ("manylevels", 3), ("bigsample", 4)]
# Chosen only by --scenario, never drawn: BACKWARD and STEPWISE by CV PRESS, mostly beside a
# CLASS effect of many levels and often a spline, so that removals' candidates meet folds whose
# columns are nearly dependent (a removal's candidate against the step it makes).
EXTRA_SCENARIOS = ["cvremoval"]


def fmt(v):
    if v is None or (isinstance(v, float) and np.isnan(v)):
        return ""
    if isinstance(v, str):
        return v
    return repr(float(v))


class Case:
    def __init__(self, seed):
        self.seed = seed
        self.rng = np.random.default_rng(seed)
        self.columns = {}        # name -> list of values (float, None or str)
        self.order = []
        self.effects = []        # dicts: name, kind, vars, ncols hint
        self.classes = {}        # class var -> coding
        self.weight = None
        self.freq = None
        self.by = None
        self.fold = None         # INDEX variable
        self.tags = set()
        self.method = "NONE"
        self.options = {}
        self.threads = False

    def add(self, name, values):
        self.columns[name] = list(values)
        self.order.append(name)

    def csv_text(self):
        n = len(self.columns[self.order[0]])
        lines = [",".join(self.order)]
        for i in range(n):
            lines.append(",".join(fmt(self.columns[c][i]) for c in self.order))
        return "\n".join(lines) + "\n"


def pick(rng, items):
    return items[int(rng.integers(len(items)))]


def draw_scenario(rng):
    names = [s for s, _ in SCENARIOS]
    p = np.array([w for _, w in SCENARIOS], float)
    return names[int(rng.choice(len(names), p=p / p.sum()))]


def continuous(case, n, k, far=False):
    rng = case.rng
    xs = []
    for j in range(k):
        scale = 10.0 ** rng.uniform(-2, 2)
        centre = 0.0
        # x1 carries the splines: a spline of degree 60 over values near 1e9 cannot be held
        # in doubles at all (qrx refuses it with a message, as it should)
        if (far or rng.random() < 0.15) and not (j == 0 and case.scenario == "widespline"):
            centre = pick(rng, [1e4, 1e6, -3e7, 1e9]) * rng.uniform(1, 2)
            case.tags.add("farx")
        x = centre + scale * rng.normal(size=n)
        xs.append(x)
        case.add("x%d" % (j + 1), x)
        case.effects.append({"name": "x%d" % (j + 1), "kind": "cont", "vars": ["x%d" % (j + 1)]})
    return xs


def make_response(case, n, xs, extra=None, far=False):
    rng = case.rng
    y = rng.normal(size=n) * 10.0 ** rng.uniform(-1, 1)
    for x in xs:
        if rng.random() < 0.7:
            sd = np.std(x) or 1.0
            y = y + rng.normal() * (x - np.mean(x)) / sd
    if extra is not None:
        y = y + extra
    if far:
        y = y + pick(rng, [1e6, 3.3e7, 1.7e9, -2e8]) * rng.uniform(1, 1.2)
        case.tags.add("farmean")
    elif rng.random() < 0.1:
        y = y + 1e5
    # A response whose whole scale is tiny (a measurement in metres of something small): every
    # sum of squares then lies far below 1 in absolute terms. Drawn from a stream of its own,
    # so that the rest of every seed's case stays as it was.
    if np.random.default_rng([case.seed, 19]).random() < 0.05:
        y = y * 1e-9
        case.tags.add("tinyy")
    return y


def add_class(case, n, levels, name, coding=None):
    rng = case.rng
    g = rng.integers(0, levels, n)
    g[:levels] = np.arange(levels)[: min(levels, n)]
    coding = coding or pick(rng, CODINGS)
    case.add(name, ["L%03d" % (v + 1) for v in g])
    case.classes[name] = coding
    case.effects.append({"name": name, "kind": "class", "vars": [name]})
    return g


def make_data(case):
    rng = case.rng
    sc = case.scenario
    n = int(rng.integers(25, 160))
    if sc == "bigsample":
        n = int(rng.integers(1000, 3000))
    levels = sc == "manylevels" or (sc == "cvremoval" and rng.random() < 0.7)
    if levels:
        n = int(rng.integers(300, 900))
        if rng.random() < 0.25:
            n = int(rng.integers(2200, 2600))   # past a thousand levels
    k = int(rng.integers(2, 7))
    xs = continuous(case, n, k, far=(sc == "farmean" and rng.random() < 0.3))
    extra = np.zeros(n)
    if sc == "classes" or rng.random() < 0.25:
        for c in range(int(rng.integers(1, 3))):
            lv = int(rng.integers(2, 41 if rng.random() < 0.3 else 8))
            g = add_class(case, n, min(lv, n // 3), "g%d" % (c + 1))
            extra += rng.normal(size=g.max() + 1)[g]
    if levels:
        lv = int(rng.integers(120, n // 2)) if n < 2000 else int(rng.integers(1000, 1250))
        g = add_class(case, n, lv, "m1", coding=pick(rng, ["GLM", "EFFECT", "REF"]))
        extra += rng.normal(size=g.max() + 1)[g]
        case.tags.add("manylevels")
        if rng.random() < 0.5:
            # a dense covariate that is nearly a function of the level: sound, to be kept
            z = g.astype(float) + 1e-5 * rng.normal(size=n)
            case.add("z", z)
            case.effects.insert(0, {"name": "z", "kind": "cont", "vars": ["z"]})
    if sc == "nearcopy" or rng.random() < 0.1:
        j = int(rng.integers(len(xs)))
        eps = 10.0 ** rng.uniform(-10, -3)
        z = rng.normal(size=n)
        case.add("c1", xs[j] + eps * np.std(xs[j]) * z)
        case.effects.append({"name": "c1", "kind": "cont", "vars": ["c1"]})
        case.tags.add("nearcopy")
    if rng.random() < 0.12 or sc == "wconst":
        case.add("c0", np.full(n, pick(rng, [3.0, 0.1, 1e6])))
        case.effects.insert(int(rng.integers(len(case.effects) + 1)),
                            {"name": "c0", "kind": "cont", "vars": ["c0"]})
        case.tags.add("constant")
    if rng.random() < 0.1 and len(xs) >= 2:
        case.add("a1", xs[0] + xs[1])
        case.effects.append({"name": "a1", "kind": "cont", "vars": ["a1"]})
        case.tags.add("aliased")
    if sc == "widespline" or rng.random() < (0.5 if sc == "cvremoval" else 0.12):
        deg = int(rng.integers(50, 61)) if sc == "widespline" else int(rng.integers(1, 13))
        opts = "degree=%d" % deg
        if rng.random() < 0.3:
            opts += " knotmethod=equal(%d)" % int(rng.integers(1, 21))
        if rng.random() < 0.3:
            opts += " basis=tpf"
        case.effects.append({"name": "s1", "kind": "spline", "vars": ["x1"], "opts": opts})
        if deg >= 40:
            case.tags.add("widespline")
    if rng.random() < 0.12:
        deg = int(rng.integers(2, 13)) if rng.random() < 0.3 else int(rng.integers(2, 5))
        # its own variable, so that its parameter names are not those of another effect;
        # now and then an exact copy of x2 (the linear term is then aliased)
        v = xs[1] if rng.random() < 0.3 else rng.normal(size=n) * 10.0 ** rng.uniform(-1, 1)
        case.add("v1", v)
        case.effects.append({"name": "p1", "kind": "poly", "vars": ["v1"],
                             "opts": "degree=%d" % deg})
    y = make_response(case, n, xs, extra, far=(sc == "farmean"))
    miss = rng.random() < 0.2
    yv = list(y)
    if miss:
        for i in rng.choice(n, size=max(1, n // 20), replace=False):
            if rng.random() < 0.5:
                yv[i] = None
            else:
                case.columns["x1"][i] = None
        case.tags.add("missing")
    case.add("y", yv)
    if sc in ("wconst", "manylevels", "cvremoval") or rng.random() < 0.25:
        w = rng.uniform(0.5, 2.0, n)
        if rng.random() < 0.5:
            w[rng.choice(n, size=max(1, n // 15), replace=False)] = 0.0
        if rng.random() < 0.5:
            w[rng.choice(n, size=max(1, n // 15), replace=False)] = pick(rng, [1e-9, 1e-6, 1e-4])
        if "manylevels" in case.tags and rng.random() < 0.5:
            last = np.array(case.columns["m1"]) == max(case.columns["m1"])
            w[last] = pick(rng, [1e-8, 1e-6])
        case.add("w", w)
        case.weight = "w"
        case.tags.add("weight")
    if rng.random() < 0.1 and sc not in ("manylevels", "bigsample", "cvremoval"):
        groups = int(rng.integers(2, 4))
        case.add("b", [float(i * groups // n) for i in range(n)])
        case.by = "b"
        case.tags.add("by")
    if rng.random() < 0.15:
        case.add("f", rng.integers(0, 4, n).astype(float))
        case.freq = "f"
        case.tags.add("freq")
    return n


def make_program(case, n):
    rng = case.rng
    sc = case.scenario
    eff = [e["name"] for e in case.effects]
    if sc == "path" or (sc == "nearcopy" and rng.random() < 0.4):
        method = pick(rng, ["LAR", "LASSO", "LASSO", "ADAPTIVE", "ELASTICNET", "GROUPLASSO"])
    elif sc == "cvforward":
        method = "FORWARD"
    elif sc == "cvremoval":
        method = pick(rng, ["BACKWARD", "STEPWISE"])
    elif sc in ("farmean", "wconst", "widespline") and rng.random() < 0.5:
        method = "NONE"
    else:
        method = pick(rng, ["NONE", "FORWARD", "BACKWARD", "STEPWISE", "FORWARD", "STEPWISE"])
    case.method = method
    sel = method.lower()
    cv = None
    if method in CLASSIC:
        crit = "CV" if sc in ("cvforward", "cvremoval") else pick(rng, CRITERIA)
        parts = ["select=%s" % crit]
        if crit == "CV" or rng.random() < 0.5:
            parts.append("stop=none" if rng.random() < 0.6 else "stop=%s" % crit)
        if rng.random() < 0.3:
            parts.append("choose=%s" % pick(rng, ["AIC", "SBC", "CV", "PRESS", "ADJRSQ", "CP"]))
        if rng.random() < 0.15:
            parts.append("maxsteps=%d" % int(rng.integers(1, 6)))
        if rng.random() < 0.15 and len(eff) > 2:
            parts.append("include=%d" % int(rng.integers(1, 3)))
        sel = "%s(%s)" % (method.lower(), " ".join(parts))
        if "CV" in " ".join(parts).upper():
            cv = True
    elif method in ("LAR", "LASSO", "ELASTICNET"):
        parts = ["stop=none"] if rng.random() < 0.7 else []
        if rng.random() < 0.3:
            parts.append("choose=%s" % pick(rng, ["SBC", "AIC", "CV"]))
        if method == "ELASTICNET":
            parts.append("l2=%g" % (10.0 ** rng.uniform(-3, 0)))
        sel = "%s(%s)" % (method.lower(), " ".join(parts))
        cv = "CV" in " ".join(parts).upper()
    elif method == "ADAPTIVE":
        sel = "lasso(adaptive stop=none)"
    elif method == "GROUPLASSO":
        sel = "grouplasso(stop=none)"
    model_opts = ["selection=%s" % sel, "details=all"]
    if method in CLASSIC + ["NONE"]:
        model_opts.append("stats=(aic aicc sbc bic cp adjrsq press ase)")
    noint = rng.random() < 0.07 and method in CLASSIC + ["NONE"]
    if noint:
        model_opts.append("noint")
        case.tags.add("noint")
    case.noint = noint
    foldm = None
    if cv:
        kind = pick(rng, ["SPLIT", "BLOCK", "RANDOM", "INDEX", "SPLIT"])
        k = int(rng.integers(2, 11))
        if kind == "INDEX":
            case.add("fold", list(rng.integers(0, k, n).astype(float)))
            case.fold = "fold"
            model_opts.append("cvmethod=index(fold)")
        else:
            model_opts.append("cvmethod=%s(%d)" % (kind.lower(), k))
        foldm = (kind, k)
        if rng.random() < 0.4:
            model_opts.append("cvdetails=all")
            case.tags.add("cvdetails")
    case.foldm = foldm
    lines = []
    seed = int(rng.integers(1, 10**6))
    lines.append("proc varsifter data=d seed=%d outdesign(fullmodel names)=dz;" % seed)
    if case.classes:
        for c, coding in case.classes.items():
            lines.append("  class %s / param=%s;" % (c, coding))
    for e in case.effects:
        if e["kind"] == "spline":
            lines.append("  effect %s = spline(%s / %s);" % (e["name"], e["vars"][0], e["opts"]))
        if e["kind"] == "poly":
            lines.append("  effect %s = polynomial(%s / %s);" % (e["name"], e["vars"][0],
                                                                 e["opts"]))
    if case.by:
        lines.append("  by %s;" % case.by)
    if case.weight:
        lines.append("  weight %s;" % case.weight)
    if case.freq:
        lines.append("  freq %s;" % case.freq)
    lines.append("  model y = %s / %s;" % (" ".join(eff), " ".join(model_opts)))
    if rng.random() < 0.3:
        lines.append("  performance buildsscp=incremental;")
        case.tags.add("incremental")
    lines.append("  output out=o predicted=p residual=r;")
    lines.append("run;")
    case.program = "\n".join(lines) + "\n"
    case.threads = rng.random() < 0.35


def make_case(seed, scenario=None):
    from . import featgen
    from .regressions import REGRESSIONS
    case = Case(seed)
    # the seeds of mended faults keep the plain cases they were found with
    if scenario is None and seed not in REGRESSIONS:
        scenario = featgen.draw(seed)
    if scenario in featgen.BUILDERS:
        case.scenario = scenario
        featgen.make(case)
        return case
    case.scenario = scenario or draw_scenario(case.rng)
    n = make_data(case)
    make_program(case, n)
    return case
