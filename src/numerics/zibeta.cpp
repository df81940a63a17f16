// Incomplete beta ratio by a continued fraction on the tail where it converges fast, with
// the density prefactor guarded against underflow and a cube-root normal approximation
// for very large parameters when the fraction does not converge.
#include "numerics/zibeta.h"

#include "numerics/zelementary.h"
#include "numerics/zlgamma.h"
#include "numerics/znormal.h"

#include <cfloat>
#include <cmath>

namespace {
constexpr double kTwo53 = 9007199254740992.0;
constexpr double kFracTol = 8.881784197001256e-16;
} // namespace

double zibetaLogDensity(double x, double a, double b) {
  const double s = a + b;
  const double u = (x * s - a) / a;         // x / x0 - 1 with x0 = a / s
  const double v = ((1.0 - x) * s - b) / b; // (1 - x) / (1 - x0) - 1
  // Away from the mode (or for small parameters) the direct form: there the density is
  // small enough that its terms do not cancel badly, while 1 + u would lose digits.
  if (a < 15.0 || b < 15.0 || std::fabs(u) > 0.3 || std::fabs(v) > 0.3)
    return (a - 1.0) * std::log(x) + (b - 1.0) * zln1px(-x) - zlbeta(a, b);
  // a ln(x/x0) + b ln((1-x)/(1-x0)) = a (ln(1+u) - u) + b (ln(1+v) - v), as a u + b v = 0;
  // Stirling's series gives ln B(a, b) - a ln x0 - b ln(1 - x0).
  return 0.5 * std::log(a * (b / s)) - kLnSqrt2Pi - zlgbern(a) - zlgbern(b) + zlgbern(s) +
         a * zln1pmx(u) + b * zln1pmx(v) - std::log(x) - zln1px(-x);
}

bool zibetaSwapTail(double x, double a, double b) {
  double s = a + b;
  return x * s > a + 2.0 * std::sqrt(a * b / (s + 1.0)) || a + 3.0 < 6.0 * x + x * s;
}

double zibetaFraction(double y, double q, double r, double c, double tol, int32_t maxSteps,
                      bool* converged) {
  const double z = (1.0 - y) / y;
  double sigma = q + r, w = 2.0 * z, P = (q + 1.0) * q * z, R = q * w, G = q - r, H = -c * q,
         M = sigma;
  double A0 = 1.0, A1 = 1.0, B0 = 0.0, B1 = 1.0;
  double current = 1.0, previous = 0.0;
  *converged = false;
  for (int32_t k = 1; k <= maxSteps; ++k) {
    if (std::fabs(current - previous) < current * tol) {
      *converged = true;
      return current;
    }
    double alpha = H / P;
    P = P + R + w;
    double beta = sigma / P;
    A1 = A1 * alpha + A0;
    G += 2.0;
    M += 2.0;
    H += G;
    B0 = B0 * alpha + B1;
    R += 2.0 * w;
    A0 = A0 * beta + A1;
    sigma += M;
    P += R;
    B1 = B1 * beta + B0;
    double next;
    if (A0 == 0.0) {
      next = DBL_MAX;
    } else {
      int e;
      double mant = std::frexp(A0, &e);
      if (e > 354 || e < -354) {
        B1 = std::ldexp(B1, -e);
        A1 = std::ldexp(A1, -e);
        B0 = std::ldexp(B0, -e);
        A0 = mant;
      }
      next = B1 / A0;
    }
    previous = current;
    current = next;
  }
  return current;
}

bool zibetaLargeParameters(double a, double b) {
  return (a > 5000.0 && b > 100.0) || (b > 5000.0 && a > 100.0);
}

double zibetaNormalDeviate(double x, double a, double b) {
  const double ninth = 0.1111111111111111;
  double w = std::pow(b * x / ((1.0 - x) * a), 0.3333333333333333);
  return ((1.0 - ninth / b) * w + ninth / a - 1.0) / std::sqrt(w * w * ninth / b + ninth / a);
}

int32_t zibeta(double x, double a, double b, double* prob, double* dens) {
  if (a > kTwo53 || b > kTwo53)
    return 1;
  if (!(x >= 0.0 && x <= 1.0 && a > 0.0 && b > 0.0)) {
    *prob = -1.0;
    *dens = 0.0;
    return -1;
  }
  if (x == 0.0 || x == 1.0) {
    *prob = x;
    *dens = 0.0;
    return 0;
  }
  double t = zibetaLogDensity(x, a, b);
  if (t < kExpUnderflow) {
    *prob = x <= a / (a + b) ? 0.0 : 1.0;
    *dens = 0.0;
    return 0;
  }
  double D = std::exp(t);
  bool swap = zibetaSwapTail(x, a, b);
  double y, q, r, c;
  if (swap) {
    y = 1.0 - x;
    q = b;
    r = a;
    c = a - 1.0;
  } else {
    y = x;
    q = a;
    r = b;
    c = b - 1.0;
  }
  bool shifted = false;
  if (q < 1.0) {
    q += 1.0;
    shifted = true;
  }
  bool converged;
  double F = zibetaFraction(y, q, r, c, kFracTol, 399, &converged);
  double I;
  if (converged) {
    if (!shifted)
      F /= q;
    else
      F = ((F * y * (q + r - 1.0)) / q + (1.0 - y)) / (q - 1.0);
    I = y * D * F;
    if (swap)
      I = 1.0 - I;
  } else if (zibetaLargeParameters(a, b)) {
    I = zprbnrm(zibetaNormalDeviate(x, a, b));
  } else {
    *prob = -1.0;
    *dens = 0.0;
    return -1;
  }
  *prob = I < 0.0 ? 0.0 : (I > 1.0 ? 1.0 : I);
  *dens = D;
  return 0;
}
