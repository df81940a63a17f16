"""The independent reference: weighted least squares by Householder QR on centred, scaled
columns (numpy), exact pivots of X'WX by integer arithmetic (Python's integers, Bareiss
elimination), fold refits and leave-one-out residuals, and the criteria by their formulas."""
import collections
import math

import numpy as np
import scipy.linalg

EPS = np.finfo(float).eps


def wmean(v, wf):
    return math.fsum(v * wf) / math.fsum(wf)


class Fit:
    """A least-squares fit of y on the columns X (and an intercept unless noint) with row
    weights wf (weight times frequency)."""

    def __init__(self, X, y, wf, noint):
        self.n_cols = X.shape[1]
        s = np.sqrt(wf)
        if noint:
            cx = np.zeros(X.shape[1])
            cy = 0.0
            A = X * s[:, None]
            b = y * s
        else:
            # Centring by a constant moves only the intercept: the column space with the
            # intercept is unchanged, and x - c is exact for x near c.
            cx = np.array([wmean(X[:, j], wf) for j in range(X.shape[1])])
            cy = wmean(y, wf)
            A = np.column_stack([s, (X - cx) * s[:, None]])
            b = (y - cy) * s
        scale = np.sqrt((A * A).sum(axis=0))
        scale[scale == 0] = 1.0
        As = A / scale
        Q, R = np.linalg.qr(As)
        try:
            self.cond = np.linalg.cond(R) if R.size else 1.0
        except np.linalg.LinAlgError:
            self.cond = np.inf
        try:
            if not (R.size and np.isfinite(self.cond) and self.cond < 1e300):
                raise np.linalg.LinAlgError
            coef = np.linalg.solve(R, Q.T @ b)
            Rinv = np.linalg.inv(R)
        except np.linalg.LinAlgError:   # an exactly singular design: the minimum-norm answer
            coef = robust_lstsq(R, Q.T @ b) if R.size else np.zeros(0)
            Rinv = robust_pinv(R) if R.size else np.zeros((0, 0))
            self.cond = np.inf
        resid = b - As @ coef
        self.scale, self.coef, self.Rinv = scale, coef, Rinv
        self.rhs_norm = float(np.sqrt(b @ b))
        cs = coef / scale
        self.beta_ext = cs.astype(np.longdouble)
        if noint and np.isfinite(self.cond) and R.size:
            sl = s.astype(np.longdouble)[:, None]
            Al, bl = X.astype(np.longdouble) * sl, y.astype(np.longdouble) * sl[:, 0]
            self.beta_ext, resid = refine_far(Al, bl, Q, R, scale, cs)
            cs = self.beta_ext.astype(float)
        self.sse = float(resid @ resid)
        cov_s = Rinv @ Rinv.T        # (As'As)^-1
        covu = cov_s / np.outer(scale, scale)
        if noint:
            self.beta = cs
            self.cov = covu
        else:
            # intercept = cy + a - cx.b
            g = np.concatenate([[1.0], -cx])
            T = np.eye(len(cs))
            T[0, :] = g
            self.a = cs[0]
            self.beta = np.concatenate([[cy + cs[0] - cx @ cs[1:]], cs[1:]])
            self.cov = T @ covu @ T.T
        hq = (Q * Q).sum(axis=1)
        self.h = hq / np.where(wf > 0, wf, 1.0)   # leverage of one copy of the row
        self.resid_raw = resid / np.where(s > 0, s, 1.0)
        self.noint = noint
        self.cx, self.cy = cx, cy

    def predict(self, X):
        """Predictions formed about the centres, free of the cancellation of an intercept
        far from zero against columns far from zero."""
        if self.noint:
            return X @ self.beta
        return self.cy + self.a + (X - self.cx) @ self.beta[1:]

    def residual(self, X, y):
        """The residuals of rows (held out or not) formed on the response less the centre:
        y - cy is exact for y within a factor of two of cy, so a response far from zero
        (1.8e9, where a double's spacing is 2.4e-7) does not round each prediction at its own
        magnitude against residuals near 0.2 (seed 1009957). Without an intercept nothing
        centres the response: the residuals are then formed in extended precision on the
        extended coefficients."""
        if self.noint:
            r = y.astype(np.longdouble) - X.astype(np.longdouble) @ self.beta_ext
            return r.astype(float)
        return (y - self.cy) - (self.a + (X - self.cx) @ self.beta[1:])

    def heldout_spread(self, X, y, wf):
        """How far the weighted held-out residuals (a vector, in 2-norm) may move when the
        fit is solved from cross products summed in double rather than from the rows. With Z
        the training columns centred, weighted and scaled to unit norm, G = Z'Z and g the
        scaled coefficients, sums that err by E (|E| <= 16 eps |G|) and e (16 eps |Z| |b|)
        move g by (G + E)^-1 (e - E g), so a held-out row z moves by z G^-1 (I + E G^-1)^-1
        (e - E g): the bound below, infinite where 16 eps kappa reaches 1. Forming each
        residual in double adds its own rounding, (p + 1) eps times the sum of its terms'
        sizes. A fold whose held-out rows lie where G^-1 is large (a spline's training rows
        nearly dependent, a held-out row off their span) moves by far more than its share of
        16 eps kappa of the total."""
        if not np.isfinite(self.cond):
            return np.inf
        if not self.Rinv.size:
            return 0.0          # no columns: every prediction is 0
        if not np.all(np.isfinite(self.Rinv)):
            return np.inf       # no bound: the old tolerance alone judges the fold
        try:
            return self._spread(X, y, wf)
        except np.linalg.LinAlgError:
            return np.inf

    def _spread(self, X, y, wf):
        s = np.sqrt(wf)
        if self.noint:
            Zh, bh = X * s[:, None], y * s
        else:
            Zh, bh = np.column_stack([s, (X - self.cx) * s[:, None]]), (y - self.cy) * s
        Zh = Zh / self.scale
        u = 16 * EPS
        gnorm = self.cond / np.linalg.norm(self.Rinv, 2)   # ||Z||, R's largest singular value
        kappa = self.cond ** 2
        if u * kappa >= 1:
            return np.inf
        M = Zh @ self.Rinv @ self.Rinv.T                     # z G^-1
        shift = u * (gnorm ** 2 * float(np.linalg.norm(self.coef)) + gnorm * self.rhs_norm)
        if not np.all(np.isfinite(M)):
            return np.inf
        solve = float(np.linalg.norm(M, 2)) * shift / (1 - u * kappa)
        terms = np.abs(bh) + np.abs(Zh) @ np.abs(self.coef)
        form = (Zh.shape[1] + 1) * EPS * float(np.sqrt(terms @ terms))
        return solve + form


def robust_lstsq(A, b):
    """The minimum-norm least-squares solution of A x = b; LAPACK's divide-and-conquer SVD
    behind numpy's lstsq may fail to converge on a badly scaled matrix (a CLASS effect whose
    levels tie a covariate), where a complete orthogonal factorisation by QR with column
    pivoting, which iterates nothing, does not."""
    try:
        return np.linalg.lstsq(A, b, rcond=None)[0]
    except np.linalg.LinAlgError:
        return scipy.linalg.lstsq(A, b, lapack_driver="gelsy")[0]


def robust_pinv(R):
    """The pseudo-inverse of R; LAPACK's divide-and-conquer SVD may fail to converge on a
    badly scaled factor, where the plain QR-iteration SVD does not, and where neither does
    the inverse is unknown (NaN): the fit's variances and ranges then judge nothing."""
    try:
        return np.linalg.pinv(R)
    except (np.linalg.LinAlgError, SystemError):
        pass
    try:
        u, sv, vt = scipy.linalg.svd(R, lapack_driver="gesvd")
    except (np.linalg.LinAlgError, SystemError, ValueError):
        return np.full(R.T.shape, np.nan)
    cut = sv.max(initial=0.0) * max(R.shape) * EPS
    inv = np.where(sv > cut, 1.0 / np.where(sv > cut, sv, 1.0), 0.0)
    return (vt.T * inv) @ u.T


def refine_far(Al, bl, Q, R, scale, cs):
    """Without an intercept nothing centres a response far from zero: the QR solution then
    carries the rounding of the response itself (eps |y|, against residuals many digits
    smaller), and so does any residual formed in double. Two corrections on residuals formed in extended
    precision, the coefficients kept in it, bring the estimates to those of the rows. The
    weighted rows Al, bl come formed in extended precision: y sqrt(w) rounded to a double
    would move a weighted response near 1.8e9 by 1e-7."""
    beta = cs.astype(np.longdouble)
    for _ in range(2):
        r = bl - Al @ beta
        beta = beta + np.linalg.solve(R, Q.T @ r.astype(float)).astype(np.longdouble) / scale
    r = bl - Al @ beta
    return beta, r.astype(float)


def fit(X, y, wf, noint):
    return Fit(X, y, wf, noint)


def min_sse(X, y, wf, noint):
    """The least weighted SSE over the span of X (with the intercept unless noint), by a
    singular value decomposition that keeps every direction down to rounding."""
    s = np.sqrt(wf)
    if noint:
        A, b = X * s[:, None], y * s
    else:
        cx = np.array([wmean(X[:, j], wf) for j in range(X.shape[1])])
        A = np.column_stack([s, (X - cx) * s[:, None]])
        b = (y - wmean(y, wf)) * s
    scale = np.sqrt((A * A).sum(axis=0))
    scale[scale == 0] = 1.0
    coef = robust_lstsq(A / scale, b)
    r = b - (A / scale) @ coef
    return float(r @ r)


def press_sum(X, y, wf, freq, noint):
    """The PRESS sum over the rows that every sound engine keeps, the largest leverage among
    them, the condition of the cross products, and whether some row may fall either side
    of the cut at 1 - h = 1e-8 (such a row adds to PRESS when kept, so the sum is then a
    lower bound). A leverage formed from a factor of the rows errs by about 16 eps cond h,
    an absolute error in 1 - h (from the cross products, eps kappa h): at condition 3.6e7
    a row at 1 - h = 5.3e-10 (seed 244668, a wide spline beside a column near 1.6e9) came
    out 1.45e-8 and was kept, which no fixed band about the cut allows for."""
    f = fit(X, y, wf, noint)
    w = wf / freq
    h1 = f.h * w      # leverage of one copy of the row: w x'(X'WFX)^-1 x
    g = np.abs(1 - h1)
    drift = 16 * EPS * f.cond * np.abs(h1)
    keep = (g > 1e-7) & (g > 1e-8 + drift)
    near = ~keep & ((g > 1e-9) | (g >= 1e-8 - drift))
    r = f.resid_raw
    hmax = float(np.max(h1[keep])) if keep.any() else 0.0
    pr = float(np.sum(freq[keep] * w[keep] * (r[keep] / (1 - h1[keep])) ** 2))
    return pr, hmax, f.cond ** 2, bool(near.any())


def cv_press(X, y, wf, folds, noint):
    """The CV PRESS of fold refits from the rows, the largest condition of a fold's cross
    products, and the range the sum may take when each fold is solved from its cross products
    in double: a fold whose held-out residuals may move by d (a 2-norm, heldout_spread) adds
    between (sqrt(P) - d)^2 and (sqrt(P) + d)^2 for its own P."""
    total = 0.0
    kappa = 1.0
    low = high = 0.0
    centre = np.array([wmean(X[:, j], wf) for j in range(X.shape[1])])
    ycentre = wmean(y, wf)
    for k in sorted(set(folds.tolist())):
        out = folds == k
        tr = ~out
        if tr.sum() == 0:
            continue
        f = fit(X[tr], y[tr], wf[tr], noint)
        kappa = max(kappa, f.cond ** 2)
        r = f.residual(X[out], y[out])
        part = float(np.sum(wf[out] * r * r))
        total += part
        spread = f.heldout_spread(X[out], y[out], wf[out]) + shift_spread(
            f, X[tr], y[tr], wf[tr], X[out], y[out], wf[out], centre, ycentre)
        low += max(0.0, math.sqrt(part) - spread) ** 2
        high += (math.sqrt(part) + spread) ** 2
    return total, kappa, low, high


def criteria(sse, p, n, tss, noint, sigma2=None, sumw=None):
    """The fit criteria by their formulas: n is the number of observations (frequencies
    counted), p the rank, tss the corrected total (uncorrected under NOINT)."""
    out = {}
    if sse > 0:
        out["AIC"] = n * math.log(sse / n) + 2 * p + n + 2
        out["SBC"] = n * math.log(sse / n) + p * math.log(n)
        if n != p + 2:
            out["AICC"] = n * (math.log(sse / n) + 1 + 2 * (p + 1) / (n - p - 2))
    if tss > 0:
        out["RSQUARE"] = max(0.0, 1 - sse / tss) if sse > 0 else 1.0
        if n != p:
            c = n if noint else n - 1
            out["ADJRSQ"] = 1 - c * sse / (tss * (n - p)) if sse > 0 else 1.0
    if sigma2 is not None and sigma2 > 0:
        out["CP"] = sse / sigma2 + 2 * p - n
        if sse > 0:
            q = n * sigma2 / sse
            out["BIC"] = n * math.log(sse / n) + 2 * q * (p + 2 - q)
    if n - p > 0:
        out["RMSE"] = math.sqrt(max(sse, 0) / (n - p))
    if sumw:
        out["ASE"] = sse / sumw
    return out


# ---- exact pivots ----

def _as_ints(cols):
    """Columns of doubles as integers sharing one power of two per column."""
    out = []
    for c in cols:
        fr = [float(v).as_integer_ratio() for v in c]
        den = max(d for _, d in fr)
        out.append([p * (den // d) for p, d in fr])
    return out


def exact_rank(X):
    """The rank of X in exact arithmetic: its doubles as integers, then fraction-free
    (Bareiss) elimination, in which every division is exact."""
    cols = _as_ints([X[:, j] for j in range(X.shape[1])])
    rows = [list(r) for r in zip(*cols)]
    rank, prev = 0, 1
    for c in range(len(cols)):
        piv = next((i for i in range(rank, len(rows)) if rows[i][c] != 0), None)
        if piv is None:
            continue
        rows[rank], rows[piv] = rows[piv], rows[rank]
        p = rows[rank]
        for i in range(rank + 1, len(rows)):
            f = rows[i][c]
            rows[i] = [(a * p[c] - f * b) // prev for a, b in zip(rows[i], p)]
        prev = p[c]
        rank += 1
        if rank == len(rows):
            break
    return rank


def exact_gram(X, wf, noint):
    """S*X'WX - (X'w)(w'X) as Python integers (S the weight sum), or X'WX under NOINT: the
    cross products about the weighted means, times a positive constant that no pivot
    ratio sees."""
    cols = _as_ints([X[:, j] for j in range(X.shape[1])])
    wi = _as_ints([wf])[0]
    k = len(cols)
    wcols = [[a * b for a, b in zip(c, wi)] for c in cols]
    G = [[0] * k for _ in range(k)]
    for i in range(k):
        for j in range(i + 1):
            v = sum(a * b for a, b in zip(wcols[i], cols[j]))
            G[i][j] = G[j][i] = v
    if not noint:
        S = sum(wi)
        m = [sum(c) for c in wcols]
        for i in range(k):
            for j in range(k):
                G[i][j] = S * G[i][j] - m[i] * m[j]
    return G


def pivot_ratios(G, order, extra=(), skip=(), keep_min=0.0):
    """Exact pivots, each over its diagonal, of the columns of `order` swept in turn (a
    column with a zero pivot is left out of the later sweeps), and for each column of
    `extra` its pivot after every column of `order` that was kept. Bareiss elimination
    keeps every entry an integer: after k steps entry (i, j) is the determinant of the k
    kept columns bordered by row i and column j."""
    idx = list(order) + [c for c in extra if c not in order]
    M = {i: {j: G[i][j] for j in idx} for i in idx}
    remaining = list(idx)
    prev = 1
    ratios = {}
    kept = []
    for c in order:
        remaining.remove(c)
        piv = M[c][c]
        diag = G[c][c]
        ratios[c] = 0.0 if diag <= 0 or piv <= 0 else _ratio(piv, prev * diag)
        if piv <= 0 or c in skip or ratios[c] < keep_min:
            continue
        Mc = M[c]
        for a_, i in enumerate(remaining):
            Mi = M[i]
            mic = Mi[c]
            for j in remaining[a_:]:
                v = (Mi[j] * piv - mic * Mc[j]) // prev
                Mi[j] = v
                M[j][i] = v
        prev = piv
        kept.append(c)
    extra_r = {}
    for c in extra:
        diag = G[c][c]
        piv = M[c][c]
        extra_r[c] = 0.0 if diag <= 0 or piv <= 0 else _ratio(piv, prev * diag)
    return ratios, extra_r, kept


def _ratio(a, b):
    """a/b for big integers, as a float (0 when a underflows)."""
    if a == 0:
        return 0.0
    sh = max(a.bit_length(), b.bit_length()) - 60
    if sh > 0:
        a >>= sh
        b >>= sh
        if b == 0:
            return math.inf
    return a / b


def double_pivots(X, wf, noint, order, extra=(), skip=(), raw=()):
    """The same pivots from cross products formed in double about the weighted means, by
    elimination in double: what a sound double-precision sweep can know of them. The columns
    of `raw` are summed as they stand and their sums taken about the means afterwards,
    a_il - a_i1 a_l1 / a_11, as a fit does that keeps them unshifted: those sums carry the
    rounding of the raw products and of the means' term, not only of the spread."""
    if noint:
        A = X * np.sqrt(wf)[:, None]
        G = A.T @ A
    elif not raw:
        cx = np.array([wmean(X[:, j], wf) for j in range(X.shape[1])])
        A = (X - cx) * np.sqrt(wf)[:, None]
        G = A.T @ A
    else:
        cx = np.array([0.0 if j in raw else wmean(X[:, j], wf) for j in range(X.shape[1])])
        A = X - cx
        s = wf @ A
        G = (A * wf[:, None]).T @ A - np.outer(s, s) / np.sum(wf)
    diag = np.diag(G).copy()
    S = G.copy()
    out = {}
    for c in order:
        piv = S[c, c]
        out[c] = piv / diag[c] if diag[c] > 0 else 0.0
        if piv <= 0 or out[c] < 1e-13 or c in skip:
            continue
        v = S[:, c].copy()
        S -= np.outer(v, v) / piv
    for c in extra:
        out[c] = S[c, c] / diag[c] if diag[c] > 0 else 0.0
    return out


def reordered_double_pivots(X, wf, noint, order, extra=(), skip=(), draws=4, seed=0, raw=()):
    """double_pivots of the same rows summed in `draws` other orders (seeded): sums that hold
    every digit a double can and differ only in their rounding. A pivot that moves between
    them is one no sweep of sums in double resolves, whatever order it adds the rows in."""
    rng = np.random.default_rng(seed)
    out = []
    for _ in range(draws):
        p = rng.permutation(X.shape[0])
        out.append(double_pivots(X[p], wf[p], noint, order, extra, skip, raw))
    return out


# ---- group LASSO optimality ----

def standardised(X, wf, n):
    """The columns about their weighted means, each scaled to unit weighted variance (divisor
    n - 1, n the observations): the parameters the group penalty weighs. A column constant
    over the used rows has no scale and is 0; one that varies only in its last digits (a
    spread of 0.01 about 1.3e9) is a column like any other. Also the scales (0 for a
    constant column)."""
    Z = np.zeros_like(X)
    sd = np.zeros(X.shape[1])
    for j in range(X.shape[1]):
        c = X[:, j] - wmean(X[:, j], wf)
        css = math.fsum(wf * c * c)
        if n > 1 and np.ptp(X[wf > 0, j]) > 0 and css > 0:
            sd[j] = math.sqrt(css / (n - 1))
            Z[:, j] = c / sd[j]
    return Z, sd


def group_kkt(Z, yc, wf, b, groups, ratio, tol, floor=1.0):
    """The worst breach of the optimality conditions of
        min 0.5 sum wf (yc - Z b)^2 + tau sum_g sqrt(k_g) |b_g|,  tau = ratio x tau_max,
    tau_max = max_g |Z_g' W yc| / sqrt(k_g) (the penalty at which b = 0 is the solution):
    with g = Z' W (Z b - yc), an active group must have g_g = -tau sqrt(k_g) b_g / |b_g| and
    an inactive one |g_g| <= tau sqrt(k_g). A solver that stops when L |b - prox(b - g / L)|
    is at most t = tol max(tau_max, floor) in every entry (L the step factor, near the largest
    eigenvalue of Z'WZ; floor 1 in the response's own units) leaves an inactive group within
    sqrt(k) t of its bound, and an active one within sqrt(k) t (1 + 2 tau sqrt(k) / (L |b_g|))
    (the direction of b_g against that of its proximal point); twice that is allowed (the
    solver's own L, found by doubling, may fall short of L), and the gradient's rounding adds
    64 eps of the size of its terms. Returns (breach over its allowance, group index) for the
    worst group, and tau_max."""
    st = _group_state(Z, yc, wf, b, ratio, tol, floor, groups)
    worst = (0.0, None)
    for i, g in enumerate(groups):
        miss, allow = _group_miss(st, b, g)
        if miss / allow > worst[0]:
            worst = (miss / allow, i)
    return worst, st["tau_max"]


def group_slack(Z, yc, wf, b, groups, ratio, tol, floor=1.0):
    """For each group left out, how far its gradient lies below its bound, tau sqrt(k) -
    |g_g|, over group_kkt's allowance of it (None for a group in): at most 1 where the
    solver's stop may leave the group out or let it in, so that either is the optimum to
    the solver's tolerance."""
    st = _group_state(Z, yc, wf, b, ratio, tol, floor, groups)
    out = []
    for g in groups:
        if float(np.linalg.norm(b[g])) != 0:
            out.append(None)
            continue
        w = math.sqrt(len(g))
        _, allow = _group_miss(st, b, g)
        out.append((st["tau"] * w - float(np.linalg.norm(st["grad"][g]))) / allow)
    return out


def _group_state(Z, yc, wf, b, ratio, tol, floor, groups):
    Zw = Z * wf[:, None]
    tau_max = max((float(np.linalg.norm(Zw[:, g].T @ yc)) / math.sqrt(len(g)) for g in groups),
                  default=0.0)
    return {"tau_max": tau_max, "tau": ratio * tau_max,
            "lip": max(float(np.linalg.eigvalsh(Z.T @ Zw)[-1]) if Z.size else 0.0, 1e-300),
            "grad": Zw.T @ (Z @ b - yc),
            "size": np.abs(Zw).T @ (np.abs(yc) + np.abs(Z) @ np.abs(b)),
            "t": 2 * tol * max(tau_max, floor)}


def _group_miss(st, b, g):
    """(breach of group g's optimality condition, its allowance) in group_kkt's terms."""
    w = math.sqrt(len(g))
    nb = float(np.linalg.norm(b[g]))
    rounding = 64 * EPS * float(np.linalg.norm(st["size"][g]))
    grad, tau, t = st["grad"], st["tau"], st["t"]
    if nb == 0:
        return float(np.linalg.norm(grad[g])) - tau * w, w * t + rounding
    return (float(np.linalg.norm(grad[g] + tau * w * b[g] / nb)),
            w * t * (1 + 2 * tau * w / (st["lip"] * nb)) + rounding)


def lasso_kkt(Z, yc, wf, b, ridge=0.0, weights=None):
    """How far a knot of a LASSO path on the columns Z breaks its optimality conditions, for
        min 0.5 sum wf (yc - Z b)^2 + 0.5 ridge |b|^2 + lam sum_j |b_j| / a_j
    (a_j the adaptive weights, 1 without them; a column of weight 0 is held at 0): with
    c_j = a_j (Z_j' W (yc - Z b) - ridge b_j), every column in has c_j = lam sign(b_j) and
    every other |c_j| <= lam. The knot's lam is not printed: it is the largest |c_j|, which
    the columns in must all reach. Returns the worst |c_j - lam sign(b_j)| over the columns
    in, relative to the largest |c_j| at b = 0 (0 at the empty model)."""
    a = np.ones(Z.shape[1]) if weights is None else weights
    Zw = Z * wf[:, None]
    c = a * (Zw.T @ (yc - Z @ b) - ridge * b)
    top = float(np.max(np.abs(a * (Zw.T @ yc)), initial=0.0))
    held = (b != 0) & (a > 0)
    if not held.any() or top == 0:
        return 0.0
    lam = float(np.max(np.abs(c[a > 0])))
    return float(np.max(np.abs(c[held] - lam * np.sign(b[held])))) / top


def rows_spread(f, X, y, wf):
    """How far the weighted held-out residuals (a vector, in 2-norm) of rows X, y may move
    when the fit f is solved by a backward-stable factorisation of its own rows: the rows
    and the response err by 16 eps of their norms, which moves the scaled coefficients by
    R^-1 (e - E g) + G^-1 E' r (r the training residual), so a held-out row z moves by
    |z R^-1| 16 eps (|b| + |Z| |g|) + |z G^-1| 16 eps |Z| |r|; infinite where 16 eps times
    the scaled condition reaches 1. A fold's allowance thus follows its own condition, not
    its square: a fold of a many-level design whose training rows are nearly dependent may
    not lose 1e-3 of its held-out error where a factorisation of its rows keeps 1e-9."""
    if not np.isfinite(f.cond):
        return np.inf
    if not f.Rinv.size:
        return 0.0
    if not np.all(np.isfinite(f.Rinv)):
        return np.inf
    u = 16 * EPS
    if u * f.cond >= 1:
        return np.inf
    s = np.sqrt(wf)
    if f.noint:
        Zh, bh = X * s[:, None], y * s
    else:
        Zh, bh = np.column_stack([s, (X - f.cx) * s[:, None]]), (y - f.cy) * s
    Zh = Zh / f.scale
    znorm = f.cond / np.linalg.norm(f.Rinv, 2)
    M1 = Zh @ f.Rinv
    M2 = M1 @ f.Rinv.T
    if not (np.all(np.isfinite(M1)) and np.all(np.isfinite(M2))):
        return np.inf
    gn = float(np.linalg.norm(f.coef))
    solve = (float(np.linalg.norm(M1, 2)) * u * (f.rhs_norm + znorm * gn)
             + float(np.linalg.norm(M2, 2)) * u * znorm * math.sqrt(max(f.sse, 0.0)))
    terms = np.abs(bh) + np.abs(Zh) @ np.abs(f.coef)
    form = (Zh.shape[1] + 1) * EPS * float(np.sqrt(terms @ terms))
    return solve / (1 - u * f.cond) + form


def shift_spread(f, Xtr, ytr, wtr, Xout, yout, wout, centre, ycentre):
    """How far the weighted held-out residuals (a vector, in 2-norm) of a fold may move when
    every value is held as its distance from the fit's centre over all its rows (the columns'
    and the response's weighted means, `centre` and `ycentre`), rounded: each value errs by eps
    times that distance, which is not small against a fold's training spread where a
    held-out row far out on a column pulls the centre (the TPF column of seed 9610198, whose
    training values lie within 1.5e-4 of 0 and whose centre is 0.85, pulled there by one
    held-out row at 19). To first order the scaled coefficients move by G^-1 (Z'(e - E g) +
    E'r), and each held-out row by z G^-1 times that plus its own values' errors."""
    if f.noint or not np.isfinite(f.cond) or not f.Rinv.size or not np.all(np.isfinite(f.Rinv)):
        return 0.0
    u = 0.5 * EPS   # the rounding of one subtraction
    if u * f.cond >= 1:
        return np.inf
    s, so = np.sqrt(wtr), np.sqrt(wout)
    Zh = np.column_stack([s, (Xtr - f.cx) * s[:, None]]) / f.scale
    Zo = np.column_stack([so, (Xout - f.cx) * so[:, None]]) / f.scale
    bh = (ytr - f.cy) * s
    r = bh - Zh @ f.coef
    dZ = np.column_stack([np.zeros(len(ytr)), u * np.abs(Xtr - centre) * s[:, None]]) / f.scale
    dZo = np.column_stack([np.zeros(len(yout)), u * np.abs(Xout - centre) * so[:, None]]) / f.scale
    db = u * np.abs(ytr - ycentre) * s
    dbo = u * np.abs(yout - ycentre) * so
    A = Zo @ f.Rinv @ f.Rinv.T                        # z G^-1, a row per held-out row
    if not np.all(np.isfinite(A)):
        return np.inf
    g = np.abs(f.coef)
    moved = (np.abs(A @ Zh.T) @ (db + dZ @ g) + np.abs(A) @ (dZ.T @ np.abs(r))
             + dZo @ g + dbo)
    return float(np.sqrt(moved @ moved))


def fold_parts(X, y, wf, freq, folds, noint, floor=0.0, nfolds=None):
    """Per fold: its held-out weighted squared error by the refit of its training rows
    ('part'), the range its rows' own conditioning allows ('low', 'high', rows_spread), the
    fit, the scaled condition, the rows fitted and left out, the training rows, and
    the relative accuracy of its estimates ('rel', on the scale of its largest standardised
    coefficient 'big'). Each fold's range is widened by `floor` on either side (a sum held
    to 1e-9 of the corrected total wherever the rows' bound is tighter than that). With
    nfolds the folds are 0 to nfolds - 1, those no row draws among them (a random fold of
    a small BY group) held out of nothing; else the folds the rows hold, numbered in order."""
    out = []
    centre = np.array([wmean(X[:, j], wf) for j in range(X.shape[1])])
    ycentre = wmean(y, wf)
    present = sorted(v for v in set(folds.tolist()) if v >= 0)
    for i, k in enumerate(range(nfolds) if nfolds else present):
        held = folds == k
        tr = ~held
        p = {"fold": k if nfolds else i, "nfit": int(np.sum(tr)), "nout": int(np.sum(held)),
             "train": tr, "fit": None, "cond": np.inf, "part": 0.0, "low": 0.0, "high": np.inf,
             "rel": 1.0, "big": 1.0}
        out.append(p)
        if tr.sum() == 0:
            continue
        f = fit(X[tr], y[tr], wf[tr], noint)
        if not held.any():
            p.update(fit=f, cond=f.cond, high=floor, rel=max(1e-10, 16 * EPS * f.cond ** 2))
            continue
        r = f.residual(X[held], y[held])
        part = float(np.sum(wf[held] * r * r))
        spread = rows_spread(f, X[held], y[held], wf[held]) + shift_spread(
            f, X[tr], y[tr], wf[tr], X[held], y[held], wf[held], centre, ycentre)
        p.update(fit=f, cond=f.cond, part=part,
                 low=(max(0.0, math.sqrt(part) - spread) ** 2 if math.isfinite(spread) else 0.0)
                 - floor,
                 high=(math.sqrt(part) + spread) ** 2 + floor, rel=max(1e-10, 16 * EPS * f.cond ** 2),
                 big=max(1.0, float(np.max(np.abs(f.coef[(0 if noint else 1):]), initial=0.0))
                         / max(f.rhs_norm, 1e-300)))
    return out


def lasso_knots(X, y, wf, rows, lar=False):
    """The LASSO (or LAR) path on the given rows of standardised columns (weighted centres
    and spreads of those rows): the knots' path values lambda / lambda_max, descending from
    1, and a function giving the predictions of any rows at any path value (the
    coefficients are linear in lambda between knots). The path is lar_exact's; where its
    active set is still dependent, that of sklearn's lars_path in double precision."""
    path = lar_exact(X, y, wf, rows, not lar)
    if path is None:
        return lasso_knots_float(X, y, wf, rows, lar)
    knots, centre = path[:2]
    t = np.array([k[0] for k in knots])
    coefs = np.array([k[1] for k in knots]).T
    return t, interpolated(t, coefs, *centre)


def interpolated(t, coefs, xc, sd, yc):
    """The predictions of rows Z at path value g of a path with knots t (descending) and
    coefficients coefs (a column per knot) of the columns standardised by xc and sd."""
    def predict(Z, g):
        """Predictions of the rows Z at path value g (the last knot's below it)."""
        j = int(np.searchsorted(-t, -g, side="left"))
        if j >= len(t):
            b = coefs[:, -1]
        elif j == 0 or t[j] == g:
            b = coefs[:, j]
        else:
            u = (t[j - 1] - g) / (t[j - 1] - t[j])
            b = coefs[:, j - 1] + u * (coefs[:, j] - coefs[:, j - 1])
        return yc + ((Z - xc) / sd) @ b
    return predict


def lasso_knots_float(X, y, wf, rows, lar=False):
    """lasso_knots by sklearn's lars_path in double precision."""
    from sklearn.linear_model import lars_path
    w = wf[rows]
    xc = np.array([wmean(X[rows, j], w) for j in range(X.shape[1])])
    sd = np.sqrt(np.array([wmean((X[rows, j] - xc[j]) ** 2, w) for j in range(X.shape[1])]))
    sd[sd == 0] = 1.0
    yc = wmean(y[rows], w)
    s = np.sqrt(w)[:, None]
    A = (X[rows] - xc) / sd * s
    alphas, _, coefs = lars_path(A, (y[rows] - yc) * s[:, 0], method="lar" if lar else "lasso")
    t = alphas / alphas[0] if alphas[0] > 0 else np.ones(len(alphas))
    return t, interpolated(t, coefs, xc, sd, yc)


def cvex_errors(X, y, wf, folds, k, steps, lar=False):
    """External cross validation along the path: each fold's path fitted without it, its
    held-out weighted mean squared error at every knot of every fold's path (the merged
    grid), averaged over the folds; then at each path value of steps (the whole data's
    knots) the average interpolated linearly between the grid points that bracket it."""
    paths = []
    for f in range(k):
        train, held = folds != f, folds == f
        t, predict = lasso_knots(X, y, wf, train, lar)
        paths.append((t, predict, X[held], y[held], wf[held]))
    grid = np.unique(np.concatenate([p[0] for p in paths]))[::-1]
    curve = np.zeros(len(grid))
    for t, predict, Xh, yh, wh in paths:
        for j, g in enumerate(grid):
            r = yh - predict(Xh, max(g, t[-1]))
            curve[j] += math.fsum(wh * r * r) / math.fsum(wh)
    curve /= k
    return np.interp(-np.asarray(steps), -grid, curve), grid, curve


def _exact_sums(X, y, w):
    """The weighted cross products of the columns of X and y about their weighted means, exact
    (from the doubles as given, by integer arithmetic), as fractions: (S, c, syy, W, means)
    with S the columns' products, c their products with y."""
    from fractions import Fraction
    cols = [X[:, j] for j in range(X.shape[1])] + [y]

    def ints(v):
        pairs = [float(t).as_integer_ratio() for t in v]
        den = max(d for _, d in pairs)
        return [a * (den // d) for a, d in pairs], den
    wi, wd = ints(w)
    ci = [ints(v) for v in cols]
    W = sum(wi)
    sw = [sum(a * b for a, b in zip(wi, v)) for v, _ in ci]
    m = len(ci)
    S = [[None] * m for _ in range(m)]
    for j in range(m):
        wv = [a * b for a, b in zip(wi, ci[j][0])]
        for k in range(j, m):
            raw = sum(a * b for a, b in zip(wv, ci[k][0]))
            # sum w x_j x_k - (sum w x_j)(sum w x_k) / sum w, each term over its denominators
            S[j][k] = S[k][j] = Fraction(raw * W - sw[j] * sw[k], W * wd * ci[j][1] * ci[k][1])
    means = [Fraction(sw[j], W * ci[j][1]) for j in range(m)]
    return S, Fraction(W, wd), means


_PATHS = {}


Knot = collections.namedtuple("Knot", [
    "value", "coef", "active", "change", "sse", "rate", "reach", "meet", "pool", "pulls",
    "drop"])
Knot.__doc__ = """A knot of lar_exact's path. value: lambda over its largest; coef: the
standardised columns' coefficients; active: the count of active columns on the segment that
ends there; change: that segment's change of the coefficients per unit of the path value;
sse: the error SS over the rows' corrected total; rate: for a knot where a column joins,
|s - e|, the rate at which its correlation closes on the active ones' per unit of lambda,
whose inverse is the knot's own conditioning, else 1; reach: lam0 |G_A^-1| over the
segment's active set (p x p, 0 off it): coefficients or a change solved for active
correlations each off by at most d_k (in units of lam0) are off by at most the reach times
d; meet (a p-vector, 0 off the active set): the knot moves by at most the meet times d over
the rate, |G_jA G_A^-1| for a column j that joins, |G_A^-1|'s row over |v_k| for a
coefficient k that reaches 0, 0 at the end; pool: {column: (a, e)} for the columns the next
step may enter but the most correlated, whose correlation is a + g e at path value g near
the knot, in units of lam0 (with ties, else empty); pulls: |G_jA G_A^-1| of those columns
(rows of a p x p array); drop: the fall of lambda over the segment that ends there, in
units of lam0."""


Path = collections.namedtuple("Path", ["knots", "centre", "kappa", "lam0", "band", "syy"])


def lar_exact(X, y, wf, rows, lasso=False, dps=40, unit=None):
    """The LAR (or LASSO) path on the given rows of standardised columns (weighted centres
    and spreads of those rows), computed from exact cross products in dps-digit arithmetic:
    each knot's coefficients solved afresh from its active set, so that no step carries the
    last one's rounding. Returns a Path: the knots (Knot), the centre (xc, sd, yc: the
    columns' centres and spreads and the response's centre), kappa the condition of the
    rows' scaled cross products of the columns the path takes (a column it never takes moves
    none of its knots), lam0 the largest correlation, |x_j'y| of a column scaled to unit
    weighted variance, band the ties' band in units of lam0 (0 without unit) and syy the
    response's weighted sum of squares about its mean. The path ends at the least-squares
    fit, or at the first knot whose error SS is below 1e-8 of the total (a perfect fit). A
    column the active ones span when it catches up (as a GLM-coded CLASS variable's last
    level is spanned by its other levels about the mean) leaves the path by the sweep's rank
    rule. None where an active set's columns are still dependent.

    With unit (the factor that takes these columns to ones of unit sample variance, sqrt(W /
    (N - 1))) the path keeps the engine's rules for ties and its end, in its units (columns of
    unit sample variance, whose correlations are these over unit): at each knot, of the
    columns the next step may enter (those outside and the one that joins or leaves there),
    each within 1e-8 of the response's norm about its mean of the most correlated one
    leaves the path for good; and a step that lowers lambda by no more than that, with a
    joining coefficient that moves no more than that either, ends the path before it."""
    key = (X.tobytes(), y.tobytes(), wf.tobytes(), np.asarray(rows).tobytes(), lasso, unit)
    if key not in _PATHS:
        if len(_PATHS) > 64:
            _PATHS.clear()
        try:
            _PATHS[key] = _lar_exact(X, y, wf, rows, lasso, dps, unit)
        except ZeroDivisionError:
            _PATHS[key] = None
    return _PATHS[key]


def _lar_exact(X, y, wf, rows, lasso, dps, unit):
    import mpmath
    p = X.shape[1]
    S, W, means = _exact_sums(X[rows], y[rows], wf[rows])
    with mpmath.workdps(dps):
        def mp(q):
            return mpmath.mpf(q.numerator) / q.denominator
        sd = [mpmath.sqrt(mp(S[j][j]) / mp(W)) if S[j][j] > 0 else mpmath.mpf(1)
              for j in range(p)]
        G = mpmath.matrix(p, p)
        c = [mp(S[j][p]) / sd[j] for j in range(p)]
        for j in range(p):
            for k in range(p):
                G[j, k] = mp(S[j][k]) / (sd[j] * sd[k])
        centre = (np.array([float(v) for v in means[:p]]), np.array([float(v) for v in sd]),
                  float(means[p]))
        lam0 = max(abs(v) for v in c)
        syy = mp(S[p][p])
        zero = np.zeros(p)
        if lam0 == 0 or syy == 0:
            return Path([Knot(1.0, zero, 0, zero, 1.0, 1.0, np.zeros((p, p)), zero, {},
                              np.zeros((p, p)), 0.0)], centre, condition(G, range(p)),
                        float(lam0), 0.0, float(syy))
        # the engine's band of ties and of a step that does not move, in these units
        band = mpmath.mpf("1e-8") * mpmath.sqrt(syy) * unit if unit else mpmath.mpf(0)
        # the columns that left the path for good: by the band of ties or by the rank rule
        gone = set()
        j0 = max(range(p), key=lambda j: abs(c[j]))
        pool, pulls = _ties((lam0, [(v, 0) for v in c]), {}, j0, gone, band, lam0, G, None, p)
        knots = [Knot(1.0, zero, 0, zero, 1.0, 1.0, np.zeros((p, p)), zero, pool, pulls, 0.0)]
        act, sgn, lam, entering = [j0], {j0: mpmath.sign(c[j0])}, lam0, j0
        taken = {j0}

        def spanned(GA, act, j):
            """Whether the active columns span column j by the sweep's rank rule."""
            r = mpmath.lu_solve(GA, mpmath.matrix([G[i, j] for i in act]))
            left = G[j, j] - mpmath.fsum(G[j, k] * r[i] for i, k in enumerate(act))
            return left <= G[j, j] * mpmath.mpf("1e-8")
        while act:
            GA = mpmath.matrix([[G[i, k] for k in act] for i in act])
            u = mpmath.lu_solve(GA, mpmath.matrix([c[i] for i in act]))
            v = mpmath.lu_solve(GA, mpmath.matrix([sgn[i] for i in act]))
            inv = GA ** -1
            # along the segment b_A = u - l v; an inactive column's correlation is a + l e and
            # joins where it reaches +-l; a LASSO coefficient leaves where it reaches 0
            below = lam * (1 - mpmath.mpf(10) ** (-dps // 2))
            joins = {}
            for j in range(p):
                if j in sgn or j in gone:
                    continue
                a = c[j] - mpmath.fsum(G[j, act[i]] * u[i] for i in range(len(act)))
                e = mpmath.fsum(G[j, act[i]] * v[i] for i in range(len(act)))
                for s in (1, -1):
                    if s - e != 0:
                        t = a / (s - e)
                        if 0 < t < below and t > joins.get(j, (0,))[0]:
                            joins[j] = (t, j, s, abs(s - e))
            drop = (mpmath.mpf(0), None, None, 1)
            if lasso:
                for i, j in enumerate(act):
                    if v[i] != 0:
                        t = u[i] / v[i]
                        if 0 < t < below and t > drop[0]:
                            drop = (t, j, 0, 1)
            # a column that catches up before any coefficient reaches zero and that the
            # active ones span (its sum of squares left after them at most 1e-8 of its own:
            # the sweep's rank rule) leaves the path for good, and the segment runs on to the
            # next catch-up as if it were absent
            while True:
                best = max(joins.values(), key=lambda q: q[0], default=(mpmath.mpf(0), None))
                if best[1] is None or best[0] <= drop[0] or not spanned(GA, act, best[1]):
                    break
                gone.add(best[1])
                del joins[best[1]]
            best = max(list(joins.values()) + [(mpmath.mpf(0), None, None, 1)],
                       key=lambda q: q[0])
            if drop[0] > best[0]:
                best = drop
            before = lam
            lam, j, s, slope = best
            had = len(act)
            bm = [u[i] - lam * v[i] for i in range(had)]
            # a step that moves nothing (lambda and the entering coefficient both within the
            # band, in the engine's units) ends the path before it; one that ends at a zero
            # crossing does not
            if band > 0 and s != 0 and before - lam <= band and (
                    entering is None or abs(bm[act.index(entering)]) * unit * unit <= band):
                break
            b, dv, reach, meet = np.zeros(p), np.zeros(p), np.zeros((p, p)), np.zeros(p)
            for i, k in enumerate(act):
                b[k], dv[k] = float(bm[i]), float(v[i] * lam0)
                for h, m in enumerate(act):
                    reach[k, m] = float(lam0 * abs(inv[i, h]))
            for h, m in enumerate(act):
                if j is not None and s != 0:
                    meet[m] = float(abs(mpmath.fsum(G[j, act[i]] * inv[i, h]
                                                    for i in range(had))))
                elif j is not None:
                    meet[m] = float(abs(inv[act.index(j), h] / v[act.index(j)]))
            # the rows' error SS over their corrected total: y'y - 2 b'c + b'G b
            sse = syy - 2 * mpmath.fsum(bm[i] * c[k] for i, k in enumerate(act)) + mpmath.fsum(
                bm[i] * G[k, m] * bm[h] for i, k in enumerate(act) for h, m in enumerate(act))
            ends = j is None or sse < syy * mpmath.mpf("1e-8")
            pool, pulls = {}, np.zeros((p, p))
            if not ends:
                # each column's correlation along the segment: c - G_kA (u - l v)
                lines = (lam, [(c[k] - mpmath.fsum(G[k, m] * u[i] for i, m in enumerate(act)),
                                mpmath.fsum(G[k, m] * v[i] for i, m in enumerate(act)))
                               for k in range(p)])
                segment = (inv, list(act))
                if s == 0:
                    act.remove(j)
                    del sgn[j]
                else:
                    act.append(j)
                    sgn[j] = s
                taken.add(j)
                entering = j if s != 0 else None
                pool, pulls = _ties(lines, sgn, j, gone, band, lam0, G, segment, p)
            knots.append(Knot(float(lam / lam0), b, had, dv, float(sse / syy), float(slope),
                              reach, meet, pool, pulls, float((before - lam) / lam0)))
            # the path ends at the least-squares end or at a fit within 1e-8 of the total
            if ends:
                break
    return Path(knots, centre, condition(G, sorted(taken)), float(lam0), float(band / lam0),
                float(syy))


def condition(G, cols):
    """The condition of the scaled cross products G of the columns cols."""
    ev = np.linalg.eigvalsh(np.array([[float(G[j, k]) for k in cols] for j in cols], float))
    return ev[-1] / ev[0] if len(ev) and ev[0] > 0 else math.inf


def _ties(lines, sgn, moved, gone, band, lam0, G, segment, p):
    """At a knot: the columns the next step may enter (those outside and moved, the one that
    joins or leaves there) but the most correlated, each with the line of its correlation
    along the segment that ends there in units of lam0, (a, e) for a + g e at path value g,
    and |G_jA G_A^-1| over that segment (inv, its active columns); those whose gap below
    the most correlated one (lambda) lies within band leave the path (gone). ({}, zeros)
    without a band."""
    import mpmath
    pulls = np.zeros((p, p))
    if band <= 0:
        return {}, pulls
    lam, corr = lines
    cand = [k for k in range(p) if k not in gone and (k not in sgn or k == moved)]
    top = max(cand, key=lambda k: abs(corr[k][0] + lam * corr[k][1]))
    pool = {}
    for k in cand:
        if k == top:
            continue
        a, e = corr[k]
        if lam - abs(a + lam * e) < band:
            gone.add(k)
        pool[k] = (float(a / lam0), float(e))
        if segment is not None:
            inv, seg = segment
            for h, m in enumerate(seg):
                pulls[k, m] = float(abs(mpmath.fsum(G[k, seg[i]] * inv[i, h]
                                                    for i in range(len(seg)))))
    return pool, pulls


def enet_knots(Z, yc, wf, ridge):
    """The knots of the elastic-net path on the columns Z (the response yc about its mean):
    the LASSO path of the rows sqrt(wf) Z stacked on sqrt(ridge) I, whose cross products are
    Z'WZ + ridge I; the coefficients at each knot, one column per knot."""
    from sklearn.linear_model import lars_path
    k = Z.shape[1]
    A = np.vstack([Z * np.sqrt(wf)[:, None], math.sqrt(ridge) * np.eye(k)])
    b = np.concatenate([yc * np.sqrt(wf), np.zeros(k)])
    return lars_path(A, b, method="lasso")[2]


GOLDEN = (3 - math.sqrt(5)) / 2     # 2 - the golden ratio: the share of a bracket's larger side


def golden_section(f, a, b, steps):
    """The golden-section search over [a, b] as the elastic net's L2 search runs it: the two
    ends and a point at the golden share, then steps - 3 points each cutting the larger side
    of the bracket about the best so far, until the bracket is within 1e-8 of its points.
    f(x) gives a trial's criterion (None ends the search). Returns the point of the least
    criterion tried (None where the bracket's ends give none)."""
    c = a + (b - a) / (1 + (1 + math.sqrt(5)) / 2)
    fa, fc, fb = f(a), f(c), f(b)
    if fb is None:
        return None
    best, fbest = a, fa
    if fc < fbest:
        best, fbest = c, fc
    if fb < fbest:
        best, fbest = b, fb
    for _ in range(3, steps):
        x = c + GOLDEN * (b - c) if (c - a) < (b - c) else c - GOLDEN * (c - a)
        if abs(b - a) < 1e-8 * (abs(x) + abs(c)):
            break
        fx = f(x)
        if fx is None:
            break
        if fx < fbest:
            best, fbest = x, fx
        if fx < fc:
            fc = fx
            if (b - c) <= (c - a):
                b, c = c, x
            else:
                a, c = c, x
        elif (c - a) < (b - c):
            b = x
        else:
            a = x
    return best


def l2_search(method, lo, hi, steps, crits):
    """The L2 values the elastic net's search tries, given the criteria its trials gave in
    order (a missing one as None), and the L2 it keeps. GRID: lo and then steps - 1 values
    evenly spaced in log10 up to hi (with lo = 0: 0, then steps - 1 values from hi 1e-8, or
    1e-8 when hi is 1 or more, up to hi), ending at a missing criterion. GOLDEN: lo, the
    golden point c = lo + (hi - lo) / (1 + golden ratio) and hi, then each trial at the
    golden share of the bracket's larger side from c, the bracket closing on a trial better
    than c and else shrinking to it, until steps trials (at least three) or a bracket below
    1e-8 of its points. The kept L2 is the first trial of the strictly least criterion.
    Returns (L2 values, kept L2); the values stop early where crits runs out."""
    f = [math.nan if v is None else float(v) for v in crits]
    xs = []

    def trial(x):
        xs.append(x)
        return f[len(xs) - 1] if len(xs) <= len(f) else None

    if method == "GRID":
        s = lo if lo != 0 else (hi * 1e-8 if hi < 1 else 1e-8)
        a, b = math.log10(s), math.log10(hi)
        step = (b - a) / (steps - 1) if lo != 0 else ((b - a) / (steps - 2) if steps >= 3 else 0.0)
        best, fbest = lo, trial(lo)
        for i in range(1, steps):
            if fbest is None:
                break
            v = 10 ** (a + i * step) if lo != 0 else (10 ** (a + (i - 1) * step) if steps >= 3
                                                      else hi)
            fv = trial(v)
            if fv is None or math.isnan(fv) or math.isnan(fbest):
                break
            if fv < fbest:
                best, fbest = v, fv
        return xs, best
    return xs, golden_section(trial, lo, hi, steps)


def off_centre(v, wf, rows):
    """v less its weighted mean over the given rows, before the levels' means are taken:
    v - c is exact for v near c, so a column far from zero (1.8e9, spread 0.07, seed
    7500068 of the cvremoval scenario) does not have its levels' means rounded at its own
    magnitude, an error the within-level fit (without intercept) cannot absorb."""
    return v - wmean(v[rows], wf[rows])


def _within(g, wf, rows):
    """v less its weighted mean within its level over the given rows (those means taken
    on every row), and the levels' weights on those rows."""
    wsum = np.bincount(g[rows], wf[rows], minlength=int(g.max()) + 1)
    safe = np.where(wsum > 0, wsum, 1.0)

    def within(v):
        v = off_centre(v, wf, rows)
        return v - (np.bincount(g[rows], wf[rows] * v[rows], minlength=len(wsum)) / safe)[g]
    return within, wsum


def grouped_press(g, X, y, wf, freq, cond):
    """PRESS of the least-squares fit of y on the columns X and the indicators of the
    levels g (which hold the intercept), as press_sum forms it: the fit is that of the
    columns and response less their means within the levels, and a row's leverage is its
    weight's share of its level's plus its leverage within the levels. cond is the design's
    scaled condition (a column nearly a function of the levels counts). Returns (PRESS,
    largest leverage kept), None where a row may fall either side of the cut."""
    within, wsum = _within(g, wf, np.ones(len(y), bool))
    w = wf / freq
    h1 = w / np.where(wsum > 0, wsum, 1.0)[g]
    r = within(y)
    if X.shape[1]:
        f = fit(np.column_stack([within(X[:, j]) for j in range(X.shape[1])]), r, wf, True)
        if not math.isfinite(f.cond):
            return None
        h1 = h1 + f.h * w
        r = f.resid_raw
    gap = np.abs(1 - h1)
    drift = 16 * EPS * cond * np.abs(h1)
    keep = (gap > 1e-7) & (gap > 1e-8 + drift)
    if (~keep & ((gap > 1e-9) | (gap >= 1e-8 - drift))).any():
        return None
    hmax = float(np.max(h1[keep])) if keep.any() else 0.0
    return float(np.sum(freq[keep] * w[keep] * (r[keep] / (1 - h1[keep])) ** 2)), hmax


def lost_level_weights(codes, have):
    """How a fold whose training rows miss some levels predicts those levels: the intercept
    and the levels' coding rows codes (one row per level) fitted on the levels it has (the
    columns in their order, each refused when the ones before it span it, as the rank rule
    refuses an exactly aliased column), so that a missed level's mean is a fixed combination
    of the others'. Returns the matrix of those combinations (missed levels by levels had),
    None where the taken columns do not span the levels had."""
    lost = np.setdiff1d(np.arange(len(codes)), have)
    A = np.column_stack([np.ones(len(codes)), codes])
    Q, taken = np.zeros((len(have), 0)), []
    for j in range(A.shape[1]):
        a = A[have, j]
        r = a - Q @ (Q.T @ a)
        r = r - Q @ (Q.T @ r)
        if float(r @ r) > 1e-9 * max(float(a @ a), 1e-300):
            taken.append(j)
            Q = np.column_stack([Q, r / math.sqrt(float(r @ r))])
    if len(taken) != len(have):
        return None
    return np.linalg.solve(A[np.ix_(have, taken)].T, A[np.ix_(lost, taken)].T).T


def grouped_fold_parts(g, X, y, wf, folds, floor, codes=None):
    """fold_parts of the fit of y on the columns X and the indicators of the levels g: each
    fold's refit takes the levels' weighted means of its training rows and the within-level
    fit of the columns, and predicts a held-out row by its level's mean plus that fit. A
    level no training row weighs takes the combination of the others' means that the
    levels' coding rows codes give it (lost_level_weights) where that is one level's mean
    (the GLM and REF codings: the last level the fold has); else such a fold is not judged. A fold's allowance is rows_spread of the within-level fit, scaled by how
    much of the columns' spread the levels leave (a column nearly a function of the levels
    loses that much to the levels' sums in the engine's design). None where the rank rule
    may refuse a level's or a column's part in a fold: a level whose later levels weigh
    less than 1e-5 of it with them, a column less than 1e-6 of whose spread the levels
    leave (ten times the least share the rank rule takes)."""
    out = []
    for k in sorted(set(folds.tolist())):
        held, tr = folds == k, folds != k
        wtr = np.bincount(g[tr], wf[tr], minlength=int(g.max()) + 1)
        have = np.flatnonzero(wtr > 0)
        lost = np.setdiff1d(np.arange(len(wtr)), have)
        tail = np.cumsum(wtr[::-1])[::-1][1:]
        on = have[:-1]
        if not len(have) or (tail[on] < 1e-5 * (tail[on] + wtr[on])).any():
            return None
        # the means of every level as the fold's fit gives them: its own training rows' or,
        # for a level it misses, the combination the coding gives
        mix = np.zeros((len(wtr), len(have)))
        mix[have, np.arange(len(have))] = 1.0
        if len(lost) and (wtr[g[held & (wf > 0)]] <= 0).any():
            if codes is None or len(have) > 600:
                return None
            comb = lost_level_weights(codes, have)
            # a combination of many levels' means (EFFECT coding) is as uncertain as its
            # rounding there, which the fold's own conditioning does not bound: not judged
            if comb is None or np.abs(comb).sum(axis=1).max() > 1 + 1e-9:
                return None
            mix[lost] = comb
        safe = np.where(wtr > 0, wtr, 1.0)

        def within(v):
            v = off_centre(v, wf, tr)
            return v - (mix @ (np.bincount(g[tr], wf[tr] * v[tr], minlength=len(wtr))
                               / safe)[have])[g]
        yw = within(y)
        Xw = np.column_stack([within(X[:, j]) for j in range(X.shape[1])]) if X.shape[1] \
            else np.zeros((len(y), 0))
        least = 1.0
        for j in range(X.shape[1]):
            whole = float(np.sum(wf[tr] * (X[tr, j] - wmean(X[tr, j], wf[tr])) ** 2))
            share = float(np.sum(wf[tr] * Xw[tr, j] ** 2)) / whole if whole > 0 else 0.0
            least = min(least, share)
        if least < 1e-6:
            return None
        if X.shape[1]:
            f = fit(Xw[tr], yw[tr], wf[tr], True)
            r = f.residual(Xw[held], yw[held])
            spread = rows_spread(f, Xw[held], yw[held], wf[held]) / math.sqrt(least)
        else:
            r, spread = yw[held], 0.0
        part = float(np.sum(wf[held] * r * r))
        low = (max(0.0, math.sqrt(part) - spread) ** 2 if math.isfinite(spread) else 0.0)
        out.append({"fold": k, "part": part, "low": low - floor,
                    "high": (math.sqrt(part) + spread) ** 2 + floor})
    return out
