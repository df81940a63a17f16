// Tails of the (noncentral) F distribution: the robust entry zlogFNCApproxLarge with its
// chain of fall-backs (exact, chi-square for a huge numerator or denominator, normal), the
// request-record family zlogfnc, and the plain upper tail zprbf of the parameter tables.
#pragma once

#include "numerics/zquant.h"

#include <cstdint>

inline constexpr int32_t kFncBadArguments = 1234567;

// Request record of the F family; zero it (value-initialise) before use.
struct FncRequest {
  double x = 0.0;
  double df1 = 0.0, df2 = 0.0;
  double nc = 0.0;
  double lcdf = 0.0, lsdf = 0.0, ldens = 0.0;
  double tol = 0.0;
  int32_t lower = 0;
  uint32_t mode = 0; // 1 probability, 2 log density, 4 quantile of p, 8 upper-tail quantile
  double p = 0.0;    // target probability of the quantile modes (upper tail with bit 8)
  double stepUp = 0.0, stepDown = 0.0;
  int32_t momentsSet = 0;
  double mean = 0.0, sd = 0.0;
  double sqrtNc = 0.0, logNc = 0.0;
  double tolTiny = 0.0;  // 1.110223024625157e-16
  double tolQuant = 0.0; // max(1.053671212772351e-8, tol)
};

// Log cdf and log sdf of F(df1, df2, nc) at f. 0 on success; 1234567 (nothing written)
// for f < 0, df1 <= 0, df2 <= 0, nc < 0 or a NaN argument; another non-zero value when
// no route, the last fall-back included, can give the tails.
[[nodiscard]] int32_t zlogFNCApproxLarge(double* lcdf, double* lsdf, double f, double df1,
                                         double df2, double nc);
[[nodiscard]] int32_t zlogfnc(FncRequest* req);
// P(F > f); -1.0 on bad arguments, -2.0 when the incomplete beta fails.
double zprbf(double f, double df1, double df2);
// As zprbf with a status: 0, -1 (missing written) on bad arguments, -2 on failure.
[[nodiscard]] int32_t zprbfNew(double* prob, double f, double df1, double df2);
// Plain cdf of the noncentral F; 1 on bad arguments; probability 0 at x = 0.
[[nodiscard]] int32_t zplbfnc(double* cdf, double x, double df1, double df2, double nc);

namespace ffamily {
[[nodiscard]] int32_t ComputeTheProbability(FncRequest* req);
void CalculateTheMeanAndStdDeviation(FncRequest* req);
[[nodiscard]] int32_t zserfnc(FncRequest* req);
[[nodiscard]] int32_t zintfnc(FncRequest* req);
double ComputeTheInitialGuess(FncRequest* req);
double ComputeTheSDFInitialGuess(FncRequest* req);
[[nodiscard]] int32_t ComputeTheQuantile(FncRequest* req);
[[nodiscard]] int32_t ComputeTheSDFQuantile(FncRequest* req);
[[nodiscard]] int32_t ComputeTheQUANTInitialGuess(QuantileSolve* rec);
[[nodiscard]] int32_t ComputeTheQUANTFunction(QuantileSolve* rec);
} // namespace ffamily
