// The generic quantile solver. The transform of every scale kind increases with x (it is
// the log-odds of the lower tail), so bracketing and bracket updates compare transforms.
// Secant steps run through the two latest points, linear in x or in log x.
#include "numerics/zquant.h"

#include "numerics/zelementary.h"
#include "support/hostif.h"

#include <cmath>

namespace quantsolver {
namespace {
constexpr double kMinTol = 1.053671212772351e-8;

double transformTarget(const QuantileSolve* r, double v) {
  switch (r->scaleKind) {
  case 0:
    return std::log(v / (1.0 - v));
  case 1: {
    double lv = std::fmin(v, -2.220446049250314e-16);
    return lv - std::log(-zexpm1(lv));
  }
  default: {
    double lv = std::fmin(v, -2.220446049250314e-16);
    return std::log(-zexpm1(lv)) - lv;
  }
  }
}
} // namespace

int32_t EvaluateTarget(QuantileSolve* r, double x, bool* hit) {
  *hit = false;
  r->x = x;
  if (r->evaluate(r) != 0)
    return 1;
  double v = *r->prob;
  if (r->scaleKind == 0) {
    double pc = std::fmin(std::fmax(v, 1.110223024625157e-16), 0.999999999);
    r->probClamped = pc;
    if (std::fabs(pc - r->target) < r->tol * std::fabs(r->target)) {
      *hit = true;
      r->f = r->fTarget;
      return 0;
    }
    r->f = std::log(pc / (1.0 - pc));
    return 0;
  }
  r->probClamped = v;
  r->f = transformTarget(r, v);
  if (std::fabs(r->f - r->fTarget) < r->tol * std::fmax(1.0, std::fabs(r->fTarget)))
    *hit = true;
  return 0;
}

int32_t BracketTheSolution(QuantileSolve* r) {
  if (isHostMissing(*r->prob) || r->xStart < r->xMin)
    return kQuantNoStart;
  double x = r->xStart;
  bool hit;
  if (EvaluateTarget(r, x, &hit) != 0)
    return 1;
  if (hit)
    return kQuantSolved; // solved at the start
  double f = r->f;
  const bool below = f < r->fTarget;
  double prevX = x, prevF = f, prevP = *r->prob;
  for (int32_t i = 0; i < 70; ++i) {
    x *= below ? r->stepUp : r->stepDown;
    if (x < r->xMin)
      return 1;
    if (EvaluateTarget(r, x, &hit) != 0)
      return 1;
    if (hit)
      return kQuantSolved;
    if ((r->f < r->fTarget) != below) {
      if (below) {
        r->xLo = prevX;
        r->fLo = prevF;
        r->probLo = prevP;
        r->xHi = x;
        r->fHi = r->f;
        r->probHi = *r->prob;
      } else {
        r->xHi = prevX;
        r->fHi = prevF;
        r->probHi = prevP;
        r->xLo = x;
        r->fLo = r->f;
        r->probLo = *r->prob;
      }
      return 0;
    }
    prevX = x;
    prevF = r->f;
    prevP = *r->prob;
  }
  return 1;
}

int32_t ComputeAtTheTwoEnds(QuantileSolve* r) {
  bool hit;
  if (EvaluateTarget(r, r->xLo, &hit) != 0)
    return 1;
  if (hit)
    return kQuantSolved;
  r->fLo = r->f;
  r->probLo = *r->prob;
  if (EvaluateTarget(r, r->xHi, &hit) != 0)
    return 1;
  if (hit)
    return kQuantSolved;
  r->fHi = r->f;
  r->probHi = *r->prob;
  return 0;
}
} // namespace quantsolver

int32_t zquant(QuantileSolve* r) {
  using namespace quantsolver;
  if (r->evaluate == nullptr || r->prob == nullptr)
    return r->status = 1;
  if (r->scaleKind < 0 || r->scaleKind > 2)
    return r->status = 1;
  r->target = *r->prob;
  r->fTarget =
      r->scaleKind == 0 ? std::log(r->target / (1.0 - r->target)) : transformTarget(r, r->target);
  if (r->tol < kMinTol)
    r->tol = kMinTol;
  if (r->initialGuess != nullptr && r->initialGuess(r) != 0)
    return r->status = 1;

  int32_t st = r->bracketGiven ? ComputeAtTheTwoEnds(r) : BracketTheSolution(r);
  if (st == -1)
    return r->status = 0; // a point met the target
  if (st != 0)
    return r->status = st;

  const double T = r->fTarget;
  const double closeT = r->tol * std::fabs(T);
  if (std::fabs(r->fLo - T) <= closeT) {
    r->x = r->xLo;
    return r->status = 0;
  }
  if (std::fabs(r->fHi - T) <= closeT) {
    r->x = r->xHi;
    return r->status = 0;
  }

  double xa = r->xLo, fa = r->fLo, xb = r->xHi, fb = r->fHi;
  for (int32_t it = 0; it < 70; ++it) {
    if (fa == fb) {
      r->x = xb;
      return r->status = std::fabs(fb - T) <= closeT ? 0 : 1;
    }
    double step, xNew;
    bool small;
    if (r->interpKind == 2) {
      step = std::fmin(5.0, std::log(xb / xa) * (T - fa) / (fb - fa));
      xNew = xa * std::exp(step);
      small = std::fabs(step) < r->tol; // the step is already relative on the log scale
    } else {
      step = (T - fa) / (fb - fa) * (xb - xa);
      xNew = xa + step;
      small = std::fabs(step) < r->tol * std::fabs(xNew);
    }
    if (small || std::fabs(fb - T) < r->tol2 * std::fmax(std::fabs(fb), std::fabs(T))) {
      r->x = xNew;
      return r->status = 0;
    }
    // Keep new points inside the bracket: a secant step through two points on one side can
    // leave it.
    if (!(xNew > r->xLo && xNew < r->xHi))
      xNew = r->interpKind == 2 ? std::sqrt(r->xLo * r->xHi) : 0.5 * (r->xLo + r->xHi);
    bool hit;
    if (EvaluateTarget(r, xNew, &hit) != 0)
      return r->status = 1;
    if (hit)
      return r->status = 0;
    double xR = xNew, fR = r->f;
    if (r->bisect) {
      double mid = 0.5 * (r->xLo + r->xHi);
      for (int32_t h = 0; h < 10; ++h) {
        if (EvaluateTarget(r, mid, &hit) != 0)
          return r->status = 1;
        if (hit)
          return r->status = 0;
        if (r->f != fR)
          break;
        mid = 0.5 * (mid + (fR < T ? r->xHi : r->xLo));
      }
      if (std::fabs(r->f - T) < std::fabs(fR - T)) {
        xR = mid;
        fR = r->f;
      }
    }
    if (fR < T) {
      r->xLo = xR;
      r->fLo = fR;
    } else if (fR > T) {
      r->xHi = xR;
      r->fHi = fR;
    } else {
      r->xLo = r->xHi = r->x = xR;
      return r->status = 0;
    }
    xa = xb;
    fa = fb;
    xb = xR;
    fb = fR;
    r->x = xR;
  }
  return r->status = 1;
}

int32_t zquantLowerTail(void* req, FamilyEval eval, double x0, double p, double stepUp,
                        double stepDown, double* xOut) {
  if (!(p > 0.0 && p < 1.0) || !(x0 > 0.0))
    return 1;
  const double T = std::log(p / (1.0 - p));
  const double lp = std::log(p);
  double lcdf, lsdf;
  if (eval(req, x0, &lcdf, &lsdf) != 0)
    return 1;
  if (lcdf == lp) {
    *xOut = x0;
    return 0;
  }
  const bool up = lcdf < lp;
  double xa = x0, ga = lcdf - lsdf, xb = x0, gb = ga;
  for (int32_t i = 0; i < 50; ++i) {
    xa = xb;
    ga = gb;
    xb = xa * (up ? stepUp : stepDown);
    if (eval(req, xb, &lcdf, &lsdf) != 0)
      return 1;
    gb = lcdf - lsdf;
    if (up ? lcdf >= lp : lcdf <= lp)
      break;
  }
  for (int32_t it = 0; it < 70; ++it) {
    if (ga == gb)
      return 1;
    double xNew = xb * std::exp((std::log(xa) - std::log(xb)) * (T - gb) / (ga - gb));
    if (!(xNew > 0.0) || !std::isfinite(xNew))
      return 1;
    if (eval(req, xNew, &lcdf, &lsdf) != 0)
      return 1;
    if (std::fabs(xNew - xb) <
        1.053671212772351e-8 * std::fmax(std::fabs(xNew), 1.110223024625157e-16)) {
      *xOut = xNew;
      return 0;
    }
    xa = xb;
    ga = gb;
    xb = xNew;
    gb = lcdf - lsdf;
  }
  return 1;
}

int32_t zquantUpperTail(double* logTail, double tol, QuantileFn initialGuess, QuantileFn evaluate,
                        void* context, double* x) {
  QuantileSolve rec{};
  rec.scaleKind = 2;
  rec.interpKind = 2;
  rec.tol = tol;
  rec.tol2 = 1e-13;
  rec.prob = logTail;
  rec.xMin = 0.0;
  rec.initialGuess = initialGuess;
  rec.evaluate = evaluate;
  rec.context = context;
  int32_t st = zquant(&rec);
  *x = st == 0 ? rec.x : hostMissing();
  return st;
}
