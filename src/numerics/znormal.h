// The standard normal distribution: Cody's rational approximations of erf and erfc, the
// cdf, the log tails and log density, the quantile (probit), and the inverse Gaussian
// cdf (the mixture of normals is in zmxnorm.h). Pure functions of their arguments; no messages.
#pragma once

#include <cstdint>

// Writes erf(x) (kind 0) or erfc(x) (any other kind) into *result.
void calerf(double* result, int32_t kind, double x);
double zferf(double x);
double zferfc(double x);
// Standard normal cdf.
double zprbnrm(double x);
// Log cdf, log sdf and log density at z. Returns 0, or 1 when the Mills ratio fails.
[[nodiscard]] int32_t zlognrm(double* lcdf, double* lsdf, double* ldens, double z);
// Standard normal quantile for p in [0, 1].
double zprobit(double p);
// The far lower-tail Newton iteration of zprobit on its own (p small and positive).
double szprobit(double p);
// Cdf at x >= 0 of the inverse Gaussian distribution with mean 1 and shape lambda > 0.
double zprbigs(double x, double lambda);
