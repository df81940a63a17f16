#!/usr/bin/python3
"""Reference steps of FORWARD, BACKWARD and STEPWISE selection for the model-core tests.

Every candidate model is fitted by numpy least squares (rank from the singular values), the
criteria are the textbook formulas (AIC, AICC, SBC, CP, BIC, adjusted R-square, PRESS from
the leverages, the partial F test's log p-value from scipy), and the selection rules are the
stop/entry/removal tests of the selection methods. Writes tests/data/selection/*.csv:
  <name>_design.csv  widths line, then y and the design columns of every row
  <name>_steps.csv   method,criterion,step,effect,rank,sse,rsquare,value
"""
import math
import os
import sys

import numpy as np
from scipy import stats

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "tests", "data", "selection")
DBL_MAX = sys.float_info.max
FUZZ = 1e-12
EPS = 1.110223024625157e-13
SL_ENTRY = 0.15
SL_STAY = 0.15
CRITS = ["SL", "AIC", "AICC", "SBC", "BIC", "CP", "ADJRSQ", "PRESS"]
CODE = {"SL": 1, "AIC": 2, "AICC": 3, "SBC": 4, "ADJRSQ": 6, "CP": 7, "BIC": 8, "PRESS": 9}
MISSING = None


class Problem:
    def __init__(self, y, effects, roles=None):
        # roles: per row 1 TRAIN, 2 VALIDATE, 4 TEST (all TRAIN when not given); the fit and
        # every criterion but VALIDATE use the TRAIN rows, VALIDATE and the test ASE the others.
        self.roles = np.ones(len(y), dtype=int) if roles is None else np.asarray(roles)
        self.all_y = y
        self.all_effects = effects
        train = self.roles == 1
        self.y = y[train]
        self.effects = [e[train] for e in effects]
        self.n = float(train.sum())
        self.cache = {}
        full = self.fit(tuple(range(len(effects))))
        self.sigma2 = full[0] / (self.n - full[1]) if self.n > full[1] else 0.0
        if self.sigma2 < 1.110223024625157e-14:
            self.sigma2 = 0.0
        self.tss = self.fit((0,))[0]

    def fit(self, model):
        key = tuple(sorted(model))
        if key in self.cache:
            return self.cache[key]
        X = np.hstack([self.effects[e] for e in key])
        U, s, Vt = np.linalg.svd(X, full_matrices=False)
        tol = s.max() * 1e-9
        keep = s > tol
        rank = int(keep.sum())
        Uk = U[:, keep]
        fitted = Uk @ (Uk.T @ self.y)
        resid = self.y - fitted
        sse = float(resid @ resid)
        h = (Uk * Uk).sum(axis=1)
        ok = np.abs(1.0 - h) > 1e-8
        press = float(((resid[ok] / (1.0 - h[ok])) ** 2).sum())
        beta = np.linalg.lstsq(X, self.y, rcond=None)[0]
        Xall = np.hstack([self.all_effects[e] for e in key])
        err = self.all_y - Xall @ beta
        ase = []
        for role in (2, 4):
            sel = self.roles == role
            ase.append(float((err[sel] ** 2).sum() / sel.sum()) if sel.any() else MISSING)
        self.cache[key] = (sse, rank, press, ase[0], ase[1])
        return self.cache[key]


def logp(rank0, rank1, sse0, sse1, n):
    sse0, sse1 = max(sse0, 0.0), max(sse1, 0.0)
    if rank1 > rank0:
        diff, df1, df2, den_sse = sse0 - sse1, rank1 - rank0, n - rank1, sse1
    else:
        diff, df1, df2, den_sse = sse1 - sse0, rank0 - rank1, n - rank0, sse0
    if sse0 > 0 and diff / sse0 < 1.110223024625157e-14:
        diff = 0.0
    num, den = diff * df2, den_sse * df1
    if den < 0 or num < 0:
        return MISSING
    if den > 0:
        if df2 <= 0:
            return MISSING
        return float(stats.f.logsf(num / den, df1, df2))
    if num > 0:
        return -708.3964185
    return MISSING


def criterion(P, crit, model, prev):
    sse, p, press, vase, _ = P.fit(model)
    n = P.n
    if crit == "VALIDATE":
        return vase
    if crit == "SL":
        psse, prank = P.fit(prev)[:2]
        return logp(prank, p, psse, sse, n)
    if crit == "AIC":
        return -DBL_MAX if sse <= 0 else n * math.log(sse / n) + 2 * p + n + 2
    if crit == "AICC":
        if n == p + 2:
            return MISSING
        return -DBL_MAX if sse <= 0 else n * (math.log(sse / n) + 1 + 2 * (p + 1) / (n - p - 2))
    if crit == "SBC":
        return -DBL_MAX if sse <= 0 else n * math.log(sse / n) + p * math.log(n)
    if crit == "CP":
        if P.sigma2 <= 0:
            return MISSING
        return sse / P.sigma2 + 2 * p - n
    if crit == "BIC":
        if sse <= 0:
            return MISSING
        q = n * P.sigma2 / sse
        return n * math.log(sse / n) + 2 * q * (p + 2 - q)
    if crit == "ADJRSQ":
        if n == p:
            return MISSING
        return 1 - (n - 1) * sse / (P.tss * (n - p))
    if crit == "PRESS":
        return press
    raise ValueError(crit)


def big(crit):
    return crit == "ADJRSQ"


def better(crit, a, b):
    if a is MISSING or b is MISSING:
        return False
    return a > b if big(crit) else a < b


def eps_better(crit, a, b):
    if a is MISSING or b is MISSING:
        return False
    return a > b + EPS if big(crit) else a < b - EPS


def stop_stands(crit, v, old, d):
    """The STOP test: (stands, new stop value)."""
    if v is MISSING:
        return False, old
    if crit == "SL":
        ok = v < math.log(SL_ENTRY) if d == 1 else v > math.log(SL_STAY)
        return ok, (old if ok else v)
    D = abs(v / 1000 - old / 1000) if old is not MISSING else 0.0
    T = abs(v / 1000) * FUZZ
    if big(crit):
        ok = (D > T and v > old) if d == 1 else (D <= T or v >= old)
    else:
        ok = old is MISSING or ((D > T and v < old) if d == 1 else (D <= T or v <= old))
    return ok, (v if ok else old)


def start_value(P, crit, model):
    return criterion(P, crit, model, model) if crit != "SL" else MISSING


def best_add(P, crit, model):
    best_e, best_v = -1, (-DBL_MAX if big(crit) else DBL_MAX)
    r0 = P.fit(model)[1]
    for e in range(len(P.effects)):
        if e in model:
            continue
        cand = model + [e]
        if P.fit(cand)[1] <= r0:
            continue
        v = criterion(P, crit, cand, model)
        if v is not MISSING and better(crit, v, best_v):
            best_e, best_v = e, v
    return best_e, best_v


def best_drop(P, crit, model, removable):
    best_e = -1
    best_v = -DBL_MAX if (crit == "SL" or big(crit)) else DBL_MAX
    for e in removable:
        cand = [x for x in model if x != e]
        v = criterion(P, crit, cand, model)
        wins = better("SL", best_v, v) if crit == "SL" else better(crit, v, best_v)
        if wins:
            best_e, best_v = e, v
    return best_e, best_v


def record(rows, P, method, crit, step, effect, model, value):
    sse, rank, _, vase, tase = P.fit(model)
    rsq = max(0.0, 1 - sse / P.tss)
    rows.append((method, crit, step, effect, rank, sse, rsq, value, vase, tase))


def forward(P, crit, rows):
    model = [0]
    record(rows, P, "FORWARD", crit, 0, 0, model, MISSING)
    stop = (-DBL_MAX if big(crit) else DBL_MAX) if crit != "SL" else MISSING
    step = 1
    while len(model) < len(P.effects):
        k, v = best_add(P, crit, model)
        if k < 0:
            break
        ok, stop = stop_stands(crit, v, stop, 1)
        if not ok:
            break
        model = model + [k]
        record(rows, P, "FORWARD", crit, step, k, model, v)
        step += 1


def backward(P, crit, rows):
    model = list(range(len(P.effects)))
    record(rows, P, "BACKWARD", crit, 0, -1, model, MISSING)
    stop = start_value(P, crit, model)
    step = 1
    while len(model) > 1:
        k, v = best_drop(P, crit, model, [e for e in model if e != 0])
        if k < 0:
            break
        ok, stop = stop_stands(crit, v, stop, -1)
        if not ok:
            break
        prev = model
        model = [x for x in model if x != k]
        record(rows, P, "BACKWARD", crit, step, k, model, v)
        step += 1


def stepwise(P, crit, rows):
    model = [0]
    record(rows, P, "STEPWISE", crit, 0, 0, model, MISSING)
    stop = start_value(P, crit, model)
    select = stop
    step = 1
    limit = 2 * len(P.effects) + 1
    last_dropped = -1
    while step < limit:
        k, v = best_add(P, crit, model)
        if k < 0 or k == last_dropped:
            break
        enters = v < math.log(SL_ENTRY) if crit == "SL" else eps_better(crit, v, select)
        halt = False
        if enters:
            if crit != "SL":
                select = v
            ok, stop = stop_stands(crit, v, stop, 1)
            if ok:
                model = model + [k]
                record(rows, P, "STEPWISE", crit, step, k, model, v)
                step += 1
                last_dropped = -1
            else:
                halt = True
        else:
            halt = True
        while P.fit(model)[0] > 0 and step < limit:
            j, w = best_drop(P, crit, model, [e for e in model if e != 0])
            if j < 0:
                break
            leaves = w > math.log(SL_STAY) if crit == "SL" else eps_better(crit, w, select)
            if not leaves:
                break
            if crit != "SL":
                select = w
            ok, stop = stop_stands(crit, w, stop, -1)
            if not ok:
                halt = True
                break
            model = [x for x in model if x != j]
            record(rows, P, "STEPWISE", crit, step, j, model, w)
            step += 1
            last_dropped = j
            halt = False
        if halt:
            break


def competitive(P, crit, rows):
    model = [0]
    record(rows, P, "COMPETITIVE", crit, 0, 0, model, MISSING)
    stop = start_value(P, crit, model)
    step = 1
    limit = 2 * len(P.effects) + 1
    last_dropped = -1
    while step < limit:
        ka, va = best_add(P, crit, model)
        if ka < 0:
            break
        kd, vd = best_drop(P, crit, model, [e for e in model if e != 0])
        if kd < 0 or better(crit, va, vd):
            cycling = ka == last_dropped
            last_dropped = -1
            k, v, d = ka, va, 1
        else:
            cycling = False
            last_dropped = kd
            k, v, d = kd, vd, -1
        ok, stop = stop_stands(crit, v, stop, d)
        if not ok:
            break
        model = model + [k] if d == 1 else [x for x in model if x != k]
        record(rows, P, "COMPETITIVE", crit, step, k, model, v)
        step += 1
        if cycling:
            break


def forward_include(P, crit, rows, include=2, steps=3):
    """INCLUDE=include and STEPS=steps: the forced effects are steps 0 .. include, then
    exactly `steps` additions, each the best candidate, with no stop test."""
    model = []
    for k in range(include + 1):
        model = model + [k]
        record(rows, P, "FORWARD_INCLUDE", crit, k, k, model, MISSING)
    for step in range(include + 1, include + 1 + steps):
        k, v = best_add(P, crit, model)
        model = model + [k]
        record(rows, P, "FORWARD_INCLUDE", crit, step, k, model, v)


def least_squares(P, rows):
    model = [0]
    record(rows, P, "NONE", "SBC", 0, 0, model, MISSING)
    for k in range(1, len(P.effects)):
        model = model + [k]
        record(rows, P, "NONE", "SBC", k, k, model, MISSING)


def write(name, P, ys, widths, rows):
    os.makedirs(OUT, exist_ok=True)
    X = np.hstack(P.all_effects)
    with open(os.path.join(OUT, name + "_design.csv"), "w") as f:
        f.write("widths," + ",".join(str(w) for w in widths) + "\n")
        for i in range(X.shape[0]):
            f.write(repr(float(ys[i])) + "," + ",".join(repr(float(v)) for v in X[i]) + "\n")
    with open(os.path.join(OUT, name + "_steps.csv"), "w") as f:
        f.write("method,criterion,step,effect,rank,sse,rsquare,value,validate,test\n")
        for m, c, s, e, r, sse, rsq, v, va, ta in rows:
            vv = "." if v is MISSING else repr(float(v))
            va = "." if va is MISSING else repr(float(va))
            ta = "." if ta is MISSING else repr(float(ta))
            f.write(f"{m},{c},{s},{e},{r},{sse!r},{rsq!r},{vv},{va},{ta}\n")


def run(name, y, effects, roles=None, crits=CRITS):
    P = Problem(y, effects, roles)
    rows = []
    for crit in crits:
        forward(P, crit, rows)
        backward(P, crit, rows)
        stepwise(P, crit, rows)
        competitive(P, crit, rows)
    forward_include(P, "SBC", rows)
    least_squares(P, rows)
    write(name, P, y, [e.shape[1] for e in effects], rows)
    if roles is not None:
        with open(os.path.join(OUT, name + "_roles.csv"), "w") as f:
            f.write("".join({1: "A", 2: "V", 4: "T"}[r] for r in roles) + "\n")


def diabetes():
    path = os.path.join(HERE, "..", "tests", "data", "diabetes.csv")
    data = np.genfromtxt(path, delimiter=",", names=True)
    names = ["AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"]
    y = data["Y"].astype(float)
    effects = [np.ones((len(y), 1))] + [data[v].astype(float).reshape(-1, 1) for v in names]
    run("diabetes", y, effects)
    # A partition: every fourth row validates, every seventh of the others tests.
    roles = [2 if i % 4 == 3 else 4 if i % 7 == 5 else 1 for i in range(len(y))]
    run("partition", y, effects, roles, ["VALIDATE", "SBC", "SL"])


def classdata():
    rng = np.random.default_rng(20261207)
    n = 90
    a = rng.integers(0, 3, n)
    b = rng.integers(0, 4, n)
    x1 = np.round(rng.normal(10, 3, n), 2)
    x2 = np.round(rng.normal(0, 1, n), 2)
    y = np.round(5 + 0.8 * x1 + np.array([0, 1.5, -1.0])[a] + np.array([0, 0, 2.0, -0.5])[b]
                 + 0.7 * (a == 1) * (b == 2) + rng.normal(0, 1.5, n), 3)
    A = np.eye(3)[a]
    B = np.eye(4)[b]
    AB = np.hstack([(A[:, [i]] * B[:, [j]]) for i in range(3) for j in range(4)])
    effects = [np.ones((n, 1)), x1.reshape(-1, 1), A, B, AB, x2.reshape(-1, 1)]
    run("classdata", y, effects)


if __name__ == "__main__":
    diabetes()
    classdata()
