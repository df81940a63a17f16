// A finite mixture of normal distributions: log cdf, log sdf, log density and quantile,
// with the component tails combined on the log scale. Kept for completeness of the
// normal family; it reports failures by status.
#pragma once

#include <cstdint>

// The caller fills count, weight, mean and sd (arrays of count doubles, which VerifyQ may
// rescale and reorder) and flags.
struct MxNormRecord {
  int32_t count = 0;
  double* weight = nullptr;
  double* mean = nullptr;
  double* sd = nullptr;
  uint32_t flags = 0;
};
inline constexpr uint32_t kMxVerified = 1u;   // set by VerifyQ
inline constexpr uint32_t kMxSortByMean = 2u; // asks VerifyQ to sort the components by mean

// mode bits: 1 log cdf and log sdf at x, 2 log density at x, 4 quantile of the lower-tail
// probability p into *quantile. Returns 0, the code of VerifyQ, or 1 on other failures.
[[nodiscard]] int32_t zmxnorm(MxNormRecord* rec, uint32_t mode, double x, double p, double* lcdf,
                              double* lsdf, double* ldens, double* quantile);
// A negative weight at index i gives i + n, a negative standard deviation at index i gives
// i + 2n, no positive weight gives 10n; otherwise the weights are normalised to sum 1.
[[nodiscard]] int32_t VerifyQ(MxNormRecord* rec);
void SortAccordingToTheMeans(MxNormRecord* rec);
// log(e^a + e^b); with isProbability the result is capped at 0.
double LogSumOfExpProb(double a, double b, int32_t isProbability);
// Log tails (density = 0) or log density (density != 0) of the mixture at x.
[[nodiscard]] int32_t ComputeTheProbOrTheDens(const MxNormRecord* rec, int32_t density, double x,
                                              double* lcdf, double* lsdf, double* ldens);
// Log tails of one normal component N(mean, sd) at x.
void DiffNormal(double x, double mean, double sd, double* lcdf, double* lsdf);
// lcdf(x) - ln p of the mixture into *value.
[[nodiscard]] int32_t ComputeF(const MxNormRecord* rec, double x, double logP, double* value);
// Widens [*lo, *hi] until it brackets the root of ComputeF.
[[nodiscard]] int32_t ResetBracket(const MxNormRecord* rec, double logP, double* lo, double* hi);
// Solves lcdf(x) = ln p by bracketing and bisection-safeguarded secant steps.
[[nodiscard]] int32_t SolveApproxF(const MxNormRecord* rec, double p, double* x);
