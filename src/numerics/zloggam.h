// The log incomplete gamma on a request record: ln P(a, x), ln Q(a, x) and the log density
// of the gamma distribution (shape a, scale 1), by series, continued fractions, an
// asymptotic series, the cube-root normal approximation or an integral; quantiles through
// zgammaq.h. Also the plain tails zigamma. Failures are non-zero statuses, no messages.
#pragma once

#include <cstdint>

// The route by which the probability computation formed the tails (GamRequest::method).
enum GamMethod : int32_t {
  GAM_SERIES = 0,          // the power series of the lower tail
  GAM_NORMAL_APPROX = 2,   // the cube-root normal approximation (huge shapes)
  GAM_FIRST_FRACTION = 3,  // the continued fraction of the upper tail
  GAM_SECOND_FRACTION = 4, // the continued fraction of the lower tail
  GAM_ASYMPTOTIC = 5,      // the asymptotic series of the upper tail (x >= 100 a)
  GAM_INTEGRAL = 6,        // the integral route
};

// Request record of the gamma family; zero it (value-initialise) before use.
struct GamRequest {
  uint32_t mode = 0; // 1 probability, 2 log density, 4 quantile of p, 8 quantile of q
  double p = 0.0;    // lower-tail target of bit 4
  double x = 0.0;
  double a = 0.0;
  double lcdf = 0.0, lsdf = 0.0;
  double ldens = 0.0;
  double tol = 0.0;
  double q = 0.0; // upper-tail target of bit 8
  double shiftBase = 0.0;
  double work = 0.0;
  int32_t method = GAM_SERIES; // the route taken, a GamMethod
  double stepUp = 0.0, stepDown = 0.0;
  double xFloor = 0.0;
};

[[nodiscard]] int32_t zloggam(GamRequest* req);
// Plain tails P and Q (clamped to [0, 1]) and the density term x^a e^-x / Gamma(a + 1).
// Returns 0, or 1 for x < 0 or a <= 0.
[[nodiscard]] int32_t zigamma(double x, double a, double* P, double* Q, double* dens);
// zln1px, except that x = -1 gives kLogZero.
double SpecialLog1PlusX(double x);

namespace gammafamily {
// The probability computation (lcdf, lsdf and ldens at the request's x).
[[nodiscard]] int32_t ComputeTheProbability(GamRequest* req);
// P(a, x) by the Wilson-Hilferty approximation (huge shapes, near the mode).
double wilhil(double x, double a);
// The log tails by the cube-root normal approximation.
[[nodiscard]] int32_t lwilhil(GamRequest* req);
// The integral route.
[[nodiscard]] int32_t zintgam(GamRequest* req);
} // namespace gammafamily
