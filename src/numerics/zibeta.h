// The regularised incomplete beta ratio I_x(a, b) with the beta density, in plain (not
// logarithmic) form, and the continued fraction that the log form (zlogbet.h) shares.
// Results are reported by status only.
#pragma once

#include <cstdint>

// Writes I_x(a, b) (clamped to [0, 1]) into *prob and the density into *dens and returns 0;
// returns 1 (nothing written) when a or b exceeds 2^53; returns -1 with *prob = -1 and
// *dens = 0 for x outside [0, 1], a <= 0, b <= 0 or a fraction that did not converge
// where no approximation applies.
[[nodiscard]] int32_t zibeta(double x, double a, double b, double* prob, double* dens);

// The continued fraction of the incomplete beta at y with parameters q and r and c = r - 1
// (q already raised by the caller when it was below 1). Runs at most maxSteps steps with
// the relative stop test tol; *converged tells whether the test was met.
double zibetaFraction(double y, double q, double r, double c, double tol, int32_t maxSteps,
                      bool* converged);

// ln of the beta density at x in (0, 1): (a-1) ln x + (b-1) ln(1-x) - ln B(a, b). When both
// parameters are large the terms are regrouped around the mode a / (a + b) so that their
// cancellation does not cost (a + b) ulps.
double zibetaLogDensity(double x, double a, double b);

// The tail rule shared by both forms: true when the upper tail is the one to compute.
[[nodiscard]] bool zibetaSwapTail(double x, double a, double b);

// Cube-root normal deviate of I_x(a, b) for large a and b (the fall-back of both forms).
double zibetaNormalDeviate(double x, double a, double b);
// True when the parameters are large enough for that approximation.
[[nodiscard]] bool zibetaLargeParameters(double a, double b);
