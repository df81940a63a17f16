// Log gamma, log beta, the Stirling correction, the log gamma density and the
// multivariate log gamma and log beta, all computed in log form so that large arguments do
// not overflow. Invalid arguments give marks (-99 from zlgamma, 99 from zlbeta) or status 1.
#pragma once

#include <cstdint>

inline constexpr double kLgammaInvalid = -99.0;
inline constexpr double kLbetaInvalid = 99.0;

// ln Gamma(x) for x > 0; -99.0 for x <= 2.225073858507202e-308.
double zlgamma(double x);
// ln Gamma(x) - ((x - 0.5) ln x - x + ln sqrt(2 pi)), for x >= 10.
double zlgbern(double x);
// (a - 1) ln(x / a) + (a - x), the part of the log gamma density near its mode, without
// the cancellation of its two large terms.
double zlgammaModeTerm(double x, double a);
// ln B(a, b); 99.0 when a <= 0 or b <= 0 (or a log gamma term is invalid).
double zlbeta(double a, double b);
// Log density of the gamma distribution (shape a, scale 1) at x into *res; 1 when x < 0
// or a <= 0. At x = 0: 0 when a = 1, else the missing value.
[[nodiscard]] int32_t zldngam(double x, double a, double* res);
// Multivariate log gamma of dimension p into *res; 1 (missing written) when
// a - (p - 1)/2 <= 0 or p < 1.
[[nodiscard]] int32_t zlgammaMV(double a, int32_t p, double* res);
// Multivariate log beta of dimension p into *res; 1 (missing written) when a or b is at
// most (p - 1)/2 or p < 1.
[[nodiscard]] int32_t zlbetaMV(double a, double b, int32_t p, double* res);
