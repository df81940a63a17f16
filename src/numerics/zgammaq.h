// Quantile modes of the gamma family (bits 4 and 8 of zloggam): a multiplicative bracketing
// walk and secant steps in ln x for a lower-tail target, and the generic solver zquant on
// the log upper tail for an upper-tail target.
#pragma once

#include "numerics/zloggam.h"
#include "numerics/zquant.h"

#include <cstdint>

namespace gammafamily {
// Bit 4: the x whose lower-tail probability is p; 0 with x written, 1 on failure.
[[nodiscard]] int32_t ComputeTheQuantile(GamRequest* req);
// Bit 8: the x whose upper-tail probability is q, through zquant; its status (the missing
// value in x on failure).
[[nodiscard]] int32_t ComputeTheSDFQuantile(GamRequest* req);
// Starting point of bit 4 (writes stepUp, capped at 3, and stepDown).
double ComputeTheInitialGuess(GamRequest* req);
// Starting point of bit 8 (writes stepUp and stepDown).
double ComputeTheSDFInitialGuess(GamRequest* req);
// zquant's initial-guess and evaluation functions (the request is the solver's context).
[[nodiscard]] int32_t ComputeTheQUANTInitialGuess(QuantileSolve* rec);
[[nodiscard]] int32_t ComputeTheQUANTFunction(QuantileSolve* rec);
} // namespace gammafamily
