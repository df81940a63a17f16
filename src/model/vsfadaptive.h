// Adaptive weights of the adaptive path methods: one weight |b|^gamma per parameter, from a
// least-squares fit of the full model on the standardized pages or from the INEST= estimates.
// Multiplying the pages by the weights is the page transforms' business.
#pragma once

#include <cstdint>

struct VsfModel;

// 0, the non-zero code of the cross-products pass, or the non-zero qkzpower status.
[[nodiscard]] int32_t vsfLSAdaptiveWeights(VsfModel* model);
// 0, or the non-zero qkzpower status (a missing estimate reports kPowNotANumber).
[[nodiscard]] int32_t vsfInEstAdaptiveWeights(VsfModel* model);

// |b|^gamma; |b| itself when gamma is exactly 1 (status: qkzpower's, 0 when it succeeds).
[[nodiscard]] double vsfAdaptiveWeightOf(double b, double gamma, int32_t* status);
// Whether effect e takes an adaptive weight (neither the intercept nor unavailable).
[[nodiscard]] bool vsfAdaptiveWeighted(const VsfModel* model, int32_t e);
