// Log gamma by rational approximations on [1, 2] (after reduction by the recurrence) and
// the Stirling series from 15 on; log beta with a large-argument form that avoids the
// cancellation of three large log gammas. Callers treat the marks as invalid arguments.
#include "numerics/zlgamma.h"

#include "numerics/zelementary.h"
#include "support/hostif.h"

#include <cmath>

namespace {
constexpr double kEps = 1.110223024625157e-16;

const double P1[7] = {0.002126546376940967, 0.05692342633165193, 0.36252537533106266,
                      0.7494577256954738,   0.2079812846119617,  -0.8017986934675778,
                      -0.5772156649015329};
const double Q1[7] = {0.0005124543681927987,
                      0.026724016735058816,
                      0.31469269123782706,
                      1.4276752135116328,
                      2.9550965510668346,
                      2.8139668163177345,
                      1.0};
const double P2[7] = {9.627912858833401e-05, 0.004410493669232917, 0.05678875296955259,
                      0.3098673634213962,    0.8058203645027399,   0.9712118746069075,
                      0.42278433509846713};
const double Q2[7] = {2.1326962979603636e-05,
                      0.0016767266689027731,
                      0.03194668377437606,
                      0.24611091348667924,
                      0.8949255863507323,
                      1.5344580849517535,
                      1.0};

double horner7(const double* c, double z) {
  double v = c[0];
  for (int i = 1; i < 7; ++i)
    v = v * z + c[i];
  return v;
}
} // namespace

double zlgbern(double x) {
  double u = 1.0 / x;
  double t = u * u;
  return u * (0.08333333333333333 +
              t * (-0.002777777777777778 +
                   t * (0.0007936507936507937 +
                        t * (-0.0005952380952380953 +
                             t * (0.0008417508417508417 - 0.0019175269175269176 * t)))));
}

double zlgamma(double x) {
  if (!(x > kDblMinNormal))
    return kLgammaInvalid;
  if (std::fabs(x - 1.0) < kEps || std::fabs(x - 2.0) < kEps)
    return 0.0;
  if (x >= 15.0)
    return (x - 0.5) * std::log(x) + (kLnSqrt2Pi - x) + zlgbern(x);
  double f = 1.0, y = x;
  while (y < 1.0) {
    f /= y;
    y += 1.0;
  }
  while (y > 2.0) {
    y -= 1.0;
    f *= y;
  }
  if (std::fabs(x - 0.5 - std::trunc(x)) < kEps)
    return std::log(f) - 0.12078223763524522;
  double g;
  if (y < 1.5) {
    double z = y - 1.0;
    g = z * horner7(P1, z) / horner7(Q1, z);
  } else {
    double z = y - 2.0;
    g = z * horner7(P2, z) / horner7(Q2, z);
  }
  return std::log(f) + g;
}

double zlgammaModeTerm(double x, double a) {
  const double d = (x - a) / a;
  return a * zln1pmx(d) - zln1px(d);
}

double zlbeta(double a, double b) {
  if (!(a > 0.0) || !(b > 0.0))
    return kLbetaInvalid;
  double L = a > b ? a : b;
  double S = a > b ? b : a;
  double s = a + b;
  // A log gamma mark (argument below the smallest normal double) is not a number to add.
  double gS = zlgamma(S);
  if (gS == kLgammaInvalid)
    return kLbetaInvalid;
  if (L < 15.0)
    return zlgamma(L) + gS - zlgamma(s);
  return gS + zlgbern(L) - zlgbern(s) + (s - 0.5) * zln1px(-S / s) + S - S * std::log(L);
}

int32_t zldngam(double x, double a, double* res) {
  if (x < 0.0 || !(a > 0.0))
    return 1;
  if (x == 0.0) {
    *res = a == 1.0 ? 0.0 : hostMissing();
    return 0;
  }
  if (a < 10.0 || std::fabs(x / a - 1.0) > 0.3)
    *res = (a - 1.0) * std::log(x) - (zlgamma(a) + x);
  else
    *res = zlgammaModeTerm(x, a) - zlgbern(a) - 0.5 * std::log(a) - kLnSqrt2Pi;
  return 0;
}

int32_t zlgammaMV(double a, int32_t p, double* res) {
  if (p < 1 || !(a - (p - 1) / 2.0 > 0.0)) {
    *res = hostMissing();
    return 1;
  }
  double s = p * (p - 1) / 4.0 * 1.1447298858494002;
  for (int32_t j = 1; j <= p; ++j) {
    double g = zlgamma(a - (j - 1) / 2.0);
    if (g == kLgammaInvalid) {
      *res = hostMissing();
      return 1;
    }
    s += g;
  }
  *res = s;
  return 0;
}

int32_t zlbetaMV(double a, double b, int32_t p, double* res) {
  if (p < 1 || !(a > (p - 1) / 2.0) || !(b > (p - 1) / 2.0)) {
    *res = hostMissing();
    return 1;
  }
  if (p == 1) {
    *res = zlbeta(a, b);
    return *res == kLbetaInvalid ? 1 : 0;
  }
  double ga, gb, gs;
  if (zlgammaMV(a, p, &ga) || zlgammaMV(b, p, &gb) || zlgammaMV(a + b, p, &gs)) {
    *res = hostMissing();
    return 1;
  }
  *res = ga + gb - gs;
  return 0;
}
