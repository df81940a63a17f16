#!/usr/bin/python3
"""Reference grids for the numerical library tests, computed with mpmath (40 digits) and,
for quantiles, scipy. Writes whitespace-separated text files to tests/data/numerics/, one
case a line, '#' lines are comments. Run: /usr/bin/python3 scripts/gen_numerics_ref.py"""
import os

import mpmath as mp
from scipy import special, stats

mp.mp.dps = 40
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "numerics")


def fmt(v):
    if isinstance(v, mp.mpc):
        return "nan"
    v = float(v)
    if v == float("inf"):
        return "inf"
    if v == float("-inf"):
        return "-inf"
    return repr(v)


def write(name, header, rows):
    with open(os.path.join(OUT, name), "w") as f:
        f.write("# " + header + "\n")
        for r in rows:
            f.write(" ".join(fmt(v) for v in r) + "\n")


def log_or_neg_inf(v):
    return mp.log(v) if v > 0 else mp.mpf("-inf")


def normal():
    zs = [i * 0.37 for i in range(-108, 109)]
    zs += [s * v for v in [1e-10, 4.99, 5.0, 5.01, 8.0, 20.0, 37.5] for s in (1, -1)]
    rows = []
    for z in zs:
        zz = mp.mpf(z)
        lc = mp.log(mp.ncdf(zz))
        ls = mp.log(mp.ncdf(-zz))
        ld = -zz * zz / 2 - mp.log(mp.sqrt(2 * mp.pi))
        rows.append((z, lc, ls, ld))
    write("normal.txt", "z lcdf lsdf ldens", rows)

    xs = [0.0, 1e-20, 1e-16, 0.1, 0.3, 0.46875, 0.47, 1.0, 2.0, 3.9, 4.0, 4.1, 6.0, 10.0, 20.0,
          26.0, 26.5]
    rows = []
    for x in xs + [-v for v in xs if v > 0]:
        rows.append((x, mp.erf(x), mp.erfc(x)))
    write("erf.txt", "x erf erfc", rows)

    ps = [1e-300, 1e-200, 1e-100, 1e-50, 1e-20, 1e-17, 1e-16, 1e-12, 1e-8, 1e-5, 1e-3,
          0.0099, 0.01, 0.0101, 0.02, 0.05, 0.1, 0.2, 0.3, 0.45, 0.5, 0.55, 0.7, 0.9, 0.95,
          0.99, 0.999, 0.999999, 1 - 1e-12]
    rows = []
    for p in ps:
        pp = mp.mpf(p)
        # Solve on the smaller tail, exact in the double value of p.
        q = pp if p <= 0.5 else 1 - pp
        lq = mp.log(q)
        x = mp.findroot(lambda t: mp.log(mp.ncdf(-t)) - lq, mp.sqrt(-2 * lq) + 0.1)
        rows.append((p, -x if p <= 0.5 else x))
    write("probit.txt", "p quantile", rows)

    rows = []
    for x in [-20.0, -10.0, -5.0, -1.0, 0.0, 1.0, 3.0, 4.99, 5.0, 7.0, 10.0, 30.0, 100.0, 1e4]:
        xx = mp.mpf(x)
        rows.append((x, mp.ncdf(-xx) / mp.npdf(xx)))
    write("mills.txt", "x millsratio", rows)

    rows = []
    for x in [0.01, 0.3, 1.0, 1.7, 5.0, 30.0]:
        for lam in [0.1, 1.0, 4.0, 30.0, 300.0]:
            xx, ll = mp.mpf(x), mp.mpf(lam)
            r = mp.sqrt(ll / xx)
            rows.append((x, lam, mp.ncdf(r * (xx - 1)) + mp.exp(2 * ll) * mp.ncdf(-r * (xx + 1))))
    write("invgauss.txt", "x lambda cdf", rows)


def elementary():
    rows = []
    for v in [1e-20, 1e-10, 1e-3, 0.0099, 0.01, 0.0100001, 0.03, 0.03125, 0.0313, 0.5, 1.0,
              10.0]:
        for x in (v, -v):
            l1p = mp.log1p(x)
            rows.append((x, mp.expm1(x), l1p, l1p - x if not isinstance(l1p, mp.mpc) else l1p))
    write("elementary.txt", "x expm1 log1p log1p_minus_x", rows)


def gammas():
    xs = [1e-300, 1e-10, 1e-3, 0.1, 0.5, 0.9, 1.0, 1.2, 1.5, 1.7, 2.0, 2.5, 3.0, 3.5, 5.5, 7.3,
          10.0, 14.9, 15.0, 15.1, 30.0, 100.0, 1e3, 1e5, 1e10, 1e50, 1e300]
    write("lgamma.txt", "x lgamma", [(x, mp.loggamma(x)) for x in xs])
    pairs = [(0.5, 0.5), (1, 1), (2, 3), (0.1, 20), (20, 0.5), (14, 14), (15, 15), (16, 0.001),
             (100, 200), (1e5, 3), (1e10, 1e10), (0.001, 1e6), (3.5, 1e12)]
    write("lbeta.txt", "a b lbeta",
          [(a, b, mp.log(mp.beta(a, b))) for a, b in pairs])


def ibeta():
    params = [0.1, 0.5, 1.0, 2.0, 3.7, 10.0, 50.0, 200.0, 1500.0]
    xs = [1e-6, 0.01, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99, 0.999999]
    rows = []
    for a in params:
        for b in params:
            for x in xs:
                lo, up = beta_pq(a, b, x)
                ld = (a - 1) * mp.log(x) + (b - 1) * mp.log1p(-mp.mpf(x)) - mp.log(mp.beta(a, b))
                rows.append((x, a, b, log_or_neg_inf(lo), log_or_neg_inf(up), ld))
    write("ibeta.txt", "x a b lcdf lsdf ldens", rows)


def gamma_pq(a, x):
    """Regularised P(a, x) and Q(a, x): series below a + 1, Legendre's fraction above
    (modified Lentz), in 70-digit arithmetic."""
    with mp.workdps(70):
        a, x = mp.mpf(a), mp.mpf(x)
        lead = a * mp.log(x) - x - mp.loggamma(a)
        if x < a + 1:
            term = s = 1 / a
            k = 0
            while True:
                k += 1
                term *= x / (a + k)
                s += term
                if term < s * mp.mpf(10) ** -65:
                    break
            P = mp.exp(lead) * s
            lo, up = P, 1 - P
        else:
            tiny = mp.mpf(10) ** -300
            b = x + 1 - a
            c = 1 / tiny
            d = 1 / b
            h = d
            i = 0
            while True:
                i += 1
                an = -i * (i - a)
                b += 2
                d = an * d + b
                d = tiny if d == 0 else d
                c = b + an / c
                c = tiny if c == 0 else c
                d = 1 / d
                delta = d * c
                h *= delta
                if abs(delta - 1) < mp.mpf(10) ** -65:
                    break
            Q = mp.exp(lead) * h
            lo, up = 1 - Q, Q
    # Round to the working precision outside the wider context (see beta_pq).
    return +lo, +up


def gamma_tails():
    shapes = [1e-5, 0.01, 0.1, 0.5, 1.0, 1.5, 3.0, 10.0, 50.0, 100.0, 1e3, 1e5, 1e7]
    ratios = [1e-3, 0.1, 0.5, 0.9, 1.0, 1.1, 2.0, 5.0, 20.0, 150.0, 1000.0]
    rows = []
    for a in shapes:
        for r in ratios:
            x = a * r
            if a >= 1e5 and r not in (0.9, 0.99, 1.0, 1.01, 1.1):
                # keep the huge shapes near their mode, where they are used
                continue
            lo, up = gamma_pq(a, x)
            ld = (a - 1) * mp.log(x) - x - mp.loggamma(a)
            rows.append((x, a, log_or_neg_inf(lo), log_or_neg_inf(up), ld))
    for a in [1e5, 1e7]:
        for r in [0.99, 0.995, 1.005, 1.01]:
            x = a * r
            lo, up = gamma_pq(a, x)
            rows.append((x, a, mp.log(lo), mp.log(up), (a - 1) * mp.log(x) - x - mp.loggamma(a)))
    write("gamma.txt", "x a lcdf lsdf ldens", rows)


def poisson_sum(lam, tails):
    """Sums Poisson(lam)-weighted pairs (lower, upper) = tails(k) over all k that matter:
    outwards from the mode until the terms of both tails are negligible and falling."""
    lam = mp.mpf(lam)
    k0 = int(lam)
    lo = up = mp.mpf(0)
    for direction in (-1, 1):
        k = k0 if direction == -1 else k0 + 1
        prev = None
        while k >= 0:
            w = mp.exp(-lam + k * mp.log(lam) - mp.loggamma(k + 1)) if lam > 0 else mp.mpf(k == 0)
            tl, tu = tails(k)
            tl, tu = w * tl, w * tu
            lo += tl
            up += tu
            small = tl <= lo * mp.mpf(10) ** -45 and tu <= up * mp.mpf(10) ** -45
            if small and prev is not None and tl <= prev[0] and tu <= prev[1]:
                break
            prev = (tl, tu)
            k += direction
    return lo, up


def ncchi_tails(x, df, nc):
    x, df, nc = mp.mpf(x), mp.mpf(df), mp.mpf(nc)
    lo, up = poisson_sum(nc / 2, lambda k: gamma_pq(df / 2 + k, x / 2))
    nu = df / 2 - 1
    ld = mp.log(mp.mpf(1) / 2) - (x + nc) / 2 + nu / 2 * mp.log(x / nc) + \
        mp.log(mp.besseli(nu, mp.sqrt(nc * x)))
    return mp.log(lo), mp.log(up), ld


def chisq():
    rows = []
    for df in [1.0, 3.0, 10.0, 50.0]:
        for nc in [0.5, 5.0, 50.0, 400.0, 600.0, 2000.0]:
            for r in [0.2, 0.5, 1.0, 1.5, 3.0]:
                x = r * (df + nc)
                rows.append((x, df, nc) + ncchi_tails(x, df, nc))
    write("ncchisq.txt", "x df nc lcdf lsdf ldens", rows)


def ncf_tails(f, d1, d2, nc):
    f, d1, d2, nc = mp.mpf(f), mp.mpf(d1), mp.mpf(d2), mp.mpf(nc)
    w = d1 * f / (d1 * f + d2)
    lo, up = poisson_sum(nc / 2, lambda k: beta_pq(d1 / 2 + k, d2 / 2, w))
    return mp.log(lo), mp.log(up)


def beta_pq(a, b, x):
    """Regularised I_x(a, b) and 1 - I_x(a, b) by the continued fraction of the incomplete
    beta (modified Lentz) on the tail where it converges, in 80-digit arithmetic."""
    with mp.workdps(80):
        a, b, x = mp.mpf(a), mp.mpf(b), mp.mpf(x)
        swap = x > (a + 1) / (a + b + 2)
        if swap:
            a, b, x = b, a, 1 - x
        lead = a * mp.log(x) + b * mp.log1p(-x) - mp.log(mp.beta(a, b)) - mp.log(a)
        tiny = mp.mpf(10) ** -300
        qab, qap, qam = a + b, a + 1, a - 1
        c = mp.mpf(1)
        d = 1 - qab * x / qap
        d = 1 / (tiny if d == 0 else d)
        h = d
        m = 0
        while True:
            m += 1
            m2 = 2 * m
            aa = m * (b - m) * x / ((qam + m2) * (a + m2))
            d = 1 + aa * d
            d = 1 / (tiny if d == 0 else d)
            c = 1 + aa / c
            c = tiny if c == 0 else c
            h *= d * c
            aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2))
            d = 1 + aa * d
            d = 1 / (tiny if d == 0 else d)
            c = 1 + aa / c
            c = tiny if c == 0 else c
            delta = d * c
            h *= delta
            if abs(delta - 1) < mp.mpf(10) ** -70:
                break
        small = mp.exp(lead) * h
        lo, up = (1 - small, small) if swap else (small, 1 - small)
    # Round to the working precision outside the wider context: mpmath's log misbehaves on
    # values that keep more bits than the current precision.
    return +lo, +up


def ftails():
    dfs = [1.0, 2.0, 3.0, 5.0, 10.0, 30.0, 100.0, 1e4, 1e6]
    fs = [1e-4, 0.01, 0.5, 1.0, 2.0, 5.0, 50.0, 1e4]
    rows = []
    for d1 in dfs:
        for d2 in dfs:
            for f in fs:
                w = mp.mpf(d1) * f / (mp.mpf(d1) * f + d2)
                lo, up = beta_pq(d1 / 2, d2 / 2, w)
                rows.append((f, d1, d2, 0.0, log_or_neg_inf(lo), log_or_neg_inf(up)))
    for d1, d2, f in [(3.0, 2e7, 1.0), (3.0, 2e7, 3.5), (1.0, 5e8, 9.0), (2e7, 10.0, 1.3),
                      (5e8, 4.0, 0.8), (1e6, 1e6, 1.0), (1e6, 1e6, 1.003), (5e5, 2e6, 0.995)]:
        w = mp.mpf(d1) * f / (mp.mpf(d1) * f + d2)
        lo, up = beta_pq(d1 / 2, d2 / 2, w)
        rows.append((f, d1, d2, 0.0, mp.log(lo), mp.log(up)))
    for d1, d2, nc, f in [(3.0, 10.0, 1.0, 1.0), (3.0, 10.0, 10.0, 4.0), (5.0, 20.0, 100.0, 25.0),
                          (2.0, 50.0, 30.0, 2.0), (4.0, 30.0, 50.0, 40.0)]:
        rows.append((f, d1, d2, nc) + ncf_tails(f, d1, d2, nc))
    write("ftail.txt", "f df1 df2 nc lcdf lsdf", rows)


def bessel():
    rows = []
    for nu in [0.0, 0.5, 1.0, 2.0, 5.5, 12.5, 20.0, 36.0, 40.0, 100.0, 1000.0]:
        for x in [0.1, 1.0, 5.0, 10.0, 16.9, 17.0, 20.0, 50.0, 100.0, 1000.0, 1e4]:
            rows.append((nu, x, mp.log(mp.besseli(nu, x))))
    write("bessel.txt", "nu x logI", rows)


def quantiles():
    rows = []
    for a in [0.5, 1.0, 3.0, 10.0, 100.0, 1e4]:
        for p in [1e-10, 0.01, 0.3, 0.5, 0.9, 0.999]:
            rows.append((a, p, special.gammaincinv(a, p), special.gammainccinv(a, p)))
    write("gammaq.txt", "a p x_lower x_upper", rows)
    rows = []
    for a, b in [(0.5, 0.5), (1.0, 1.0), (2.0, 1.0), (2.0, 5.0), (0.3, 4.0), (10.0, 10.0),
                 (50.0, 3.0), (200.0, 300.0)]:
        for p in [1e-8, 0.01, 0.3, 0.5, 0.9, 0.999]:
            rows.append((a, b, p, special.betaincinv(a, b, p), special.betaincinv(a, b, 1 - p)))
    write("betaq.txt", "a b p x_lower x_upper(q=p)", rows)
    rows = []
    for df, nc in [(1.0, 0.0), (4.0, 0.0), (30.0, 0.0), (3.0, 5.0), (10.0, 40.0)]:
        for p in [0.01, 0.3, 0.5, 0.9, 0.999]:
            if nc == 0.0:
                lo, up = stats.chi2.ppf(p, df), stats.chi2.isf(p, df)
            else:
                lo, up = stats.ncx2.ppf(p, df, nc), stats.ncx2.isf(p, df, nc)
            rows.append((df, nc, p, lo, up))
    write("chisqq.txt", "df nc p x_lower x_upper", rows)
    rows = []
    for d1, d2 in [(1.0, 10.0), (3.0, 20.0), (10.0, 5.0), (30.0, 100.0)]:
        for p in [0.01, 0.3, 0.5, 0.9, 0.999]:
            rows.append((d1, d2, p, stats.f.ppf(p, d1, d2), stats.f.isf(p, d1, d2)))
    write("fq.txt", "df1 df2 p x_lower x_upper", rows)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    normal()
    elementary()
    gammas()
    ibeta()
    gamma_tails()
    chisq()
    ftails()
    bessel()
    quantiles()
