// Small building blocks of the special-function library: expm1, log1p, log-sum-exp, the
// Mills ratio (direct for x < 5, a continued fraction beyond) and the Cholesky row. The
// normal tail used by the Mills ratio comes from znormal.cpp.
#include "numerics/zelementary.h"

#include "numerics/znormal.h"
#include "numerics/zvector.h"

#include <cmath>

double zexpm1(double x) {
  if (std::fabs(x) > 0.01)
    return std::exp(x) - 1.0;
  return x *
         (1.0 + x / 2.0 * (1.0 + x / 3.0 * (1.0 + x / 4.0 * (1.0 + x / 5.0 * (1.0 + x / 6.0)))));
}

namespace {
double smallLog1p(double x) {
  double s = x / (1.0 + x / 2.0);
  double t = s * s;
  return s +
         s * t * (0.08333333333333427 - 0.0023812878804825234 * t) / (1.0 - 0.178575454351365 * t);
}
} // namespace

double zln1px(double x) {
  if (std::fabs(x) <= 0.03125)
    return smallLog1p(x);
  return std::log(1.0 + x);
}

double zln1mexp(double t) {
  double e = std::exp(t);
  if (e >= 1.0)
    return kLogZero;
  return zln1px(-e);
}

void zlnTails(double l, bool lowerTail, double* lcdf, double* lsdf) {
  if (lowerTail) {
    *lcdf = l;
    *lsdf = zln1mexp(l);
  } else {
    *lsdf = l;
    *lcdf = zln1mexp(l);
  }
}

double zln1pmx(double x) {
  if (std::fabs(x) > 0.5)
    return std::log1p(x) - x;
  // ln(1 + x) = 2 atanh(w) with w = x / (2 + x), and 2w - x = -x^2 / (2 + x).
  const double w = x / (2.0 + x), w2 = w * w;
  double term = w * w2, sum = 0.0;
  for (int k = 3; k < 200; k += 2) {
    double t = term / k;
    sum += t;
    if (std::fabs(t) <= 1e-17 * std::fabs(sum))
      break;
    term *= w2;
  }
  return -x * x / (2.0 + x) + 2.0 * sum;
}

double zlnSumOfExp(double a, double b) {
  if (a == b)
    return a + kLn2;
  double m = a > b ? a : b;
  double d = std::exp((a > b ? b : a) - m);
  return m + (d <= 0.03125 ? smallLog1p(d) : std::log(1.0 + d));
}

int32_t zcnfmill(double x, double* r) {
  const double u = 1.0 / x;
  const double u2 = u * u;
  double a0 = 0.0, b0 = 1.0, a1 = u, b1 = 1.0, previous = u, h = u2;
  double ratio = u;
  for (int32_t step = 1; step <= 101; ++step) {
    double a = a1 + a0 * h;
    double b = b1 + b0 * h;
    ratio = a / b;
    h += u2;
    if (std::fabs(ratio - previous) <= ratio * 5.551115123125785e-16) {
      *r = ratio;
      return step > 99 ? 1 : 0;
    }
    a0 = a1;
    b0 = b1;
    a1 = a;
    b1 = b;
    previous = ratio;
  }
  *r = ratio;
  return 1;
}

int32_t zmillsr(double x, double* r) {
  if (x < 5.0) {
    double v = std::exp(x * x / 2.0 + kLnSqrt2Pi);
    if (x >= -10.0)
      v *= zprbnrm(-x);
    *r = v;
    return 0;
  }
  return zcnfmill(x, r);
}

double zchol(int32_t n, double* a, double tol) {
  if (n < 0)
    return 0.0;
  double* rowN = a + static_cast<int64_t>(n) * (n + 1) / 2;
  double s = 0.0;
  const double* rowJ = a;
  for (int32_t j = 0; j <= n; rowJ += j + 1, ++j) {
    s = rowN[j] - zinner(rowJ, rowN, j);
    if (j < n) {
      rowN[j] = rowJ[j] != 0.0 ? s / rowJ[j] : 0.0;
    } else {
      rowN[n] = s > tol ? std::sqrt(s) : 0.0;
    }
  }
  return s;
}

double zlogPoissonMix(double lam, PoissonLogTerm logTerm, void* context) {
  // Bounds on the walks: beyond them the arguments are far outside any sensible range and
  // the mixture is reported as not computable (NaN) rather than summed for ever.
  constexpr int kMaxWalk = 20000;
  auto term = [&](double k) {
    double t = logTerm(k, context);
    return t + (-lam + k * std::log(lam) - std::lgamma(k + 1.0));
  };
  if (!(lam > 0.0) || !std::isfinite(lam))
    return std::nan("");
  // Walk uphill from the Poisson mode to the largest term (the terms are unimodal in k).
  double k = std::floor(lam), best = term(k);
  for (int dir = 1; dir >= -1; dir -= 2) {
    for (int steps = 0;; ++steps) {
      double kn = k + dir;
      if (kn < 0.0)
        break;
      double tn = term(kn);
      if (!(tn > best))
        break;
      if (steps >= kMaxWalk)
        return std::nan("");
      k = kn;
      best = tn;
    }
  }
  if (!std::isfinite(best))
    return std::nan("");
  double sum = 1.0;
  for (int dir = -1; dir <= 1; dir += 2) {
    int steps = 0;
    for (double kk = k + dir; kk >= 0.0; kk += dir) {
      double r = std::exp(term(kk) - best);
      sum += r;
      if (r < 1e-17 * sum)
        break;
      if (++steps > kMaxWalk)
        return std::nan("");
    }
  }
  return best + std::log(sum);
}
