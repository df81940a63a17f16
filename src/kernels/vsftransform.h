// The page transforms: shifting rows about the cross products' shift, and, for the
// standardized fits, centring and scaling the response and the
// single-column effects (or every parameter column), multiplying columns by their adaptive
// weights, and the inverse of each. They rewrite the pages in place and fold nothing back.
#pragma once

#include "support/qkpgf.h"

#include <cstdint>

struct VsfPassState;

// Subtracts the model's xpxShift from the response and the dense values of every row.
int32_t vsfShiftRows(VsfPassState* model, QkPageDescriptor* page);
int32_t vsfCenterScale(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfCenterScale_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                       int64_t length);
[[nodiscard]] int32_t vsfUndoCenterScale(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfUndoCenterScale_t(VsfPassState* model, QkPageDescriptor* page,
                                           double* buffer, int64_t length);
[[nodiscard]] int32_t vsfCenterScaleEffect(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfCenterScaleEffect_t(VsfPassState* model, QkPageDescriptor* page,
                                             double* buffer, int64_t length);
[[nodiscard]] int32_t vsfUndoCenterScaleEffect(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfUndoCenterScaleEffect_t(VsfPassState* model, QkPageDescriptor* page,
                                                 double* buffer, int64_t length);
[[nodiscard]] int32_t vsfApplyAdaptiveWeights(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfApplyAdaptiveWeights_t(VsfPassState* model, QkPageDescriptor* page,
                                                double* buffer, int64_t length);
[[nodiscard]] int32_t vsfUndoAdaptiveWeights(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfUndoAdaptiveWeights_t(VsfPassState* model, QkPageDescriptor* page,
                                               double* buffer, int64_t length);
