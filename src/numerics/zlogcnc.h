// The (noncentral) chi-square family on a request record: log cdf and log sdf (central case
// through the log incomplete gamma, a Poisson series, an integral of the density), the log
// density and quantiles. The F tails fall back to it for huge degrees of freedom.
#pragma once

#include "numerics/zquant.h"

#include <cstdint>

// Request record of the chi-square family; zero it (value-initialise) before use.
struct CncRequest {
  double x = 0.0;
  double df = 0.0;
  double nc = 0.0;
  double lcdf = 0.0, lsdf = 0.0, ldens = 0.0;
  double tol = 0.0;
  int32_t lower = 0; // set when the normal deviate of the approximation is <= -2
  uint32_t mode = 0; // 1 probability, 2 log density, 4 quantile of p, 8 upper-tail quantile
  int32_t momentsSet = 0;
  double mean = 0.0, scale = 0.0;
  double halfDf = 0.0, sqrtNc = 0.0;
  double stepUp = 0.0, stepDown = 0.0;
  double p = 0.0; // target probability of the quantile modes (upper tail with bit 8)
};

[[nodiscard]] int32_t zlogcnc(CncRequest* req);
// Log density of the noncentral chi-square at x into *ldens; 0 on success.
[[nodiscard]] int32_t zldncnc(double* ldens, double x, double df, double nc);
// Plain tails of the noncentral chi-square; 1 on bad arguments; probability 0 at x = 0.
[[nodiscard]] int32_t zplbcnc(double* cdf, double* sdf, double x, double df, double nc);

namespace chisqfamily {
[[nodiscard]] int32_t ComputeTheProbability(CncRequest* req);
void CalculateTheMeanAndStdDeviation(CncRequest* req);
// Poisson-weighted sum of gamma tails (nc > 0).
[[nodiscard]] int32_t zsercnc(CncRequest* req);
// The tail as an integral of the density through zhrdys.
[[nodiscard]] int32_t zintcnc(CncRequest* req);
[[nodiscard]] int32_t ComputeTheQuantile(CncRequest* req);
[[nodiscard]] int32_t ComputeTheSDFQuantile(CncRequest* req);
[[nodiscard]] int32_t ComputeTheQUANTInitialGuess(QuantileSolve* rec);
[[nodiscard]] int32_t ComputeTheQUANTFunction(QuantileSolve* rec);
} // namespace chisqfamily
