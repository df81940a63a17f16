// The adaptive integrator: a first pass walks outwards from the centre until the terms are
// negligible, then each level adds the midpoints of the previous grid until two estimates
// agree. In the exponent form every running quantity is rescaled whenever the integrand
// raises the exponent, so the stop test always compares values on one scale.
#include "numerics/zhrdys.h"

#include "numerics/zelementary.h"

#include <cmath>

namespace hrdys {
namespace {
constexpr double kHuge = 1.3407807929943e154;
constexpr double kExpLow = -708.3964185;
constexpr double kExpHigh = 709.782712893384;
constexpr double kDblMaxLoose = 1.7976931348623157e308;

// Running quantities of a pass that must follow the exponent of the record.
struct Pass {
  double centreValue = 0.0;
  double last[3] = {0.0, 0.0, 0.0};
  double oldResult = 0.0;
  double walkSum = 0.0;
};

// Brings every running value to the exponent the integrand has just reported.
[[nodiscard]] bool rescale(IntegrationRecord* r, Pass* ps) {
  if (!r->logScale || r->exponent == r->exponentOld)
    return true;
  double e = -(static_cast<double>(r->exponent) - static_cast<double>(r->exponentOld)) * r->logBase;
  if (e > kExpHigh)
    return false;
  double f = e < kExpLow ? 0.0 : std::exp(e);
  r->sum *= f;
  r->result *= f;
  r->lastValue *= f;
  r->refValue *= f;
  ps->centreValue *= f;
  ps->oldResult *= f;
  ps->walkSum *= f;
  for (double& v : ps->last)
    v *= f;
  r->exponentOld = r->exponent;
  return true;
}
} // namespace

// One point of the trapezoid variable t: its abscissa x and the weight dx/dt.
void map(const IntegrationRecord* r, double t, double* x, double* w) {
  switch (r->mode) {
  case 1:
    *x = r->centre + t;
    *w = 1.0;
    return;
  case 2: {
    double u = r->centre * std::exp(t);
    *x = r->lower + u;
    *w = u;
    return;
  }
  default: {
    double u = r->centre * std::exp(t);
    if (u > 1e300) {
      *x = r->upper;
      *w = 0.0;
      return;
    }
    *x = (r->lower + r->upper * u) / (1.0 + u);
    *w = u / ((1.0 + u) * (1.0 + u));
    return;
  }
  }
}

// Evaluates the weighted integrand at t into *v. Returns false when the pass fails.
[[nodiscard]] bool point(IntegrationRecord* r, Pass* ps, double t, double* v) {
  double x, w;
  map(r, t, &x, &w);
  if (!(std::fabs(x) <= kHuge))
    return false;
  if (r->mode >= 2 && (x == r->lower || (r->mode == 3 && x == r->upper))) {
    r->boundaryHit = 1;
    r->boundaryPoint = x;
    r->boundaryValue = r->lastValue;
    if (r->strictBoundary && std::fabs(r->lastValue) > std::fabs(r->refValue) * r->tol)
      return false;
    *v = 0.0;
    return true;
  }
  double f;
  if (r->integrand(x, r->context, &f) != 0 || r->errorFlag) {
    r->errorFlag = 1;
    return false;
  }
  if (!rescale(r, ps))
    return false;
  *v = f * w;
  r->lastValue = *v;
  return true;
}

// A run of count points t = start, start + delta, ... added into ps->walkSum. With
// stopEarly the run ends when the last three magnitudes are negligible beside the
// centre value plus walkSum; *taken receives the number of points evaluated.
[[nodiscard]] bool add(IntegrationRecord* r, Pass* ps, double start, double delta, int32_t count,
                       bool stopEarly, int32_t* taken) {
  ps->last[0] = ps->last[1] = ps->last[2] = kHuge;
  for (int32_t i = 1; i <= count; ++i) {
    double v;
    if (!point(r, ps, start + (i - 1) * delta, &v))
      return false;
    ps->walkSum += v;
    if (!(std::fabs(ps->walkSum) <= kHuge))
      return false;
    ps->last[0] = ps->last[1];
    ps->last[1] = ps->last[2];
    ps->last[2] = std::fabs(v);
    if (stopEarly && ps->last[0] + ps->last[1] + ps->last[2] <=
                         std::fabs(r->tolThird * (ps->centreValue + ps->walkSum))) {
      *taken = i;
      return true;
    }
  }
  *taken = count;
  return true;
}

// First pass at step initialStep: the centre, then both directions until negligible.
[[nodiscard]] bool shaccum(IntegrationRecord* r, Pass* ps) {
  double h = r->initialStep;
  r->refValue = 1.0;
  double v0;
  if (!point(r, ps, 0.0, &v0) || r->errorFlag)
    return false;
  if (!(std::fabs(v0) >= (1.0 / r->tol) / kDblMaxLoose))
    return false;
  ps->centreValue = v0;
  ps->walkSum = 0.0;
  int32_t n;
  if (!add(r, ps, h, h, r->countPlus, true, &n))
    return false;
  r->countPlus = n;
  r->refValue = ps->centreValue + ps->walkSum;
  if (!add(r, ps, -h, -h, r->countMinus, true, &n))
    return false;
  r->countMinus = n;
  r->sum = ps->walkSum;
  double res = h * (ps->centreValue + r->sum);
  if (r->mode == 3)
    res *= r->width;
  r->result = res;
  r->refValue = res;
  return true;
}
} // namespace hrdys

int32_t zhrdys(IntegrationRecord* rec, double* result) {
  using namespace hrdys;
  IntegrationRecord* r = rec;
  if (r->integrand == nullptr || !(r->tol > 0.0) || !(r->initialStep > 0.0) || r->mode < 1 ||
      r->mode > 3)
    return 1;
  r->tolThird = r->tol * 0.33333333333333;
  r->countPlus = r->countMinus = 10000;
  r->level = 0;
  r->boundaryHit = 0;
  r->errorFlag = 0;
  if (r->logScale) {
    if (!(r->base > 1.0))
      return 1;
    r->logBase = std::log(r->base);
    r->invLogBase = 1.0 / r->logBase;
  }
  if (r->mode == 2) {
    double u0 = r->centre - r->lower;
    r->centre = u0 > 0.0 ? u0 : r->initialStep;
  } else if (r->mode == 3) {
    if (!(r->upper > r->lower))
      return 1;
    r->width = r->upper - r->lower;
    double u0 = (r->centre - r->lower) / (r->upper - r->centre);
    if (std::fabs(r->centre - r->upper) <= std::fabs(r->upper) * 1.053671212772351e-08 ||
        !(u0 > 0.0))
      u0 = 1.0;
    r->centre = u0;
  }
  const int32_t pointLimit = r->maxPoints > 32767 ? r->maxPoints : 32767;
  const double s = r->marker == kIntegrationMarker ? std::pow(r->tol, 0.75) : std::sqrt(r->tol);

  Pass ps;
  if (!shaccum(r, &ps))
    return 1;
  double h = r->initialStep;
  r->step = h;
  for (;;) {
    ++r->level;
    if (r->level > r->maxLevels || r->errorFlag)
      return 1;
    if (2LL * r->countPlus > pointLimit || 2LL * r->countMinus > pointLimit)
      return 1;
    ps.oldResult = r->result;
    double oldLog = 0.0;
    r->halfStep = h / 2.0;
    ps.walkSum = 0.0;
    int32_t n;
    if (!add(r, &ps, r->halfStep, h, r->countPlus, false, &n))
      return 1;
    if (!add(r, &ps, -r->halfStep, -h, r->countMinus, false, &n))
      return 1;
    r->sum = ps.walkSum;
    double addend = h * r->sum;
    if (r->mode == 3)
      addend *= r->width;
    double T = (r->result + addend) / 2.0;
    r->result = T;
    h = r->halfStep;
    r->step = h;
    r->countPlus *= 2;
    r->countMinus *= 2;
    double oldV = ps.oldResult, newV = T;
    if (r->logScale) {
      // The change on the log scale, recorded for the caller; the stop test below compares
      // the two estimates on the common exponent.
      oldLog = oldV != 0.0 ? std::log(std::fabs(oldV)) * r->invLogBase + r->exponent : -kHuge;
      double newLog =
          newV != 0.0 ? std::log(std::fabs(newV)) * r->invLogBase + r->exponent : -kHuge;
      r->relChange = newLog != 0.0 ? std::fabs(oldLog - newLog) / std::fabs(newLog) : kHuge;
    } else {
      r->relChange = newV != 0.0 ? std::fabs(oldV - newV) / std::fabs(newV) : kHuge;
    }
    double diff = std::fabs(oldV - newV);
    bool done = false;
    if (r->testType == 0) {
      done = diff < std::fmax(std::fabs(newV) * s, r->tol);
    } else if (r->testType == 1) {
      done = diff < std::fabs(newV) * s;
      if (!done && r->logScale && r->zeroOk) {
        double mag = newV == 0.0 ? -kHuge : std::log(std::fabs(newV)) + r->exponent * r->logBase;
        done = mag < std::log(r->tol);
      }
    }
    if (done) {
      *result = r->result;
      return 0;
    }
  }
}

void zhrdysExponentForm(IntegrationRecord* rec, IntegrandFn integrand, void* context) {
  rec->logScale = 1;
  rec->base = 2.718281828459045;
  rec->exponent = rec->exponentOld = -2147483647;
  rec->context = context;
  rec->integrand = integrand;
}

int32_t zhrdysExponentValue(IntegrationRecord* rec, double v, double* value) {
  if (v > rec->exponent) {
    if (std::fabs(v) > 2147483647.0)
      return 1;
    rec->exponent = static_cast<int32_t>(v);
  }
  double e = v - rec->exponent;
  *value = e < kExpUnderflow ? 0.0 : std::exp(e);
  return 0;
}
