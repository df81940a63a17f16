// The page transforms: shifting rows about the cross products' shift, and, for the
// standardized fits, centring and scaling the response and the
// single-column effects (or every parameter column), multiplying columns by their adaptive
// weights, and the inverse of each. They rewrite the pages in place and fold nothing back.
#pragma once

#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include <cstdint>

struct VsfPassState;

// Subtracts the model's xpxShift from the response and the dense values of every row.
VsfStatus vsfShiftRows(VsfPassState* model, QkPageDescriptor* page);
VsfStatus vsfCenterScale(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfCenterScale_t(VsfPassState* model, QkPageDescriptor* page,
                                         double* buffer, int64_t length);
[[nodiscard]] VsfStatus vsfUndoCenterScale(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfUndoCenterScale_t(VsfPassState* model, QkPageDescriptor* page,
                                             double* buffer, int64_t length);
[[nodiscard]] VsfStatus vsfCenterScaleEffect(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfCenterScaleEffect_t(VsfPassState* model, QkPageDescriptor* page,
                                               double* buffer, int64_t length);
[[nodiscard]] VsfStatus vsfUndoCenterScaleEffect(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfUndoCenterScaleEffect_t(VsfPassState* model, QkPageDescriptor* page,
                                                   double* buffer, int64_t length);
[[nodiscard]] VsfStatus vsfApplyAdaptiveWeights(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfApplyAdaptiveWeights_t(VsfPassState* model, QkPageDescriptor* page,
                                                  double* buffer, int64_t length);
[[nodiscard]] VsfStatus vsfUndoAdaptiveWeights(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfUndoAdaptiveWeights_t(VsfPassState* model, QkPageDescriptor* page,
                                                 double* buffer, int64_t length);
