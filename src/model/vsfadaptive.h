// Adaptive weights of the adaptive path and solver methods: one weight |b|^gamma per parameter,
// from a least-squares fit of the full model on the standardized pages or from the INEST=
// estimates. Multiplying the pages by the weights is the page transforms' business.
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
// The factor that takes a coefficient of parameter p's weighted column to the standardized
// column's: its weight under ADAPTIVE (a missing weight left the column alone), else 1.
[[nodiscard]] double vsfAdaptiveFactor(const VsfModel* model, int32_t p);
// Whether parameter p's coefficient is held at 0 by a zero weight. Under parameter
// standardization such a column is left as it is on the pages (so that the pages can be
// restored) and the solver keeps its coefficient at 0 instead.
[[nodiscard]] bool vsfAdaptiveHeldAtZero(const VsfModel* model, int32_t p);
