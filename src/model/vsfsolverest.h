// Estimates of the solver-based fits: the in-model state rebuilt from a coefficient vector,
// and the coefficients on the centred and scaled parameters turned into data-scale and
// standardized estimates. The solver drivers and the step recorder call them.
#pragma once

#include <cstdint>

struct VsfModel;

// Effects past the intercept with a non-zero coefficient become selected (status 1), the
// others candidates, except unavailable effects (status 5), which stay so; rank counts the
// non-zero coefficients.
void vsfReSetInModelFlags(VsfModel* model, const double* coefficients);
// beta and stdBeta of the in-model effects from solverBeta (parameter standardization) or
// pathBeta; every other entry is 0, the intercept is recovered from the means.
void vsfScaleBeta(VsfModel* model);
