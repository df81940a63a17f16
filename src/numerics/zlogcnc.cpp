// Chi-square family. The noncentral tails are Poisson(nc/2) mixtures of central tails,
// summed outwards from the largest weight with the recurrences of the gamma tail and of the
// weights; huge noncentralities integrate the density (Bessel form) instead.
#include "numerics/zlogcnc.h"

#include "numerics/zelementary.h"
#include "numerics/zhrdys.h"
#include "numerics/zibess.h"
#include "numerics/zlgamma.h"
#include "numerics/zloggam.h"
#include "numerics/znormal.h"
#include "support/hostif.h"

#include <cmath>

namespace {
constexpr double kDispatchTolFloor = 8.881784197001256e-16;
constexpr double kTolFloor = 5.551115123125785e-16;
constexpr double kTopTarget = 0.9999999894632878;

// Log density of the central chi-square.
[[nodiscard]] int32_t centralLogDensity(double x, double df, double* ld) {
  double g;
  if (zldngam(x / 2.0, df / 2.0, &g) != 0)
    return 1;
  *ld = g - kLn2;
  return 0;
}

struct MixtureContext {
  double x, df;
};

double centralTerm(double k, void* context) {
  auto* c = static_cast<MixtureContext*>(context);
  double g;
  if (centralLogDensity(c->x, c->df + 2.0 * k, &g) != 0)
    return -kDblMax;
  return g;
}

// Log density as a Poisson mixture of central densities (used for df < 2, where the order
// of the Bessel form would be negative).
[[nodiscard]] int32_t mixtureLogDensity(double x, double df, double nc, double* ld) {
  MixtureContext ctx{x, df};
  double v = zlogPoissonMix(nc / 2.0, centralTerm, &ctx);
  if (!std::isfinite(v))
    return 1;
  *ld = v;
  return 0;
}
} // namespace

int32_t zldncnc(double* ldens, double x, double df, double nc) {
  if (!(x >= 0.0) || !(df > 0.0) || !(nc >= 0.0))
    return 1;
  if (nc == 0.0)
    return centralLogDensity(x, df, ldens);
  if (x == 0.0) {
    *ldens = df < 2.0 ? kDblMax : (df == 2.0 ? -kLn2 - nc / 2.0 : -kDblMax);
    return 0;
  }
  if (df < 2.0)
    return mixtureLogDensity(x, df, nc, ldens);
  BesselRequest br{};
  br.x = std::sqrt(nc * x);
  br.nu = df / 2.0 - 1.0;
  br.kind = 2;
  double logI;
  if (zibess(&br) != 0)
    return 1;
  logI = br.result;
  double sn = std::sqrt(nc), sx = std::sqrt(x);
  *ldens = std::log(0.5) + (df / 4.0 - 0.5) * std::log(x / nc) - (sn - sx) * (sn - sx) / 2.0 -
           std::sqrt(nc * x) + logI;
  return 0;
}

namespace chisqfamily {

void CalculateTheMeanAndStdDeviation(CncRequest* req) {
  req->mean = req->df + req->nc;
  req->scale = std::sqrt(2.0) * std::sqrt(req->df + 2.0 * req->nc);
  req->momentsSet = 1;
}

int32_t zsercnc(CncRequest* req) {
  const double x = req->x, df = req->df, nc = req->nc;
  if (x < 0.0 || df <= 0.0 || nc < 0.0)
    return 1;
  const double a = nc / 2.0, hdf = df / 2.0, y = x / 2.0;
  const double h = a / (hdf + a);
  const double c = (h + 1.0) * 0.11111111111 / (hdf + a);
  const double u = std::pow(x / (df + nc), 0.333333);
  const double t = std::fmax((u + c - 1.0) * (-1.2 * h) / std::sqrt(c), 1.0);
  const double s = 0.5 / std::sqrt(a);
  const double kr = a / (t * s + 1.0);
  if (kr > 2147483647.0)
    return 1;
  const double k0 = std::floor(kr);
  const bool lowerTail = req->lower != 0;

  GamRequest g{};
  g.mode = 1;
  g.x = y;
  g.a = hdf + k0;
  g.tol = req->tol;
  if (zloggam(&g) != 0)
    return 1;
  const double logW0 = -a + k0 * std::log(a) - zlgamma(k0 + 1.0);
  if (logW0 <= kExpUnderflow)
    return 1;
  const double logTail0 = lowerTail ? g.lcdf : g.lsdf;
  // Gamma density term y^s e^-y / Gamma(s + 1) at s = hdf + k0, relative to the tail at k0.
  const double logG0 = (hdf + k0) * std::log(y) - y - zlgamma(hdf + k0 + 1.0);
  const double g0 = std::exp(logG0 - logTail0);

  double sum = 1.0; // terms relative to w_k0 * tail_k0
  int32_t terms = 1;
  // Upward: tail_{k+1} = tail_k -/+ g_k, g_{k+1} = g_k y / (hdf + k + 1), w_{k+1} = w_k a/(k+1).
  double tailU = 1.0, gU = g0, wU = 1.0, lastU = 1.0;
  double k = k0;
  bool upDone = false, downDone = k0 <= 0.0;
  double tailD = 1.0, gD = g0, wD = 1.0, lastD = 1.0, kd = k0;
  while (!upDone || !downDone) {
    if (!upDone) {
      tailU = lowerTail ? tailU - gU : tailU + gU;
      if (tailU < 0.0)
        tailU = 0.0;
      wU = wU * a / (k + 1.0);
      gU = gU * y / (hdf + k + 1.0);
      k += 1.0;
      lastU = wU * tailU;
      sum += lastU;
      ++terms;
      if (!(lastU > req->tol * sum))
        upDone = true;
    }
    if (!downDone) {
      // g at shape hdf + kd - 1 from g at hdf + kd: g_{s-1} = g_s (hdf + kd) / y.
      double gPrev = gD * (hdf + kd) / y;
      tailD = lowerTail ? tailD + gPrev : tailD - gPrev;
      if (tailD < 0.0)
        tailD = 0.0;
      wD = wD * kd / a;
      gD = gPrev;
      kd -= 1.0;
      lastD = wD * tailD;
      sum += lastD;
      ++terms;
      if (!(lastD > req->tol * sum) || kd <= 0.0)
        downDone = true;
    }
    if (terms > 1000)
      return -1;
  }
  if (!(sum > 0.0))
    return 1;
  double l = logW0 + logTail0 + std::log(sum);
  if (l > 0.0)
    l = 0.0;
  zlnTails(l, lowerTail, &req->lcdf, &req->lsdf);
  return 0;
}

namespace {
struct CncIntegrandContext {
  IntegrationRecord* rec;
  double df, nc;
};

// The noncentral chi-square density in the exponent form of the integrator.
[[nodiscard]] int32_t fntrcnc(double t, void* context, double* value) {
  auto* c = static_cast<CncIntegrandContext*>(context);
  if (!(t > 0.0)) {
    *value = 0.0;
    return 0;
  }
  double v;
  if (zldncnc(&v, t, c->df, c->nc) != 0)
    return 1;
  return zhrdysExponentValue(c->rec, v, value);
}
} // namespace

int32_t zintcnc(CncRequest* req) {
  IntegrationRecord rec{};
  CncIntegrandContext ctx{&rec, req->df, req->nc};
  req->halfDf = req->df / 2.0;
  req->sqrtNc = std::sqrt(req->nc);
  rec.tol = std::fmax(req->tol, 1e-14);
  rec.testType = 1;
  rec.maxLevels = 10;
  rec.initialStep = 0.5;
  zhrdysExponentForm(&rec, fntrcnc, &ctx);
  if (req->lower) {
    rec.mode = 3;
    rec.lower = 0.0;
    rec.upper = req->x;
    rec.centre = 0.999 * req->x;
  } else {
    rec.mode = 2;
    rec.lower = req->x;
    rec.centre = std::fmax(req->x + 1.0, req->nc);
  }
  double R;
  if (zhrdys(&rec, &R) != 0 || !(R > 0.0))
    return 1;
  double l = std::fmin(std::log(R) + rec.exponent, 0.0);
  zlnTails(l, req->lower, &req->lcdf, &req->lsdf);
  return 0;
}

int32_t ComputeTheProbability(CncRequest* req) {
  const double x = req->x, df = req->df, nc = req->nc;
  if (!(x > 0.0) || !(df >= 1e-8) || !(nc >= 0.0))
    return 1;
  if (x == HUGE_VAL) {
    req->lcdf = 0.0;
    req->lsdf = -kDblMax;
    req->ldens = -kDblMax;
    return 0;
  }
  if (req->tol < kTolFloor)
    req->tol = kTolFloor;
  if (!req->momentsSet)
    CalculateTheMeanAndStdDeviation(req);
  if (nc == 0.0) {
    GamRequest g{};
    g.mode = 1;
    g.x = x / 2.0;
    g.a = df / 2.0;
    g.tol = req->tol;
    if (zloggam(&g) != 0)
      return 1;
    req->lcdf = g.lcdf;
    req->lsdf = g.lsdf;
    req->ldens = g.ldens - kLn2;
    return 0;
  }
  const double m = df + nc;
  const double c = (nc / m + 1.0) * 0.2222222222222222 / m;
  const double z = (std::sqrt(x / m) + (c - 1.0)) / std::sqrt(c);
  req->lower = z <= -2.0 ? 1 : 0;
  int32_t st = 1;
  if (nc <= 500.0)
    st = zsercnc(req);
  if (st != 0)
    st = zintcnc(req);
  if (st != 0)
    return st;
  double ld;
  if (zldncnc(&ld, x, df, nc) == 0)
    req->ldens = ld;
  return 0;
}

namespace {
[[nodiscard]] int32_t evalCnc(void* r, double x, double* lcdf, double* lsdf) {
  auto* req = static_cast<CncRequest*>(r);
  req->x = x;
  if (ComputeTheProbability(req) != 0)
    return 1;
  *lcdf = req->lcdf;
  *lsdf = req->lsdf;
  return 0;
}

// Cube-root normal approximation of the quantile at the standard normal deviate z.
double cubeRootGuess(double df, double nc, double z) {
  double m = df + nc;
  double c = 2.0 * (df + 2.0 * nc) / (9.0 * m * m);
  double w = 1.0 - c + z * std::sqrt(c);
  double g = m * w * w * w;
  return g > 1e-300 ? g : 1e-3 * m;
}
} // namespace

int32_t ComputeTheQuantile(CncRequest* req) {
  if (!(req->p > 0.0 && req->p <= kTopTarget) || !(req->df >= 1e-8) || !(req->nc >= 0.0))
    return 1;
  double x0 = cubeRootGuess(req->df, req->nc, zprobit(req->p));
  req->stepUp = 1.5;
  req->stepDown = 0.7;
  double xq;
  if (zquantLowerTail(req, evalCnc, x0, req->p, req->stepUp, req->stepDown, &xq) != 0)
    return 1;
  req->x = xq;
  return 0;
}

int32_t ComputeTheQUANTInitialGuess(QuantileSolve* rec) {
  auto* req = static_cast<CncRequest*>(rec->context);
  rec->xStart = cubeRootGuess(req->df, req->nc, -zprobit(req->p));
  rec->stepUp = req->stepUp = 1.5;
  rec->stepDown = req->stepDown = 0.7;
  return 0;
}

int32_t ComputeTheQUANTFunction(QuantileSolve* rec) {
  auto* req = static_cast<CncRequest*>(rec->context);
  req->x = rec->x;
  return ComputeTheProbability(req) != 0 ? 1 : 0;
}

int32_t ComputeTheSDFQuantile(CncRequest* req) {
  if (!(req->p > 0.0 && req->p <= kTopTarget) || !(req->df >= 1e-8) || !(req->nc >= 0.0))
    return 1;
  req->lsdf = std::log(req->p);
  return zquantUpperTail(&req->lsdf, 1.053671212772351e-08, ComputeTheQUANTInitialGuess,
                         ComputeTheQUANTFunction, req, &req->x);
}
} // namespace chisqfamily

int32_t zlogcnc(CncRequest* req) {
  const uint32_t mode = req->mode;
  if (mode < 1 || mode > 15)
    return 1;
  if (req->tol < kDispatchTolFloor)
    req->tol = kDispatchTolFloor;
  if (mode & 12u) {
    double floor = kDblMinNormal / req->tol;
    if (req->p < floor)
      req->p = floor;
    int32_t st = (mode & 8u) ? chisqfamily::ComputeTheSDFQuantile(req)
                             : chisqfamily::ComputeTheQuantile(req);
    req->mode = mode;
    return st;
  }
  if (mode & 1u) {
    int32_t st = chisqfamily::ComputeTheProbability(req);
    if (st != 0)
      return st;
  }
  if (mode & 2u)
    return zldncnc(&req->ldens, req->x, req->df, req->nc);
  return 0;
}

int32_t zplbcnc(double* cdf, double* sdf, double x, double df, double nc) {
  if (!(x >= 0.0) || !(df > 0.0) || !(nc >= 0.0))
    return 1;
  if (x == 0.0) {
    *cdf = 0.0;
    *sdf = 1.0;
    return 0;
  }
  if (nc == 0.0) {
    double dens;
    return zigamma(x / 2.0, df / 2.0, cdf, sdf, &dens);
  }
  CncRequest r{};
  r.x = x;
  r.df = df;
  r.nc = nc;
  r.mode = 1;
  if (zlogcnc(&r) != 0)
    return 1;
  *cdf = std::exp(r.lcdf);
  *sdf = std::exp(r.lsdf);
  return 0;
}
