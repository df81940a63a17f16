// The page transforms: shifting rows about the cross products' shift, and, for the
// standardized fits, centring and scaling the response and the
// single-column effects (or every parameter column), multiplying columns by their adaptive
// weights, and the inverse of each. They rewrite the pages in place and fold nothing back.
#pragma once

#include "support/qkpgf.h"

#include <cstdint>

struct VsfModel;

// Subtracts the model's xpxShift from the response and the dense values of every row.
int32_t vsfShiftRows(VsfModel* model, QkPageDescriptor* page);
int32_t vsfCenterScale(VsfModel* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfCenterScale_t(VsfModel* model, QkPageDescriptor* page, double* buffer,
                                       int64_t length);
[[nodiscard]] int32_t vsfUndoCenterScale(VsfModel* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfUndoCenterScale_t(VsfModel* model, QkPageDescriptor* page, double* buffer,
                                           int64_t length);
[[nodiscard]] int32_t vsfCenterScaleEffect(VsfModel* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfCenterScaleEffect_t(VsfModel* model, QkPageDescriptor* page,
                                             double* buffer, int64_t length);
[[nodiscard]] int32_t vsfUndoCenterScaleEffect(VsfModel* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfUndoCenterScaleEffect_t(VsfModel* model, QkPageDescriptor* page,
                                                 double* buffer, int64_t length);
[[nodiscard]] int32_t vsfApplyAdaptiveWeights(VsfModel* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfApplyAdaptiveWeights_t(VsfModel* model, QkPageDescriptor* page,
                                                double* buffer, int64_t length);
[[nodiscard]] int32_t vsfUndoAdaptiveWeights(VsfModel* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfUndoAdaptiveWeights_t(VsfModel* model, QkPageDescriptor* page,
                                               double* buffer, int64_t length);
