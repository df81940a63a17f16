// Data-pass kernels of the solver-based LASSO and group LASSO: the training residual sum of
// squares at the solver's coefficients (solverBeta), the same with the gradient of half of it
// per parameter, and the residual sums of the VALIDATE, TEST and held-out rows. Effects may
// have several columns, dense or sparse. The solver drivers decide when they run.
#pragma once

#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include <cstdint>

struct VsfPassState;

// sse += m e^2 over the training rows, e = x'b - y over the in-model effects past the forced.
[[nodiscard]] VsfStatus vsfFunValue(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfFunValue_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                      int64_t length);
// vsfFunValue's sum and corr[j] += m e x_j for every parameter of the effects past the forced.
[[nodiscard]] VsfStatus vsfGradient(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfGradient_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                      int64_t length);
// validateAse, testAse and (external cross validation) heldOutError += m e^2 by role.
[[nodiscard]] VsfStatus vsfValidateTest(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfValidateTest_t(VsfPassState* model, QkPageDescriptor* page,
                                          double* buffer, int64_t length);
