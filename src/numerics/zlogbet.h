// The log incomplete beta on a request record: ln I_x(a, b) and ln(1 - I_x(a, b)) together,
// the log beta density, and (through zbetaq.h) quantiles. The F family takes both tails of
// the central F distribution from it. Failures are the status 1 only.
#pragma once

#include <cstdint>

// Request record of the beta family; zero it (value-initialise) before use.
struct BetRequest {
  uint32_t mode = 0; // 1 probability, 2 log density, 4 quantile of p, 8 quantile of q; 0 = 1
  double x = 0.0;    // the point; also where a quantile is written
  double a = 0.0, b = 0.0;
  double lcdf = 0.0, lsdf = 0.0, ldens = 0.0;
  double tol = 0.0; // relative tolerance, raised to at least 5.551115123125785e-16
  double cf = 0.0;  // working: the value of the continued fraction
  double complement = 0.0;
  double aMinusOne = 0.0;
  double sum = 0.0;
  double savedX = 0.0, savedA = 0.0, savedB = 0.0;
  double p = 0.0; // lower-tail target of bit 4 (1 - q with bit 8)
  int32_t shifted = 0, swapped = 0;
  int32_t momentsSet = 0;
  double mean = 0.0, sd = 0.0;
  // Quantile working fields.
  uint32_t useHalley = 0;
  double searchTol = 0.0;
  double guess = 0.0;
  double target = 0.0;
  double q = 0.0; // upper-tail target of bit 8
  double alpha = 0.0, beta = 0.0;
  uint8_t boundHit = 0;
  uint8_t complemented = 0;
  double lowerBound = 0.0, upperBound = 0.0;
  double logTarget = 0.0;
  // Set when the continued fraction did not converge and an approximation was used.
  int32_t approximated = 0;
};

[[nodiscard]] int32_t zlogbet(BetRequest* req);
// Log beta density at x; 1 (nothing written) when x < 0, x > 1, a <= 0 or b <= 0.
[[nodiscard]] int32_t zldnbet(double x, double a, double b, double* res);

namespace betafamily {
// 1 when a <= 0 or b <= 0, when bit 1 is set and x lies outside [0, 1], or when bit 4 is
// set and p lies outside [0, 1]; else 0 (mode 0 becomes 1).
[[nodiscard]] int32_t Verify(BetRequest* req);
// The probability mode: lcdf, lsdf and ldens at the request's x.
[[nodiscard]] int32_t ComputeTheProbability(BetRequest* req);
// The probability mode's computation as an entry of its own.
[[nodiscard]] int32_t BetaContinuedFraction(BetRequest* req);
// The continued fraction on the record (swap, shift, value into cf). Returns whether it
// converged.
[[nodiscard]] bool DoTheContinuedF(BetRequest* req);
// The lower tail as an integral of the beta density through zhrdys: ln I into *lcdf.
[[nodiscard]] int32_t BetaIntegration(double x, double a, double b, double tol, double* lcdf);
// zldnbet on the request's x, a and b into ldens.
[[nodiscard]] int32_t ComputeTheDensity(BetRequest* req);
// Mean a/(a+b) and standard deviation into the request, marking them computed.
void CalculateTheMeanAndStdDeviation(BetRequest* req);
} // namespace betafamily
