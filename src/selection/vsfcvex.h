// External cross validation (CHOOSE=CVEX): the fold fits of the least-angle path, the
// merge of their knots into one grid, the averaged held-out error curve on it, and the final
// fit that picks its step by the curve.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;

// The road: fold fits, merge, curve, final fit. Ok, or the failure of a fit.
[[nodiscard]] VsfStatus vsfDriveCVExternal(VsfModel* model);
// The fold fits and the merged curve, with the smallest averaged error in *smallest (the
// largest double when the grid is empty). Ok also when a fold fit ends with a fit status,
// which fitStatus then holds and *smallest is not set; else the failure of a fit.
[[nodiscard]] VsfStatus vsfCVExRunAndMerge(VsfModel* model, double* smallest);
// Merges the sorted arrays a (na values) and b (nb values) into out, equal values once;
// descending unless `ascending`. Returns the count written.
[[nodiscard]] int32_t vsfmerge(const double* a, const double* b, double* out, int32_t na,
                               int32_t nb, bool ascending);
// From the records of every fold: the merged grid (cvexGrid, cvexGridCount), the averaged
// held-out error at each grid point (cvexCurve) and cvexChosenValue; returns the smallest
// averaged error (the largest double when the grid is empty).
double vsfCVExMergeAndCurve(VsfModel* model);
