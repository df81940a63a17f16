// Beta quantiles: a starting point from the normal-based approximations of Abramowitz and
// Stegun (26.2.22, 26.5.22), Halley or Newton steps on the plain incomplete beta, and a
// second search in t = -ln(-ln x) on the logit of the probability when those fail.
#include "numerics/zbetaq.h"

#include "numerics/zelementary.h"
#include "numerics/zibeta.h"

#include <cmath>

namespace betafamily {
namespace {
constexpr double kLowerBound = 2.225073858507202e-293;
constexpr double kUpperBound = 0.999999999999889;
constexpr double kTopTarget = 0.9999999894632878;

// The probability mode at x; the request's x stays at that point.
[[nodiscard]] int32_t evaluateAt(BetRequest* req, double x) {
  req->x = x;
  return ComputeTheProbability(req);
}
} // namespace

int32_t CheckBoundsQ(BetRequest* req) {
  req->logTarget = (req->mode & 8u) ? zln1px(-req->q) : std::log(req->p);
  req->lowerBound = kLowerBound;
  if (evaluateAt(req, req->lowerBound) != 0)
    return 1;
  if (req->lcdf > req->logTarget)
    return 2;
  req->upperBound = kUpperBound;
  if (evaluateAt(req, req->upperBound) != 0)
    return 1;
  if (req->logTarget > req->lcdf)
    return 3;
  return 0;
}

double GetTheInitialGuess(BetRequest* req) {
  if (!req->momentsSet)
    CalculateTheMeanAndStdDeviation(req);
  double P = (req->mode & 8u) ? 1.0 - req->q : req->p;
  double y;
  if (P > 0.5) {
    req->alpha = req->b;
    req->beta = req->a;
    y = 1.0 - P;
    req->complemented = 1;
  } else {
    req->alpha = req->a;
    req->beta = req->b;
    y = P;
    req->complemented = 0;
  }
  req->target = y;
  const double al = req->alpha, be = req->beta;
  double s = std::sqrt(-2.0 * std::log(y));
  double z = s - (0.27061 * s + 2.30753) / ((0.04481 * s + 0.99229) * s + 1.0);
  double x0;
  if (al > 1.0 && be > 1.0) {
    req->useHalley = 1;
    double r = 1.0 / (2.0 * al - 1.0), u = 1.0 / (2.0 * be - 1.0);
    double h = 2.0 / (r + u);
    double lam = (z * z - 3.0) / 6.0;
    double W = z * std::sqrt(h + lam) / h - (u - r) * (lam + 0.8333 - 0.6666 / h);
    x0 = al / (al + be * std::exp(2.0 * W));
  } else {
    req->useHalley = 0;
    x0 = al / (al + be) - z * std::sqrt(al * be / ((al + be) * (al + be + 1.0)));
    if (x0 < 1e-9)
      x0 = std::exp(std::log(y) / al);
  }
  return x0;
}

int32_t UseHalley_sMethod(BetRequest* req) {
  req->x = -1.0;
  const double y = req->target, al = req->alpha, be = req->beta;
  const double eps = 1e-07 * y;
  double pt = req->guess;
  for (int32_t n = 1; n <= 30; ++n) {
    double P, D;
    if (zibeta(pt, al, be, &P, &D) != 0)
      return 1;
    double next;
    if (D < 5.562684646268004e-305) {
      next = P > y ? 0.0 : 1.0;
    } else {
      double delta;
      if (req->useHalley == 0)
        delta = (P - y) / D;
      else
        delta = (P - y) / (D + 0.5 * (y - P) * ((al - 1.0) / pt - (be - 1.0) / (1.0 - pt)));
      next = pt - delta;
    }
    if (next >= 1.0)
      next = (1.0 + pt) / 2.0;
    else if (next <= 0.0)
      next = pt / 2.0;
    if (std::fabs(y - P) < eps) {
      if (n == 30)
        return 1;
      req->x = req->complemented ? 1.0 - next : next;
      return 0;
    }
    pt = next;
  }
  return 1;
}

int32_t ComputeTheBetaFunctionForQ(BetRequest* req, double t, double* g) {
  double x = std::exp(-std::exp(-t));
  if (x <= req->lowerBound) {
    x = req->lowerBound;
    req->boundHit = 1;
  } else if (x >= req->upperBound) {
    x = req->upperBound;
    req->boundHit = 2;
  } else {
    req->boundHit = 0;
  }
  if (evaluateAt(req, x) != 0)
    return 1;
  if (req->boundHit == 1 && req->lcdf > req->logTarget)
    return 2;
  if (req->boundHit == 2 && req->logTarget > req->lcdf)
    return 3;
  *g = req->lcdf - req->lsdf;
  return 0;
}

int32_t UseLogScaleMethod(BetRequest* req) {
  if (req->a < 1e-12 || req->b < 0.001)
    return 1;
  double T;
  if (req->mode & 8u) {
    if (req->q == 0.0 || req->q > kTopTarget)
      return 1;
    T = std::log((1.0 - req->q) / req->q);
  } else {
    if (req->p == 0.0 || req->p > kTopTarget)
      return 1;
    T = std::log(req->p / (1.0 - req->p));
  }
  req->searchTol = 1e-07;
  double t = -std::log(-std::log(req->guess));
  double g;
  if (ComputeTheBetaFunctionForQ(req, t, &g) != 0)
    return 1;
  if (req->lcdf == req->logTarget)
    return 0;
  // Unit-step walk until the log cdf reaches or passes the target.
  const bool up = req->lcdf < req->logTarget;
  double sPrev = t, gPrev = g, sLast = t, gLast = g;
  for (int32_t step = 0; step < 30; ++step) {
    sPrev = sLast;
    gPrev = gLast;
    sLast = sPrev + (up ? 1.0 : -1.0);
    if (ComputeTheBetaFunctionForQ(req, sLast, &gLast) != 0)
      return 1;
    if (up ? req->lcdf >= req->logTarget : req->lcdf <= req->logTarget)
      break;
  }
  // Secant steps on the logit, starting from the last point of the walk and the one before.
  double sKm1 = sLast, gKm1 = gLast, sK = sPrev, gK = gPrev;
  for (int32_t k = 1; k <= 30; ++k) {
    if (std::fabs(gK - gKm1) < std::fabs(T) * req->tol)
      return 0;
    double sNext = sK + (T - gK) * (sKm1 - sK) / (gKm1 - gK);
    double gNext;
    if (ComputeTheBetaFunctionForQ(req, sNext, &gNext) != 0)
      return 1;
    if (std::fabs(sNext - sK) < std::fabs(sNext) * req->searchTol)
      return 0;
    sKm1 = sK;
    gKm1 = gK;
    sK = sNext;
    gK = gNext;
  }
  return 1;
}

int32_t ComputeTheQuantile(BetRequest* req) {
  if (req->mode & 8u) {
    if (req->q == 0.0) {
      req->x = 1.0;
      return 0;
    }
    if (req->q == 1.0) {
      req->x = 0.0;
      return 0;
    }
    req->p = 1.0 - req->q;
  } else {
    if (req->p == 0.0) {
      req->x = 0.0;
      return 0;
    }
    if (req->p == 1.0) {
      req->x = 1.0;
      return 0;
    }
  }
  if (CheckBoundsQ(req) != 0)
    return 1;
  req->guess = GetTheInitialGuess(req);
  if (UseHalley_sMethod(req) == 0)
    return 0;
  return UseLogScaleMethod(req) == 0 ? 0 : 1;
}
} // namespace betafamily
