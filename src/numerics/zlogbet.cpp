// The log incomplete beta: the smaller tail from the continued fraction of zibeta.cpp, the
// other as ln(1 - e^t). When the fraction does not converge the integral of the density
// is tried and then, for large parameters, the cube-root normal approximation; otherwise
// the request fails. Quantile modes are in zbetaq.cpp.
#include "numerics/zlogbet.h"

#include "numerics/zbetaq.h"
#include "numerics/zelementary.h"
#include "numerics/zhrdys.h"
#include "numerics/zibeta.h"
#include "numerics/zlgamma.h"
#include "numerics/znormal.h"
#include "support/hostif.h"

#include <cmath>

namespace {
constexpr double kTwo53 = 9007199254740992.0;
constexpr double kTolFloor = 5.551115123125785e-16;

// Log beta density by the dispatcher's rule (x in [0, 1], a, b > 0).
double logDensity(double x, double a, double b) {
  if (x == 0.0)
    return a == 1.0 ? std::log(b) : hostMissing();
  if (x == 1.0)
    return b == 1.0 ? std::log(a) : hostMissing();
  return zibetaLogDensity(x, a, b);
}

} // namespace

int32_t zldnbet(double x, double a, double b, double* res) {
  if (!(x >= 0.0 && x <= 1.0) || !(a > 0.0) || !(b > 0.0))
    return 1;
  *res = logDensity(x, a, b);
  return 0;
}

namespace betafamily {

int32_t Verify(BetRequest* req) {
  if (req->mode == 0)
    req->mode = 1;
  if (!(req->a > 0.0) || !(req->b > 0.0))
    return 1;
  if ((req->mode & 1u) && !(req->x >= 0.0 && req->x <= 1.0))
    return 1;
  if ((req->mode & 4u) && !(req->p >= 0.0 && req->p <= 1.0))
    return 1;
  return 0;
}

void CalculateTheMeanAndStdDeviation(BetRequest* req) {
  double s = req->a + req->b;
  req->mean = req->a / s;
  req->sd = std::sqrt(req->a * req->b / (s * s) / (s + 1.0));
  req->momentsSet = 1;
}

int32_t ComputeTheDensity(BetRequest* req) { return zldnbet(req->x, req->a, req->b, &req->ldens); }

bool DoTheContinuedF(BetRequest* req) {
  if (req->swapped) {
    double t = req->a;
    req->a = req->b;
    req->b = t;
    req->x = 1.0 - req->x;
  }
  req->aMinusOne = req->a - 1.0;
  if (req->a < 1.0) {
    req->shifted = 1;
    req->aMinusOne = req->a;
    req->a += 1.0;
  }
  req->cf = 1.0;
  if (req->x <= kDblMinNormal)
    return true;
  bool converged;
  req->cf = zibetaFraction(req->x, req->a, req->b, req->b - 1.0, req->tol, 399, &converged);
  return converged;
}

namespace {
struct BetaIntegrandContext {
  IntegrationRecord* rec;
  double a, b;
};

// Beta density at t in the exponent form of the integrator.
[[nodiscard]] int32_t BetaIntegrand(double t, void* context, double* value) {
  auto* c = static_cast<BetaIntegrandContext*>(context);
  if (!(t > 0.0 && t < 1.0)) {
    *value = 0.0;
    return 0;
  }
  double v = zibetaLogDensity(t, c->a, c->b);
  return zhrdysExponentValue(c->rec, v, value);
}
} // namespace

int32_t BetaIntegration(double x, double a, double b, double tol, double* lcdf) {
  if (!(x > 0.0 && x < 1.0) || !(a > 0.0) || !(b > 0.0))
    return 1;
  IntegrationRecord rec{};
  BetaIntegrandContext ctx{&rec, a, b};
  rec.tol = tol > 1e-14 ? tol : 1e-14;
  rec.lower = 0.0;
  rec.upper = x;
  rec.mode = 3;
  rec.testType = 1;
  rec.maxLevels = 30;
  rec.initialStep = 0.5;
  // Centre on the mode of the density when it lies inside (0, x), else near x.
  double m = (a > 1.0 && b > 1.0) ? (a - 1.0) / (a + b - 2.0) : 0.5 * x;
  rec.centre = m < x ? m : 0.999 * x;
  zhrdysExponentForm(&rec, BetaIntegrand, &ctx);
  double r;
  if (zhrdys(&rec, &r) != 0 || !(r > 0.0))
    return 1;
  double l = std::log(r) + rec.exponent;
  *lcdf = l < 0.0 ? l : 0.0;
  return 0;
}

int32_t ComputeTheProbability(BetRequest* req) {
  req->savedX = req->x;
  req->savedA = req->a;
  req->savedB = req->b;
  if (req->tol < kTolFloor)
    req->tol = kTolFloor;
  req->aMinusOne = req->a - 1.0;
  req->approximated = 0;
  const double x = req->x, a = req->a, b = req->b;
  if (a > kTwo53 || b > kTwo53 || !(x >= 0.0 && x <= 1.0) || !(a > 0.0) || !(b > 0.0))
    return 1;
  // The ends of the range: the tails are exact, the density follows the dispatcher's rule.
  if (x == 0.0 || x == 1.0) {
    req->lcdf = x == 0.0 ? kLogZero : 0.0;
    req->lsdf = x == 0.0 ? 0.0 : kLogZero;
    req->ldens = logDensity(x, a, b);
    return 0;
  }
  req->ldens = logDensity(x, a, b);
  req->swapped = zibetaSwapTail(x, a, b) ? 1 : 0;
  req->complement = 1.0 - x;
  req->sum = a + b;
  bool converged = DoTheContinuedF(req);
  double t;
  if (converged) {
    double F;
    if (!req->shifted)
      F = req->cf / req->a;
    else
      F = ((req->cf * req->x * req->sum) / req->a + (1.0 - req->x)) / req->aMinusOne;
    t = std::log(req->x) + std::log(F) + req->ldens;
  }
  bool swapped = req->swapped != 0;
  req->x = req->savedX;
  req->a = req->savedA;
  req->b = req->savedB;
  req->shifted = 0;
  req->swapped = 0;
  if (converged) {
    if (t > 0.0)
      t = 0.0;
    zlnTails(t, !swapped, &req->lcdf, &req->lsdf);
    return 0;
  }
  // The fraction did not converge: its last value is not the probability. Integrate the
  // density over the smaller tail, else use the normal approximation for large parameters.
  req->approximated = 1;
  double l;
  if (!swapped ? BetaIntegration(x, a, b, req->tol, &l) == 0
               : BetaIntegration(1.0 - x, b, a, req->tol, &l) == 0) {
    zlnTails(l, !swapped, &req->lcdf, &req->lsdf);
    return 0;
  }
  if (zibetaLargeParameters(a, b)) {
    double dens;
    return zlognrm(&req->lcdf, &req->lsdf, &dens, zibetaNormalDeviate(x, a, b)) != 0 ? 1 : 0;
  }
  return 1;
}

int32_t BetaContinuedFraction(BetRequest* req) { return ComputeTheProbability(req); }

} // namespace betafamily

int32_t zlogbet(BetRequest* req) {
  if (req->mode == 0)
    req->mode = 1;
  if (!(req->a > 0.0) || !(req->b > 0.0))
    return 1;
  if ((req->mode & 1u) && !(req->x >= 0.0 && req->x <= 1.0))
    return 1;
  if ((req->mode & 4u) && !(req->p >= 0.0 && req->p <= 1.0))
    return 1;
  if (req->mode & 1u)
    return betafamily::ComputeTheProbability(req);
  if (req->mode & 12u)
    return betafamily::ComputeTheQuantile(req);
  if (req->mode & 2u) {
    if (!(req->x >= 0.0 && req->x <= 1.0))
      return 1;
    req->ldens = logDensity(req->x, req->a, req->b);
    return 0;
  }
  return 1;
}
