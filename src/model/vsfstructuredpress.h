// The structured road's PRESS and the folds' estimates: the leverage terms of the many-level
// effect's columns, from its diagonal and cross block and the swept small triangle, and each
// fold record's estimates of those columns from its own state.
#pragma once

#include <cstdint>

struct VsfModel;

// Before a PRESS pass: the leverage terms of the effect's columns that the pass adds to a
// row's leverage over the small columns (VsfStructured::leverageCross and leverageDiagonal),
// and the effect's estimates that its residual takes. Nothing to do without the structured
// road or with the effect out of the model. 0 or kVsfNoMemory.
[[nodiscard]] int32_t vsfStructuredPressSetUp(VsfModel* model);
// Fold f's estimates of the effect's columns into `beta` (indexed by parameter), 0 for the
// columns its record left out; nothing without the structured road. The folds' estimates
// must have been set (vsfStructuredSetEstimates).
void vsfStructuredFoldEstimates(const VsfModel* model, int32_t fold, double* beta);
