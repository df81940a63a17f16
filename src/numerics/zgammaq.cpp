// Gamma quantiles. Every point is evaluated by the probability computation of zloggam.cpp;
// the starting points come from the normal approximation a + z sqrt(a) through zprobit.
#include "numerics/zgammaq.h"

#include "numerics/zelementary.h"
#include "numerics/znormal.h"
#include "support/hostif.h"

#include <cmath>

namespace gammafamily {
namespace {
constexpr double kTopTarget = 0.9999999894632878;
constexpr double kSecantTol = 1.053671212772351e-08;

[[nodiscard]] int32_t evaluateAt(GamRequest* req, double x) {
  req->x = x;
  return ComputeTheProbability(req);
}
} // namespace

double ComputeTheInitialGuess(GamRequest* req) {
  const double a = req->a;
  double z = zprobit(req->p);
  double x0 = std::fmax(1.0, a + z * std::sqrt(a));
  req->stepUp = std::fmin(3.0, std::fmax(1.5, 1.0 / (a * x0) + 1.0));
  req->stepDown = std::fmin(0.9, 1.0 / req->stepUp);
  return x0;
}

double ComputeTheSDFInitialGuess(GamRequest* req) {
  const double a = req->a;
  double z = -zprobit(req->q);
  double g = std::fmax(1.0, a + z * std::sqrt(a));
  double f = std::fmax(1.5, 1.0 / (a * g) + 1.0);
  req->stepUp = f;
  req->stepDown = std::fmin(0.9, 1.0 / f);
  return g;
}

int32_t ComputeTheQuantile(GamRequest* req) {
  const double a = req->a, p = req->p;
  if (!(a > 1e-9) || p == 0.0 || !(p <= kTopTarget) || !(p > 0.0))
    return 1;
  const double T = std::log(p / (1.0 - p));
  const double lp = std::log(p);
  double x0 = ComputeTheInitialGuess(req);
  if (evaluateAt(req, x0) != 0)
    return 1;
  if (req->lcdf == lp)
    return 0;
  const bool down = req->lcdf > lp;
  double sPrev = x0, gPrev = req->lcdf - req->lsdf, sLast = x0, gLast = gPrev;
  for (int32_t step = 0; step < 50; ++step) {
    sPrev = sLast;
    gPrev = gLast;
    sLast = sPrev * (down ? req->stepDown : req->stepUp);
    if (evaluateAt(req, sLast) != 0)
      return 1;
    gLast = req->lcdf - req->lsdf;
    if (down ? req->lcdf <= lp : req->lcdf >= lp)
      break;
  }
  double sKm1 = sLast, gKm1 = gLast, sK = sPrev, gK = gPrev;
  for (int32_t k = 1; k <= 70; ++k) {
    if (std::fabs(gKm1 - gK) <= std::fmax(2.0, std::fabs(T - gK)) * kDblMinNormal) {
      req->x = sK;
      return 0;
    }
    double sNext = sK * std::exp((std::log(sKm1) - std::log(sK)) * (T - gK) / (gKm1 - gK));
    if (sNext < kDblMinNormal)
      return 1;
    if (evaluateAt(req, sNext) != 0)
      return 1;
    double gNext = req->lcdf - req->lsdf;
    if (std::fabs(sNext - sK) < std::fmax(std::fabs(sNext), req->xFloor) * kSecantTol) {
      req->x = sNext;
      return 0;
    }
    sKm1 = sK;
    gKm1 = gK;
    sK = sNext;
    gK = gNext;
  }
  req->x = sK;
  return 1;
}

int32_t ComputeTheQUANTInitialGuess(QuantileSolve* rec) {
  auto* req = static_cast<GamRequest*>(rec->context);
  double g = ComputeTheSDFInitialGuess(req);
  rec->stepUp = req->stepUp;
  rec->stepDown = req->stepDown;
  rec->xStart = g;
  return 0;
}

int32_t ComputeTheQUANTFunction(QuantileSolve* rec) {
  auto* req = static_cast<GamRequest*>(rec->context);
  req->x = rec->x;
  if (ComputeTheProbability(req) != 0)
    return 1;
  rec->probClamped = req->lsdf;
  return 0;
}

int32_t ComputeTheSDFQuantile(GamRequest* req) {
  if (!(req->a > 1e-9) || !(req->q > 0.0) || !(req->q < 1.0)) {
    req->x = hostMissing();
    return 1;
  }
  req->lsdf = std::log(req->q);
  return zquantUpperTail(&req->lsdf, kSecantTol, ComputeTheQUANTInitialGuess,
                         ComputeTheQUANTFunction, req, &req->x);
}
} // namespace gammafamily
