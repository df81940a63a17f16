// Elementary special functions of the probability library: e^x - 1, ln(1 + x), the log of
// a sum of exponentials, the Mills ratio of the normal distribution, and one row of the
// Cholesky factor of a packed symmetric matrix. None reports errors by message.
#pragma once

#include <cstdint>

// Common constants of the library.
inline constexpr double kLogZero = -1.3407807929943e154; // stands for ln 0
inline constexpr double kExpUnderflow = -708.3964185;    // e^x underflows below this
inline constexpr double kExpOverflow = 709.782712893384; // e^x overflows above this
inline constexpr double kLnSqrt2Pi = 0.9189385332046728;
inline constexpr double kLn2 = 0.6931471805599453;
inline constexpr double kDblMax = 1.7976931348623157e308;
inline constexpr double kDblMinNormal = 2.225073858507202e-308;

double zexpm1(double x);
double zln1px(double x);
// ln(1 - e^t) for t <= 0, with ln 0 written as kLogZero.
double zln1mexp(double t);
// Writes the log tail l (the lower tail when `lowerTail`, else the upper) and its complement
// ln(1 - e^l) to the other.
void zlnTails(double l, bool lowerTail, double* lcdf, double* lsdf);
// ln(1 + x) - x without cancellation for small x (x > -1).
double zln1pmx(double x);
// ln(e^a + e^b) without overflow.
double zlnSumOfExp(double a, double b);
// Mills ratio (1 - Phi(x)) / phi(x) into *r; returns 1 when the continued fraction used for
// x >= 5 did not converge (the last approximation is still written), else 0.
[[nodiscard]] int32_t zmillsr(double x, double* r);
// The continued fraction of zmillsr alone (meant for x >= 5).
[[nodiscard]] int32_t zcnfmill(double x, double* r);
// Factors row n of the packed matrix a in place (rows 0..n-1 already hold the factor L of
// A = L L'); a pivot not above tol gives a zero diagonal. Returns the last pivot value
// computed (the square of the diagonal). A negative n changes nothing.
double zchol(int32_t n, double* a, double tol);

// log of sum over k >= 0 of Poisson(k; lam) e^{logTerm(k)}, the mixture behind noncentral
// densities. The sum starts at the largest term (found by walking from the Poisson mode)
// and runs outwards until the terms are negligible. NaN when the sum cannot be formed (no
// finite term, or the largest term lies unreasonably far from the Poisson mode).
using PoissonLogTerm = double (*)(double k, void* context);
double zlogPoissonMix(double lam, PoissonLogTerm logTerm, void* context);
