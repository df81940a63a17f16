// The leverages of the PRESS pass on a nearly dependent design: the swept block, worn by the
// sweeps that formed it, gives each row's leverage with an error that grows with the
// design's condition, and a leverage near 1 then turns into a leave-one-out residual of any
// size. Such a design's leverages come instead from a triangular factor of its columns formed
// from the weighted rows by plane rotations: its error grows with the condition of the
// columns, not with that of their cross products, which a factor of X'X would carry.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;
struct VsfLeverageFactor;

// The largest variance inflation of the model's swept columns above which the PRESS pass
// takes its leverages from the factor: below it the swept block keeps them to well within
// 1e-10.
constexpr double kVsfLeverageInflation = 1e4;

// Adds the row z (k places, z[first..] its only nonzero values) to the factor L = R' (packed
// by rows of L, R upper triangular with R'R the rows' cross products) by a plane rotation of
// each of its places into R's row of that place. z is spent.
void vsfRotateIn(double* lower, int64_t k, double* z, int64_t first);

// Forms the factor of the model's swept columns (those the PRESS pass gathers) by one pass
// over the training rows when their largest variance inflation, or the largest the swept
// matrix has held, exceeds kVsfLeverageInflation, and sets `formed`. On the structured road
// with its many-level effect in the model the factor is of the small columns' block T, from
// the rows reduced to their part outside the effect's span (vsfStructuredReduce). Not formed,
// and the swept block stays the leverages' source, on a sound design, on split levels stored
// sparse, and where a column of the factor has no pivot. Returns the pass's failure, Ok otherwise.
[[nodiscard]] VsfStatus vsfLeverageFactorFor(VsfModel* model, VsfLeverageFactor& factor,
                                             bool& formed);

// The variances of a nearly dependent step's estimates (model->betaVariance; on shifted pages
// the intercept's is carried to the data's scale from the swept block): where the swept columns'
// largest variance inflation passes kVsfRefineInflation, whose swept block holds the variances no
// better than the estimates it has the step refined for, the diagonal of A^-1 from the factor of
// the rows (vsfLeverageFactorFor) where one is formed; not with the many-level effect in. Returns
// the pass's failure, Ok otherwise.
[[nodiscard]] VsfStatus vsfFactorVariances(VsfModel* model);
