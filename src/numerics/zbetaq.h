// Quantile modes of the beta family (bits 4 and 8 of zlogbet): a normal-based starting
// point refined by Halley's or Newton's method on zibeta, and a second search on the scale
// t = -ln(-ln x) when that fails. Reached only through zlogbet.
#pragma once

#include "numerics/zlogbet.h"

#include <cstdint>

namespace betafamily {
[[nodiscard]] int32_t ComputeTheQuantile(BetRequest* req);
// 0 inside the bounds, 1 evaluation failed, 2 target below the probability at lowerBound,
// 3 above the probability at upperBound.
[[nodiscard]] int32_t CheckBoundsQ(BetRequest* req);
double GetTheInitialGuess(BetRequest* req);
[[nodiscard]] int32_t UseHalley_sMethod(BetRequest* req);
[[nodiscard]] int32_t UseLogScaleMethod(BetRequest* req);
// Evaluates the point t of the second search; *g receives lcdf - lsdf.
[[nodiscard]] int32_t ComputeTheBetaFunctionForQ(BetRequest* req, double t, double* g);
} // namespace betafamily
