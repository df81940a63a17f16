// Normal distribution routines. calerf follows Cody's rational Chebyshev approximations
// (Math. Comp. 1969) with his published coefficient sets; the far lower tail of the probit
// is a Newton iteration on the log scale. The Mills ratio comes from zelementary.cpp.
#include "numerics/znormal.h"

#include "numerics/zelementary.h"

#include <algorithm>
#include <cmath>

namespace {
const double a[5] = {3.16112374387056560e00, 1.13864154151050156e02, 3.77485237685302021e02,
                     3.20937758913846947e03, 1.85777706184603153e-1};
const double b[4] = {2.36012909523441209e01, 2.44024637934444173e02, 1.28261652607737228e03,
                     2.84423683343917062e03};
const double c[9] = {5.64188496988670089e-1, 8.88314979438837594e00, 6.61191906371416295e01,
                     2.98635138197400131e02, 8.81952221241769090e02, 1.71204761263407058e03,
                     2.05107837782607147e03, 1.23033935479799725e03, 2.15311535474403846e-8};
const double d[8] = {1.57449261107098347e01, 1.17693950891312499e02, 5.37181101862009858e02,
                     1.62138957456669019e03, 3.29079923573345963e03, 4.36261909014324716e03,
                     3.43936767414372164e03, 1.23033935480374942e03};
const double p[6] = {3.05326634961232344e-1, 3.60344899949804439e-1, 1.25781726111229246e-1,
                     1.60837851487422766e-2, 6.58749161529837803e-4, 1.63153871373020978e-2};
const double q[5] = {2.56852019228982242e00, 1.87295284992346725e00, 5.27905102951428412e-1,
                     6.05183413124413191e-2, 2.33520497626869185e-3};

constexpr double kErfcZero = 1003.7843389117924;
constexpr double kSqrtPiInv = 0.5641895835477563;
constexpr double kRootHalf = 0.7071067811865476;

// The rational function of the far region (y > 4) at r = 1/y^2.
double farRational(double r) {
  double num = p[5] * r, den = r;
  for (int i = 0; i < 4; ++i) {
    num = (num + p[i]) * r;
    den = (den + q[i]) * r;
  }
  return r * (num + p[4]) / (den + q[4]);
}

// erfc(y) for y > 0.46875.
double erfcPositive(double y) {
  if (y > kErfcZero)
    return 0.0;
  if (y <= 4.0) {
    double num = c[8] * y, den = y;
    for (int i = 0; i < 7; ++i) {
      num = (num + c[i]) * y;
      den = (den + d[i]) * y;
    }
    return std::exp(-y * y) * (num + c[7]) / (den + d[7]);
  }
  double r = farRational(1.0 / (y * y));
  if (-y * y < kExpUnderflow)
    return 0.0;
  return (kSqrtPiInv - r) * std::exp(-y * y) / y;
}

double horner(const double* coef, int n, double x) {
  double v = coef[0];
  for (int i = 1; i < n; ++i)
    v = v * x + coef[i];
  return v;
}

const double N1[8] = {0.00023850990628812184, 0.007748014532123519, 0.09433047102597236,
                      0.5906175347671243,     2.0524292014826053,   3.926527220876258,
                      3.827787912267809,      1.4756646266356057};
const double D1[8] = {
    0.00023846672191006805, 0.007472090148248392, 0.08675117268832777, 0.5155497927835685,
    1.6853868285749263,     3.0193046324086072,   2.757985744718407,   1.0};
const double N2[9] = {2.2366406817573622e-7, 1.4756630668977935,    2.9349133839409465,
                      2.302486886454419,     0.9208235553699621,    0.1971184884114817,
                      0.021322238814693088,  0.0009933095513250212, 1.3896718225467155e-5};
const double D2[8] = {1.0,
                      2.152916059924272,
                      1.8195065884540687,
                      0.7785719242838022,
                      0.1775558927085442,
                      0.020255719894916695,
                      0.000977052221781334,
                      1.389640654034189e-5};

// Newton's method on the log cdf for p < 1e-16. Fails (returns false) when zlognrm fails
// or 30 evaluations do not reach the stop test.
[[nodiscard]] bool farTailNewton(double pr, double* out) {
  double lp = std::log(pr);
  double x = -std::sqrt(-2.0 * lp);
  for (int it = 0; it < 30; ++it) {
    double lcdf, lsdf, ldens;
    if (zlognrm(&lcdf, &lsdf, &ldens, x) != 0)
      return false;
    double dlt = lcdf - lp;
    if (std::fabs(dlt) < 1e-12 * std::fabs(lp)) {
      if (it < 29) {
        *out = x;
        return true;
      }
      return false;
    }
    x -= dlt * std::exp(lcdf - ldens);
  }
  return false;
}
} // namespace

void calerf(double* result, int32_t kind, double x) {
  double y = std::fabs(x);
  if (y <= 0.46875) {
    double s = y > 4.2e-16 ? x * x : 0.0;
    double num = a[4] * s, den = s;
    for (int i = 0; i < 3; ++i) {
      num = (num + a[i]) * s;
      den = (den + b[i]) * s;
    }
    double erfv = x * (num + a[3]) / (den + b[3]);
    *result = kind == 0 ? erfv : 1.0 - erfv;
    return;
  }
  double ec = erfcPositive(y);
  if (kind == 0) {
    double v = (0.5 - ec) + 0.5;
    *result = x < 0.0 ? -v : v;
  } else {
    *result = x < 0.0 ? 2.0 - ec : ec;
  }
}

double zferf(double x) {
  double r;
  calerf(&r, 0, x);
  return r;
}

double zferfc(double x) {
  double r;
  calerf(&r, 1, x);
  return r;
}

double zprbnrm(double x) {
  double y = x * kRootHalf;
  double r;
  if (x > 0.0) {
    calerf(&r, 0, y);
    return std::ldexp(1.0 + r, -1);
  }
  calerf(&r, 1, -y);
  return std::ldexp(r, -1);
}

int32_t zlognrm(double* lcdf, double* lsdf, double* ldens, double z) {
  *ldens = -0.5 * z * z - kLnSqrt2Pi;
  double az = std::fabs(z);
  double small;
  if (az >= 5.0) {
    double m;
    if (zmillsr(az, &m) != 0)
      return 1;
    small = std::log(m) + *ldens;
  } else {
    double ec;
    calerf(&ec, 1, az * kRootHalf);
    small = std::log(0.5 * ec);
  }
  if (z <= 0.0) {
    *lcdf = small;
    *lsdf = zln1px(-std::exp(small));
  } else {
    *lsdf = small;
    *lcdf = zln1px(-std::exp(small));
  }
  return 0;
}

double szprobit(double pr) {
  double x;
  if (farTailNewton(pr, &x))
    return x;
  return -std::sqrt(-2.0 * std::log(2.225073858507202e-306));
}

double zprobit(double pr) {
  if (pr == 0.0)
    return -std::sqrt(1416.792837);
  if (pr == 1.0)
    return 7.941345326170997;
  if (pr < 1e-16)
    return szprobit(pr);
  double qq = std::min(pr, 1.0 - pr);
  double t = std::sqrt(-2.0 * std::log(qq)) - 1.1774100225154747;
  double mag;
  if (qq > 0.01) {
    mag = t * horner(N1, 8, t) / horner(D1, 8, t);
  } else {
    double w = 1.0 / t;
    mag = t * horner(N2, 9, w) / horner(D2, 8, w);
  }
  return pr > 0.5 ? mag : -mag;
}

double zprbigs(double x, double lambda) {
  if (x == 0.0)
    return 0.0;
  double u = std::sqrt(x), v = 1.0 / u;
  double sl = std::sqrt(lambda);
  double w = (u + v) * kRootHalf * sl;
  double T;
  if (w <= 4.0) {
    double ec;
    calerf(&ec, 1, w);
    T = std::exp(2.0 * lambda) * ec / 2.0;
  } else {
    double e = 2.0 * lambda - w * w;
    if (e < kExpUnderflow)
      T = 0.0;
    else
      T = 0.5 * (kSqrtPiInv - farRational(1.0 / (w * w))) * std::exp(e) / w;
  }
  return zprbnrm((u - v) * sl) + T;
}
