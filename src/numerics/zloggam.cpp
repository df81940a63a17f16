// Log incomplete gamma. The route depends on where x lies relative to a: a power series
// below, Legendre's continued fraction above, a second fraction for huge shapes, an
// asymptotic series far in the upper tail, the Wilson-Hilferty approximation near the mode
// of huge shapes, and an integral when everything else fails.
#include "numerics/zloggam.h"

#include "numerics/zelementary.h"
#include "numerics/zgammaq.h"
#include "numerics/zhrdys.h"
#include "numerics/zlgamma.h"
#include "numerics/znormal.h"

#include <cmath>

namespace {
constexpr double kTolFloor = 5.551115123125785e-16;
constexpr double kDispatchTolFloor = 8.881784197001256e-16;
constexpr double kRescaleHigh = 1.3407807929943e154;
constexpr double kRescaleLow = 1.491668147e-154;

// Rescales the four running terms by 2^-e when the reference term leaves the safe range.
void rescale(double ref, double* a1, double* a0, double* b1, double* b0) {
  double m = std::fabs(ref);
  if (m > kRescaleHigh || (m < kRescaleLow && m != 0.0)) {
    int e;
    std::frexp(ref, &e);
    *a1 = std::ldexp(*a1, -e);
    *a0 = std::ldexp(*a0, -e);
    *b1 = std::ldexp(*b1, -e);
    *b0 = std::ldexp(*b0, -e);
  }
}

// Series x * sum x^n / (a (a+1) ... (a+n)); false when more than 1999 terms were needed.
[[nodiscard]] bool series(double x, double a, double tol, double* s) {
  double t = 1.0 / a, sum = t;
  int32_t n = 1;
  for (; n <= 2001; ++n) {
    t = t * x / (a + n);
    sum += t;
    if (!(t / sum > tol))
      break;
  }
  *s = x * sum;
  return n <= 1999;
}

// Legendre's continued fraction of the upper tail; false when 1000 or more steps were taken.
[[nodiscard]] bool firstFraction(double x, double a, double tol, double* f) {
  double Am1 = 0.0, A0 = 1.0, Bm1 = 1.0, B0 = 1.0, prev = 1.0, cur = 1.0;
  int32_t n = 1;
  for (; n <= 1001; ++n) {
    int32_t k = (n + 1) / 2;
    double c = (n & 1) ? (k - a) / x : k / x;
    double A = A0 + c * Am1, B = B0 + c * Bm1;
    Am1 = A0;
    Bm1 = B0;
    A0 = A;
    B0 = B;
    cur = A0 / B0;
    if (std::fabs(cur - prev) < tol * cur)
      break;
    prev = cur;
    rescale(Am1, &A0, &Am1, &B0, &Bm1);
  }
  *f = cur;
  return n < 1000;
}

// The second fraction for the lower tail; false when it reaches 1000 steps.
[[nodiscard]] bool secondFraction(double x, double a, double tol, double* s) {
  double Am1 = x / a, A0 = x / a, Bm1 = 1.0, B0 = 1.0 - x / (a + 1.0);
  double prev = A0 / B0, cur = prev;
  double m = a + 1.0, k = 0.0;
  int32_t n = 2;
  for (; n < 1000; ++n) {
    m += 1.0;
    double c;
    if ((n & 1) == 0) {
      k += 1.0;
      c = (k / m) * (x / (m - 1.0));
    } else {
      c = -((k + a) / m) * (x / (m - 1.0));
    }
    double A = A0 + c * Am1, B = B0 + c * Bm1;
    Am1 = A0;
    Bm1 = B0;
    A0 = A;
    B0 = B;
    cur = A0 / B0;
    if (std::fabs(cur - prev) < tol * std::fabs(cur))
      break;
    prev = cur;
    rescale(Am1, &A0, &Am1, &B0, &Bm1);
  }
  *s = cur;
  return n < 1000;
}
} // namespace

double SpecialLog1PlusX(double x) { return x == -1.0 ? kLogZero : zln1px(x); }

namespace gammafamily {

double wilhil(double x, double a) {
  // Wilson-Hilferty cube-root normal approximation of P(a, x) for huge shapes.
  double z = (std::pow(x / a, 0.3333333333333333) - 1.0 + 1.0 / (9.0 * a)) * std::sqrt(9.0 * a);
  return zprbnrm(z);
}

int32_t lwilhil(GamRequest* req) {
  const double a = req->a;
  double z =
      (std::pow(req->x / a, 0.3333333333333333) - 1.0 + 1.0 / (9.0 * a)) * std::sqrt(9.0 * a);
  double dens;
  return zlognrm(&req->lcdf, &req->lsdf, &dens, z);
}

namespace {
// General route: series, fractions or the normal approximation. Works on a possibly
// raised shape; the caller restores it.
[[nodiscard]] int32_t generalRoute(GamRequest* req) {
  const double x = req->x;
  bool shift = false;
  if (req->a < 1.0) {
    req->shiftBase = req->a;
    req->a += 1.0;
    shift = true;
  } else {
    req->shiftBase = req->a - 1.0;
  }
  const double a = req->a;
  double L;
  if (a < 10.0 || std::fabs(x / a - 1.0) > 0.3)
    L = req->shiftBase * std::log(x) - (zlgamma(a) + x);
  else
    L = zlgammaModeTerm(x, a) - (zlgbern(a) + 0.5 * std::log(a)) - kLnSqrt2Pi;

  if (a >= 1e9 && std::fabs(x - a) <= 0.7 * std::sqrt(a) + 0.02 * a) {
    req->method = GAM_NORMAL_APPROX;
    int32_t st = lwilhil(req);
    req->ldens = shift ? L + std::log(req->shiftBase) - std::log(x) : L;
    return st;
  }
  if (x > a && x > 1.0) {
    req->method = GAM_FIRST_FRACTION;
    double f;
    if (!firstFraction(x, a, req->tol, &f))
      return 1;
    req->work = f;
    if (!shift) {
      if (!(f > 0.0))
        return 1;
      req->lsdf = std::log(f) + L;
    } else {
      if (!(f > 1.0))
        return 1;
      req->lsdf = std::log(f - 1.0) + L;
    }
    req->lcdf = zln1mexp(req->lsdf);
  } else {
    double s;
    bool ok;
    if (a >= 1e9) {
      req->method = GAM_SECOND_FRACTION;
      ok = secondFraction(x, a, req->tol, &s);
    } else {
      req->method = GAM_SERIES;
      ok = series(x, a, req->tol, &s);
      if (!ok) {
        req->method = GAM_SECOND_FRACTION;
        ok = secondFraction(x, a, req->tol, &s);
      }
    }
    if (!ok)
      return 1;
    req->work = s;
    if (!shift) {
      if (!(s > 0.0))
        return 1;
      req->lcdf = std::log(s) + L;
    } else {
      req->lcdf = SpecialLog1PlusX(s) + L;
    }
    req->lsdf = zln1mexp(req->lcdf);
  }
  req->ldens = shift ? L + std::log(req->shiftBase) - std::log(x) : L;
  return 0;
}

// Asymptotic series of the upper tail for x >= 100 a.
[[nodiscard]] int32_t asymptoticRoute(GamRequest* req) {
  const double x = req->x, a = req->a;
  double S = 0.0, term = 1.0;
  int32_t n = 1;
  bool met = false;
  for (; n <= 100; ++n) {
    term = term * (a - n) / x;
    S += term;
    if (!(std::fabs(term) > 1e-12 * std::fabs(S))) {
      met = n <= 98;
      break;
    }
  }
  if (!met)
    return 1;
  double lg = zlgamma(a);
  req->ldens = (a - 1.0) * std::log(x) - (lg + x);
  req->lsdf = SpecialLog1PlusX(S) - x + (a - 1.0) * std::log(x) - lg;
  req->lcdf = zln1mexp(req->lsdf);
  req->method = GAM_ASYMPTOTIC;
  return 0;
}

struct GamIntegrandContext {
  IntegrationRecord* rec;
  double shiftBase;
  double x;
};

// t^shiftBase e^-t at t = x + u, relative to x^shiftBase e^-x, in the exponent form of the
// integrator. Taking the offset u as the variable keeps the exponent free of the
// cancellation between shiftBase ln t and t, which for shapes near 1e7 would cost 1e-8.
[[nodiscard]] int32_t fntrgam(double u, void* context, double* value) {
  auto* c = static_cast<GamIntegrandContext*>(context);
  double v = c->shiftBase * zln1px(u / c->x) - u;
  return zhrdysExponentValue(c->rec, v, value);
}

// Log density of the working shape a at x, with shiftBase the power of x (as in the
// general route).
double logPrefactor(double x, double a, double shiftBase) {
  if (a < 10.0 || std::fabs(x / a - 1.0) > 0.3)
    return shiftBase * std::log(x) - (zlgamma(a) + x);
  return zlgammaModeTerm(x, a) - (zlgbern(a) + 0.5 * std::log(a)) - kLnSqrt2Pi;
}
} // namespace

int32_t zintgam(GamRequest* req) {
  const double x = req->x;
  bool shift = false;
  double a = req->a;
  if (a < 1.0) {
    req->shiftBase = a;
    a += 1.0;
    shift = true;
  } else {
    req->shiftBase = a - 1.0;
  }
  if (!(x > 0.0))
    return 1;
  IntegrationRecord rec{};
  GamIntegrandContext ctx{&rec, req->shiftBase, x};
  // The half line [x, inf) in the offset u = t - x.
  rec.mode = 2;
  rec.lower = 0.0;
  rec.testType = 1;
  rec.tol = req->tol;
  rec.maxLevels = 30;
  rec.initialStep = 1.0 / std::fmax(1.0, std::log(a));
  rec.zeroOk = 1;
  double c = std::fmax(req->shiftBase, 0.0);
  rec.centre = (c < x ? x * (1.0 / a + 1.0) : c) - x;
  zhrdysExponentForm(&rec, fntrgam, &ctx);
  double R;
  if (zhrdys(&rec, &R) != 0 || !(R > 0.0))
    return 1;
  const double L = logPrefactor(x, a, req->shiftBase);
  const double u = L + std::log(R) + rec.exponent; // ln Q at the working shape
  if (!shift) {
    req->ldens = L;
    req->lsdf = std::fmin(u, 0.0);
  } else {
    if (!(u > L))
      return 1;
    req->lsdf = std::fmin(u + std::log(1.0 - std::exp(L - u)), 0.0);
    req->ldens = L + std::log(req->shiftBase) - std::log(x);
  }
  req->lcdf = zln1mexp(req->lsdf);
  req->method = GAM_INTEGRAL;
  return 0;
}

int32_t ComputeTheProbability(GamRequest* req) {
  const double x = req->x, a = req->a;
  if (!(x >= 0.0) || !(a > 1e-9))
    return 1;
  if (x == 0.0) {
    req->lcdf = -kDblMax;
    req->lsdf = 0.0;
    req->ldens = a > 1.0 ? -kDblMax : (a < 1.0 ? kDblMax : 0.0);
    return 0;
  }
  if (x == HUGE_VAL) {
    // The whole mass lies below an infinite point.
    req->lcdf = 0.0;
    req->lsdf = -kDblMax;
    req->ldens = -kDblMax;
    return 0;
  }
  if (req->tol < kTolFloor)
    req->tol = kTolFloor;
  int32_t st;
  if (x / a < 100.0 || a < 0.5) {
    st = generalRoute(req);
    req->a = a;
  } else {
    st = asymptoticRoute(req);
  }
  if (st != 0) {
    st = zintgam(req);
    req->a = a;
  }
  if (st != 0)
    return st;
  if (req->lcdf > 0.0 || req->lsdf > 0.0)
    return 1;
  return 0;
}
} // namespace gammafamily

int32_t zloggam(GamRequest* req) {
  const uint32_t mode = req->mode;
  if (mode == 0 || (mode & ~0xFu) != 0)
    return 1;
  if (req->tol < kDispatchTolFloor)
    req->tol = kDispatchTolFloor;
  if (req->xFloor < 2.225073858507202e-305 / req->tol)
    req->xFloor = 2.225073858507202e-305 / req->tol;
  if (mode & 4u) {
    int32_t st = gammafamily::ComputeTheQuantile(req);
    req->mode = mode;
    return st;
  }
  if (mode & 8u) {
    int32_t st = gammafamily::ComputeTheSDFQuantile(req);
    req->mode = mode;
    return st;
  }
  if (mode & 1u) {
    int32_t st = gammafamily::ComputeTheProbability(req);
    if (st != 0)
      return st;
  }
  if (mode & 2u) {
    if (zldngam(req->x, req->a, &req->ldens) != 0)
      return 1;
  }
  return 0;
}

int32_t zigamma(double x, double a, double* P, double* Q, double* dens) {
  if (!(x >= 0.0) || !(a > 0.0))
    return 1;
  if (x == 0.0) {
    *P = 0.0;
    *Q = 1.0;
    *dens = 0.0;
    return 0;
  }
  double ld = a * std::log(x) - x - zlgamma(a + 1.0);
  *dens = std::exp(ld);
  double p, q;
  if (a >= 1e9 && std::fabs(x - a) <= 0.7 * std::sqrt(a) + 0.02 * a) {
    p = gammafamily::wilhil(x, a);
    q = 1.0 - p;
  } else if (x <= a || x <= 1.0) {
    double s;
    if (!series(x, a, 1e-15, &s) && !secondFraction(x, a, 1e-15, &s))
      return 1;
    // x^a e^-x / Gamma(a+1) * a * sum / x ... the series value s = x * sum with the
    // density term of shape a: P = e^{a ln x - x - lnGamma(a)} * s / x.
    p = std::exp(a * std::log(x) - x - zlgamma(a)) * s / x;
    q = 1.0 - p;
  } else {
    double f;
    if (!firstFraction(x, a, 1e-15, &f))
      return 1;
    q = std::exp((a - 1.0) * std::log(x) - x - zlgamma(a)) * f;
    p = 1.0 - q;
  }
  *P = p < 0.0 ? 0.0 : (p > 1.0 ? 1.0 : p);
  *Q = q < 0.0 ? 0.0 : (q > 1.0 ? 1.0 : q);
  return 0;
}
