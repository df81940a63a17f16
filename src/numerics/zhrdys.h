// Adaptive integration by trapezoid sums after an exponential change of variables, over
// the whole line, a half line [lower, inf) or a finite interval, refined by step halving
// until the estimate settles. In the exponent form values and sums are mantissas times
// base^exponent, so that integrands spanning hundreds of orders of magnitude keep their
// relative accuracy. The noncentral and incomplete gamma integral routes use it.
#pragma once

#include <cstdint>

// Integrand: (point, context, value out) -> 0 on success. In the exponent form the value
// is relative to base^record.exponent, and the integrand may raise that exponent (it
// reaches the record through its context).
using IntegrandFn = int32_t (*)(double point, void* context, double* value);

// Zero (value-initialise) and fill by the caller; fields marked "set" are written here.
struct IntegrationRecord {
  double sum = 0.0;       // working: the sum of the current pass
  double tol = 0.0;       // relative tolerance
  double tolThird = 0.0;  // set: tol / 3
  double lastValue = 0.0; // the last integrand value
  double refValue = 0.0;  // reference magnitude for a boundary hit
  double lower = 0.0, upper = 0.0;
  double width = 0.0;                    // set: upper - lower (finite interval)
  double result = 0.0;                   // the estimate
  int32_t countPlus = 0, countMinus = 0; // points per direction (limit 10000 in the first pass)
  int32_t errorFlag = 0;
  int32_t strictBoundary = 0;
  double centre = 0.0;
  double initialStep = 0.0;
  double step = 0.0, halfStep = 0.0;
  int32_t maxLevels = 0, level = 0;
  int32_t mode = 0;     // 1 whole line, 2 half line [lower, inf), 3 [lower, upper]
  int32_t testType = 0; // 0 absolute-or-relative, 1 relative
  double relChange = 0.0;
  double base = 0.0, invLogBase = 0.0, logBase = 0.0;
  int32_t exponentOld = 0, exponent = 0;
  int32_t logScale = 0;
  void* context = nullptr;
  IntegrandFn integrand = nullptr;
  int32_t maxPoints = 0; // below 32767 counts as 32767
  int32_t zeroOk = 0;
  int32_t marker = 0; // 1234567: convergence threshold tol^(3/4) instead of sqrt(tol)
  int32_t boundaryHit = 0;
  double boundaryPoint = 0.0, boundaryValue = 0.0;
};

inline constexpr int32_t kIntegrationMarker = 1234567;

// Sets the record up for the exponent form in base e, with the exponent at its lowest so
// that the first value raises it, and the integrand with its context.
void zhrdysExponentForm(IntegrationRecord* rec, IntegrandFn integrand, void* context);

// An integrand's log value v in the exponent form: raises rec->exponent to v (truncated
// toward zero) when v is above it, and writes e^(v - rec->exponent) to *value, 0 below the
// underflow limit. Returns 0, or 1 when v is too large in magnitude for the exponent.
[[nodiscard]] int32_t zhrdysExponentValue(IntegrationRecord* rec, double v, double* value);

// Writes the estimate (in the exponent form its mantissa; the exponent is rec->exponent)
// and returns 0, or returns 1 with nothing written.
[[nodiscard]] int32_t zhrdys(IntegrationRecord* rec, double* result);
