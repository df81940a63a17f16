// The structured road's PRESS and the folds' estimates: the leverage terms of the many-level
// effect's columns, from its diagonal and cross block and the swept small triangle, and each
// fold record's estimates of those columns from its own state.
#pragma once

#include <cstdint>

struct VsfModel;
struct VsfStructured;

// The arrays of the leverage terms in the model's structured state `structured` (from the
// model pool, when the fit needs PRESS); false when they do not fit.
[[nodiscard]] bool vsfStructuredPressArrays(VsfModel* model, VsfStructured* structured);
// Before a PRESS pass: the leverage terms of the effect's columns that the pass adds to a
// row's leverage over the small columns (VsfStructured::leverageCross and leverageDiagonal),
// and the reduction of a row to its part outside the effect's span (leverageShift and
// leverageBlock).
// Nothing to do without the structured road or with the effect out of the model.
void vsfStructuredPressSetUp(VsfModel* model);
// Fold f's estimates of the effect's columns into `beta` (indexed by parameter), 0 for the
// columns its record left out; nothing without the structured road. The folds' estimates
// must have been set (vsfStructuredSetEstimates).
void vsfStructuredFoldEstimates(const VsfModel* model, int32_t fold, double* beta);
