// Criterion formulas, the nested-model F test, comparisons of criterion values under their
// direction, the packed-triangle size and two Shell sorts. Pure functions: no state, no
// allocation, no failure; degenerate input gives a fixed value.
#pragma once

#include "support/vsfcriterion.h"

#include <cstdint>
#include <limits>

// The margin of the stepwise tests (absolute; relative for the criteria in the response's
// squared units) and the zero threshold of recorded sums.
inline constexpr double kVsfEps = 1.110223024625157e-13;
// The relative tolerance of the F test.
inline constexpr double kVsfFTol = 1.110223024625157e-14;
// How far, relative to the larger SSE, a fall formed apart may part from the difference of
// the two SSEs and still be taken: the SSEs are formed to some 1e-13 of themselves.
inline constexpr double kVsfFallAgree = 8 * kVsfEps;
// Below this log the exponential underflows.
inline constexpr double kVsfLogUnderflow = -708.3964185;

// The most columns a packed triangle may have: its element indices, up to the diagonal
// index k(k+3)/2 of the last column, are formed in 32-bit arithmetic throughout the fit.
inline constexpr int32_t kVsfMaxTriangleColumns = 46340;
// The element count vsfMemTri gives a triangle wider than kVsfMaxTriangleColumns.
inline constexpr int64_t kVsfTriangleTooLarge = -1;
// Elements of a packed triangle of n columns (64-bit), or kVsfTriangleTooLarge above
// kVsfMaxTriangleColumns.
[[nodiscard]] int64_t vsfMemTri(int32_t n);
[[nodiscard]] int32_t vsfIsBetter(VsfCriterion code, double a, double b);
[[nodiscard]] int32_t vsfIsEpsBetter(VsfCriterion code, double a, double b);
[[nodiscard]] int32_t vsfIsFUZZBetter(VsfCriterion code, int32_t direction, double a, double b,
                                      double fuzz);

double vsfAic(int32_t p, double sse, double n);
double vsfAicc(int32_t p, double sse, double n);
double vsfSbc(int32_t p, double sse, double n);
double vsfCp(int32_t p, double sse, double n, double sigma2);
double vsfBic(int32_t p, double sse, double n, double sigma2);
double vsfRsquare(double sse, double tss);
double vsfAdjrsq(int32_t p, int32_t noint, double sse, double tss, double n);
// The p-value (and its log) of the F test between fits of SSE sse0 and sse1. `fall`, where
// given (not NaN), is sse0 - sse1 formed apart from the two sums, which lose its digits where
// it is small against them; NaN takes their difference, and so does a fall that parts from
// it by more than the sums' own rounding (kVsfFallAgree of the larger): the fall's terms have
// then drifted from the fits the sums belong to.
double vsfPval(int32_t rank0, int32_t rank1, int32_t effects0, int32_t effects1, double* F,
               double sse0, double sse1, double n, double fuzz,
               double fall = std::numeric_limits<double>::quiet_NaN());
double vsfLogPval(int32_t rank0, int32_t rank1, int32_t effects0, int32_t effects1, double* F,
                  double sse0, double sse1, double n, double fuzz,
                  double fall = std::numeric_limits<double>::quiet_NaN());

void vsfQsort(double* x, int32_t count, int32_t* index, int32_t ascending);
void vsfIntQsort(int32_t* x, int32_t count, int32_t* index, int32_t ascending);
