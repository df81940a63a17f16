// F distribution tails. The central case is the log incomplete beta; the noncentral case a
// Poisson mixture of beta tails or, for large noncentrality, an integral over the numerator
// chi-square. zlogFNCApproxLarge falls back to the chi-square limits and last to a normal
// approximation, which is only defined when the denominator degrees of freedom exceed 4.
#include "numerics/zlogfnc.h"

#include "numerics/zelementary.h"
#include "numerics/zhrdys.h"
#include "numerics/zibeta.h"
#include "numerics/zlgamma.h"
#include "numerics/zlogbet.h"
#include "numerics/zlogcnc.h"
#include "numerics/zloggam.h"
#include "numerics/znormal.h"
#include "support/hostif.h"

#include <cmath>

namespace {
constexpr double kDispatchTolFloor = 8.881784197001256e-16;
constexpr double kMinDf = 0.0009765625;
constexpr double kMaxDf = 9007199254740992.0;
constexpr double kTopTarget = 0.9999999894632878;
constexpr double kRouteTol = 1.053671212772351e-8;

struct MixtureContext {
  double w, a, b;
};

// Log beta density of the k-th Poisson component of the noncentral F.
double betaTerm(double k, void* context) {
  auto* c = static_cast<MixtureContext*>(context);
  double ld;
  if (zldnbet(c->w, c->a + k, c->b, &ld) != 0)
    return -kDblMax;
  return ld;
}

} // namespace

namespace ffamily {

void CalculateTheMeanAndStdDeviation(FncRequest* req) {
  const double df1 = req->df1, df2 = req->df2, nc = req->nc;
  req->mean = df2 > 2.000000010536712 ? (df2 / df1) * (df1 + nc) / (df2 - 2.0) : hostMissing();
  if (df2 > 4.000000010536712)
    req->sd =
        std::sqrt(2.0) * req->mean *
        std::sqrt(((df2 - 2.0) * (df1 + 2.0 * nc) / ((df1 + nc) * (df1 + nc)) + 1.0) / (df2 - 4.0));
  else
    req->sd = hostMissing();
  req->momentsSet = 1;
}

int32_t zserfnc(FncRequest* req) {
  const double x = req->x, df1 = req->df1, df2 = req->df2, nc = req->nc;
  const double lam = nc / 2.0;
  const double kr = 1.16 * nc / 2.0;
  if (kr > 2147483647.0)
    return 1;
  const double k0 = std::floor(kr);
  const double b = df2 / 2.0;
  const double r = df2 / df1;
  const double w = x / (x + r), wc = r / (x + r);
  const bool lowerTail = req->lower != 0;
  // Tail at k0 on the side where the beta argument is smaller.
  BetRequest br{};
  br.mode = 1;
  br.tol = req->tol;
  double a0 = df1 / 2.0 + k0;
  double logCdf, logSdf;
  if (w <= wc) {
    br.x = w;
    br.a = a0;
    br.b = b;
    if (zlogbet(&br) != 0)
      return 1;
    logCdf = br.lcdf;
    logSdf = br.lsdf;
  } else {
    br.x = wc;
    br.a = b;
    br.b = a0;
    if (zlogbet(&br) != 0)
      return 1;
    logCdf = br.lsdf;
    logSdf = br.lcdf;
  }
  const double logTail0 = lowerTail ? logCdf : logSdf;
  const double logW0 = -lam + k0 * std::log(lam) - zlgamma(k0 + 1.0);
  const double lead = logW0 + logTail0;
  if (lead < kExpUnderflow || lead > kExpOverflow || !(logTail0 > kLogZero))
    return 1;
  // g(a) = w^a (1-w)^b / (a B(a, b)): I_w(a+1, b) = I_w(a, b) - g(a).
  const double logG0 = a0 * std::log(w) + b * std::log(wc) - std::log(a0) - zlbeta(a0, b);
  const double g0 = std::exp(logG0 - logTail0);
  double sum = 1.0;
  int32_t terms = 1;
  double tailU = 1.0, gU = g0, wU = 1.0, aU = a0, k = k0;
  double tailD = 1.0, gD = g0, wD = 1.0, aD = a0, kd = k0;
  bool upDone = false, downDone = k0 <= 0.0;
  while (!upDone || !downDone) {
    if (!upDone) {
      tailU = lowerTail ? tailU - gU : tailU + gU;
      if (tailU < 0.0)
        tailU = 0.0;
      gU = gU * w * (aU + b) / (aU + 1.0);
      aU += 1.0;
      wU = wU * lam / (k + 1.0);
      k += 1.0;
      double term = wU * tailU;
      sum += term;
      ++terms;
      if (!(term > req->tol * sum))
        upDone = true;
    }
    if (!downDone) {
      // g(a - 1) = g(a) a / (w (a - 1 + b)).
      double gPrev = gD * aD / (w * (aD - 1.0 + b));
      tailD = lowerTail ? tailD + gPrev : tailD - gPrev;
      if (tailD < 0.0)
        tailD = 0.0;
      gD = gPrev;
      aD -= 1.0;
      wD = wD * kd / lam;
      kd -= 1.0;
      double term = wD * tailD;
      sum += term;
      ++terms;
      if (!(term > req->tol * sum) || kd <= 0.0)
        downDone = true;
    }
    if (terms >= 1000)
      return 1;
  }
  if (!(sum > 0.0))
    return 1;
  double l = std::fmin(lead + std::log(sum), 0.0);
  zlnTails(l, lowerTail, &req->lcdf, &req->lsdf);
  return 0;
}

namespace {
struct FncIntegrandContext {
  IntegrationRecord* rec;
  double x, df1, df2, nc;
  int32_t lower;
};

// The numerator chi-square density at u times the probability that the denominator
// chi-square lies on the far side of u df2 / (x df1), in the exponent form.
[[nodiscard]] int32_t fntrfnc(double u, void* context, double* value) {
  auto* c = static_cast<FncIntegrandContext*>(context);
  if (!(u > 0.0)) {
    *value = 0.0;
    return 0;
  }
  double ld;
  if (zldncnc(&ld, u, c->df1, c->nc) != 0)
    return 1;
  GamRequest g{};
  g.mode = 1;
  g.x = u * c->df2 / (c->x * c->df1) / 2.0;
  g.a = c->df2 / 2.0;
  g.tol = 1e-15;
  if (zloggam(&g) != 0)
    return 1;
  double v = ld + (c->lower ? g.lsdf : g.lcdf);
  return zhrdysExponentValue(c->rec, v, value);
}
} // namespace

int32_t zintfnc(FncRequest* req) {
  if (req->nc == 0.0)
    return 1;
  req->sqrtNc = std::sqrt(req->nc);
  req->logNc = std::log(req->nc);
  IntegrationRecord rec{};
  FncIntegrandContext ctx{&rec, req->x, req->df1, req->df2, req->nc, req->lower};
  rec.tol = 1.110223024625157e-15;
  rec.testType = 1;
  rec.maxLevels = 10;
  rec.mode = 2;
  rec.lower = 0.0;
  rec.centre = req->df1 + req->nc;
  rec.initialStep = 0.5;
  zhrdysExponentForm(&rec, fntrfnc, &ctx);
  double R;
  if (zhrdys(&rec, &R) != 0 || !(R > 0.0))
    return 1;
  double l = std::fmin(std::log(R) + rec.exponent, 0.0);
  zlnTails(l, req->lower, &req->lcdf, &req->lsdf);
  return 0;
}

int32_t ComputeTheProbability(FncRequest* req) {
  const double x = req->x, df1 = req->df1, df2 = req->df2, nc = req->nc;
  if (!(df1 > kMinDf && df1 <= kMaxDf) || !(df2 > kMinDf && df2 <= kMaxDf) || !(nc >= 0.0) ||
      !(x >= 0.0))
    return 1;
  if (x == 0.0) {
    req->lcdf = -kDblMax;
    req->lsdf = 0.0;
    req->ldens = df1 < 2.0 ? kDblMax : (df1 == 2.0 ? 0.0 : -kDblMax);
    return 0;
  }
  if (!req->momentsSet)
    CalculateTheMeanAndStdDeviation(req);
  if (nc == 0.0) {
    const double r = df2 / df1;
    BetRequest br{};
    br.mode = 1;
    br.tol = req->tol;
    if (x > r) {
      br.x = r / (x + r);
      br.a = df2 / 2.0;
      br.b = df1 / 2.0;
      if (zlogbet(&br) != 0)
        return 1;
      req->lsdf = br.lcdf;
      req->lcdf = br.lsdf;
    } else {
      br.x = x / (x + r);
      br.a = df1 / 2.0;
      br.b = df2 / 2.0;
      if (zlogbet(&br) != 0)
        return 1;
      req->lcdf = br.lcdf;
      req->lsdf = br.lsdf;
    }
    req->ldens = std::log(r / ((x + r) * (x + r))) + br.ldens;
    return 0;
  }
  const double u = std::pow(x * df1 / (df1 + nc), 0.3333333333333);
  const double c1 = (2.0 * nc + df1) * 0.222222222222222 / ((nc + df1) * (nc + df1));
  const double c2 = 0.2222222222222222 / df2;
  const double z = (u * (1.0 - c2) + (c1 - 1.0)) / std::sqrt(c2 * u * u + c1);
  req->lower = z <= -2.0 ? 1 : 0;
  int32_t st = 1;
  if (nc <= 500.0)
    st = zserfnc(req);
  if (st != 0)
    st = zintfnc(req);
  return st;
}

namespace {
[[nodiscard]] int32_t evalF(void* r, double x, double* lcdf, double* lsdf) {
  auto* req = static_cast<FncRequest*>(r);
  req->x = x;
  if (ComputeTheProbability(req) != 0)
    return 1;
  *lcdf = req->lcdf;
  *lsdf = req->lsdf;
  return 0;
}

[[nodiscard]] bool validDf(const FncRequest* req) {
  return req->df1 > kMinDf && req->df1 <= kMaxDf && req->df2 > kMinDf && req->df2 <= kMaxDf &&
         req->nc >= 0.0;
}

// Cube-root normal approximation of the numerator at deviate z, scaled by df1.
double guessAt(const FncRequest* req, double z) {
  double m = req->df1 + req->nc;
  double c = 2.0 * (req->df1 + 2.0 * req->nc) / (9.0 * m * m);
  double w = 1.0 - c + z * std::sqrt(c);
  double g = m * w * w * w / req->df1;
  return g > 1e-300 ? g : 1e-3;
}
} // namespace

double ComputeTheInitialGuess(FncRequest* req) {
  req->stepUp = 1.5;
  req->stepDown = 0.7;
  return guessAt(req, zprobit(req->p));
}

double ComputeTheSDFInitialGuess(FncRequest* req) {
  req->stepUp = 1.5;
  req->stepDown = 0.7;
  return guessAt(req, -zprobit(req->p));
}

int32_t ComputeTheQuantile(FncRequest* req) {
  if (!(req->p > 0.0 && req->p <= kTopTarget) || !validDf(req))
    return 1;
  double x0 = ComputeTheInitialGuess(req);
  double xq;
  if (zquantLowerTail(req, evalF, x0, req->p, req->stepUp, req->stepDown, &xq) != 0)
    return 1;
  req->x = xq;
  return 0;
}

int32_t ComputeTheQUANTInitialGuess(QuantileSolve* rec) {
  auto* req = static_cast<FncRequest*>(rec->context);
  rec->xStart = ComputeTheSDFInitialGuess(req);
  rec->stepUp = req->stepUp;
  rec->stepDown = req->stepDown;
  return 0;
}

int32_t ComputeTheQUANTFunction(QuantileSolve* rec) {
  auto* req = static_cast<FncRequest*>(rec->context);
  req->x = rec->x;
  return ComputeTheProbability(req) != 0 ? 1 : 0;
}

int32_t ComputeTheSDFQuantile(FncRequest* req) {
  if (!(req->p > 0.0 && req->p <= kTopTarget) || !validDf(req))
    return 1;
  req->lsdf = std::log(req->p);
  return zquantUpperTail(&req->lsdf, req->tolQuant, ComputeTheQUANTInitialGuess,
                         ComputeTheQUANTFunction, req, &req->x);
}
} // namespace ffamily

int32_t zlogfnc(FncRequest* req) {
  const uint32_t mode = req->mode;
  if (mode < 1 || mode > 15)
    return 1;
  if (req->tol < kDispatchTolFloor)
    req->tol = kDispatchTolFloor;
  req->tolTiny = 1.110223024625157e-16;
  req->tolQuant = std::fmax(kRouteTol, req->tol);
  if (mode & 8u) {
    int32_t st = ffamily::ComputeTheSDFQuantile(req);
    req->mode = mode;
    return st;
  }
  if (mode & 4u) {
    int32_t st = ffamily::ComputeTheQuantile(req);
    req->mode = mode;
    return st;
  }
  if (mode & 1u) {
    int32_t st = ffamily::ComputeTheProbability(req);
    if (st != 0)
      return st;
  }
  if (mode & 2u) {
    if (!(req->x >= 0.0) || !(req->df1 > kMinDf) || !(req->df2 > kMinDf))
      return 1;
    if (!(mode & 1u)) {
      // The density alone: evaluate the probability route for its density.
      FncRequest tmp = *req;
      tmp.mode = 1;
      if (ffamily::ComputeTheProbability(&tmp) != 0)
        return 1;
      req->ldens = tmp.ldens;
    }
    if (req->nc > 0.0 && req->x > 0.0) {
      // Noncentral density: the Poisson mixture of central F densities.
      const double r = req->df2 / req->df1, x = req->x;
      MixtureContext ctx{x / (x + r), req->df1 / 2.0, req->df2 / 2.0};
      double mix = zlogPoissonMix(req->nc / 2.0, betaTerm, &ctx);
      if (!std::isfinite(mix))
        return 1;
      req->ldens = std::log(r / ((x + r) * (x + r))) + mix;
    }
  }
  return 0;
}

int32_t zlogFNCApproxLarge(double* lcdf, double* lsdf, double f, double df1, double df2,
                           double nc) {
  if (!(f >= 0.0) || !(df1 > 0.0) || !(df2 > 0.0) || !(nc >= 0.0))
    return kFncBadArguments;
  if (f == 0.0) {
    *lsdf = 0.0;
    *lcdf = kLogZero;
    return 0;
  }
  if (f == HUGE_VAL) {
    *lcdf = 0.0;
    *lsdf = kLogZero;
    return 0;
  }
  FncRequest req{};
  req.x = f;
  req.df1 = df1;
  req.df2 = df2;
  req.nc = nc;
  req.tol = kRouteTol;
  req.mode = 1;
  if (zlogfnc(&req) == 0) {
    *lcdf = req.lcdf;
    *lsdf = req.lsdf;
    return 0;
  }
  if (df2 > 1e7 && df1 < 1e7) {
    CncRequest c{};
    c.x = f * df1;
    c.df = df1;
    c.tol = kRouteTol;
    c.mode = 1;
    if (zlogcnc(&c) == 0) {
      *lcdf = c.lcdf;
      *lsdf = c.lsdf;
      return 0;
    }
  } else if (df1 > 1e7 && df2 < 1e7) {
    CncRequest c{};
    c.x = df2 / f;
    c.df = df2;
    c.tol = kRouteTol;
    c.mode = 1;
    if (zlogcnc(&c) == 0) {
      *lcdf = c.lsdf;
      *lsdf = c.lcdf;
      return 0;
    }
  }
  // Normal approximation: it needs the variance of F, which exists only for df2 > 4.
  if (!(df2 > 4.0))
    return 2;
  const double m = df2 / (df2 - 2.0);
  const double s = m * std::sqrt(2.0 * (df1 + df2 - 2.0) / (df1 * (df2 - 4.0)));
  const double z = (f - m) / s;
  if (std::isnan(z))
    return 2; // infinite degrees of freedom leave no scale either
  double d;
  return zlognrm(lcdf, lsdf, &d, z);
}

int32_t zprbfNew(double* prob, double f, double df1, double df2) {
  if (!(f >= 0.0) || !(df1 > 0.0) || !(df2 > 0.0)) {
    *prob = hostMissing();
    return -1;
  }
  if (f == 0.0) {
    *prob = 1.0;
    return 0;
  }
  double w = df2 / (f * df1 + df2);
  if (w == 0.0) {
    *prob = 0.0;
    return 0;
  }
  double pr, dens;
  if (zibeta(w, df2 / 2.0, df1 / 2.0, &pr, &dens) != 0) {
    *prob = hostMissing();
    return -2;
  }
  *prob = pr;
  return 0;
}

double zprbf(double f, double df1, double df2) {
  double pr;
  int32_t st = zprbfNew(&pr, f, df1, df2);
  return st == 0 ? pr : static_cast<double>(st);
}

int32_t zplbfnc(double* cdf, double x, double df1, double df2, double nc) {
  if (!(x >= 0.0) || !(df1 > 0.0) || !(df2 > 0.0) || !(nc >= 0.0))
    return 1;
  if (x == 0.0) {
    *cdf = 0.0;
    return 0;
  }
  FncRequest req{};
  req.x = x;
  req.df1 = df1;
  req.df2 = df2;
  req.nc = nc;
  req.mode = 1;
  if (zlogfnc(&req) != 0)
    return 1;
  *cdf = std::exp(req.lcdf);
  return 0;
}
